// A stand-in for the printer driver's core UI module and the common property
// sheet UI behind it: it loads QZ410UI.DLL as the driver does, keeps the
// device mode (public part and the plug-in's private block), and builds the
// document and device property sheets with the host's own pages, the
// plug-in's option items and the pages the plug-in adds through
// pfnComPropSheet. Used by qz410host.exe for a person and by the Windows
// tests, which drive the plug-in's pages inside this very sheet.
#pragma once

#include "plugin/HostContract.h"

#include <string>
#include <utility>
#include <vector>

namespace qz410host {

struct ComPropSheetCall {
    WORD function;
    LPARAM lParam1;
    LPARAM lParam2;
    LONG_PTR answer;
};

class HostSession {
public:
    HostSession();
    ~HostSession();  // closes any sheet, releases the plug-in, frees the DLL
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // LoadLibrary, DllGetClassObject, CreateInstance, PublishDriverInterface
    // (the host's own IPrintOemDriverUI), DevMode OEMDM_SIZE and OEMDM_DEFAULT;
    // when devModeFile names a file with a stored device mode (public +
    // private), it is handed back through OEMDM_MERGE. false (with a printed
    // reason) on failure.
    bool Load(const wchar_t* dllPath, const wchar_t* devModeFile = nullptr, const wchar_t* printerName = L"QZ410");
    HMODULE Module() const { return module; }
    IPrintOemUI* Plugin() const { return plugin; }
    DEVMODEW* PublicDevMode();
    BYTE* PrivateDevMode();  // OEMUIPSPARAM.pOEMDM
    DWORD PrivateDevModeSize() const { return privateSize; }
    HANDLE OemHeap() const { return oemHeap; }
    bool SaveDevMode();  // public + private to devModeFile (no-op without one)

    enum class Sheet { Document, Device };
    // Builds the sheet as the core UI module does and creates it modeless
    // (PSH_MODELESS); returns the sheet window or null. The host's own page
    // is tab 0; for the document sheet the host's option-items page is tab 1;
    // the plug-in's pages follow. startPage picks the tab shown first.
    HWND OpenModeless(Sheet sheet, int startPage = 0);
    // For a person: the same sheet, modal. Returns PropertySheetW's result.
    INT_PTR RunModal(Sheet sheet);
    HWND SheetWindow() const { return sheetWindow; }
    // Of the open (or last opened) sheet: 2 for the document sheet, 1 for
    // the device sheet.
    int FirstPluginPageIndex() const { return hostPageCount; }
    // Makes tab `index` current (PropSheet_SetCurSel) and returns its page
    // window.
    HWND ShowPage(int index);
    // Dispatches every pending message of this thread. When the sheet has
    // ended (OK/Cancel/close), destroys it, finishes as the host does
    // (PROPSHEETUI_REASON_DESTROY to the plug-in; keeps and saves the device
    // mode when it was applied) and returns true. Also true when no sheet is
    // open.
    bool Pump();
    // Pumps for about `milliseconds`, waking for every message; true when the
    // sheet has ended meanwhile.
    bool PumpFor(DWORD milliseconds);
    // Presses OK (PSBTN_OK), Apply (PSBTN_APPLYNOW) or Cancel (PSBTN_CANCEL),
    // then pumps; for OK/Cancel until the sheet has ended.
    void Press(int psbtn);

    // The option items of the open (or last) sheet, as the plug-in filled
    // them: count and fill request of CommonUIProp.
    OPTITEM* OptionItems() const { return optionItems; }
    DWORD OptionItemCount() const { return optionItemCount; }
    const OEMCUIPPARAM& OptionParam() const { return cuipParam; }
    // Every CPSUICBPARAM the host handed to the plug-in's option callback,
    // with its answer.
    std::vector<std::pair<CPSUICBPARAM, LONG>> optionCallbacks;

    std::vector<ComPropSheetCall> calls;                 // every pfnComPropSheet call, in order
    std::vector<std::pair<HANDLE, LPARAM>> setResults;   // CPSFUNC_SET_RESULT: page handle, result
    OEMUIPSPARAM uiParam;                                // lParamInit of the plug-in's sheet calls

private:
    struct DriverUi final : public IUnknown {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
        ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
        volatile LONG refs = 1;
    };
    friend struct HostPages;
    friend struct OptionControls;

    static LONG_PTR CALLBACK ComPropSheet(HANDLE hComPropSheet, UINT function, LPARAM lParam1, LPARAM lParam2);
    LONG_PTR HandleComPropSheet(UINT function, LPARAM lParam1, LPARAM lParam2);
    HRESULT CallPluginSheets(DWORD reason, LPARAM lParam);
    bool ReadStoredDevMode(std::vector<BYTE>& stored) const;
    void MergeStoredDevMode();
    void AskOptionItems();
    // The members the sheet records (OEMUIPSPARAM) and the option records
    // (OEMCUIPPARAM) share: a fresh record naming this printer, module, heap
    // and the live device mode.
    template <typename Record>
    void FillHostRecord(Record& record) {
        record = Record{};
        record.cbSize = sizeof record;
        record.poemuiobj = &uiObject;
        record.pPrinterName = printer.data();
        record.hModule = module;
        record.hOEMHeap = oemHeap;
        record.pPublicDM = PublicDevMode();
        record.pOEMDM = PrivateDevMode();
    }
    bool BuildPages(Sheet sheet);
    INT_PTR CreateSheet(DWORD flags);
    void DropPages();
    void Finish();
    LONG CallOptionCallback(WORD reason, HWND page, OPTITEM* current, LONG oldSel);

    HMODULE module = nullptr;
    IPrintOemUI* plugin = nullptr;
    DriverUi driverUi;
    HANDLE oemHeap = nullptr;
    OEMUIOBJ uiObject{};
    std::wstring printer;
    std::wstring devModePath;
    std::vector<BYTE> devMode;  // DEVMODEW followed by the private block
    DWORD privateSize = 0;

    // The sheet being built or shown.
    Sheet sheetKind = Sheet::Document;
    PROPSHEETUI_INFO sheetInfo{};
    bool pluginSheetActive = false;  // the plug-in took part (INIT succeeded)
    bool building = false;
    bool applied = false;
    int hostPageCount = 0;
    std::vector<HPROPSHEETPAGE> pages;          // host pages, then the plug-in's
    std::vector<HPROPSHEETPAGE> pluginPages;    // the plug-in's, in order
    std::vector<std::vector<WORD>> templates;   // the host pages' dialog templates
    HWND sheetWindow = nullptr;

    OEMCUIPPARAM cuipParam{};
    OPTITEM* optionItems = nullptr;
    DWORD optionItemCount = 0;
};

// Client area of a window as it is on screen (BitBlt from the window's DC;
// PrintWindow is blank under Wine 8), top-down 24-bit BGR rows of 3*width
// bytes (no padding).
std::vector<unsigned char> CaptureClient(HWND window, int* width, int* height);
// The same written as a PNG file (own small encoder: stored deflate blocks).
bool SaveWindowPng(HWND window, const wchar_t* path);
// The screen's pixels in `area` (screen coordinates) as a PNG file: what
// lies above a window too, such as an open drop-down list.
bool SaveScreenPng(const RECT& area, const wchar_t* path);
// A PNG file's bytes for pixels laid out as CaptureClient gives them.
std::vector<unsigned char> EncodePng(const std::vector<unsigned char>& bgr, int width, int height);

}  // namespace qz410host
