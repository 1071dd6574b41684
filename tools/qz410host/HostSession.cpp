#include "tools/qz410host/HostSession.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/qz410host/HostPages.h"

namespace qz410host {

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);

// The sessions alive in this process: pfnComPropSheet answers only for a
// handle that one of them gave out.
std::vector<HostSession*> liveSessions;

// A plug-in that asks for more than a device mode can carry is refused.
constexpr DWORD kMaxPrivateSize = 0xFFFF - sizeof(DEVMODEW);
// More option items than any sheet could show is taken for a broken answer.
constexpr DWORD kMaxOptionItems = 256;

}  // namespace

HRESULT STDMETHODCALLTYPE HostSession::DriverUi::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPrintOemDriverUI)) {
        *ppv = this;
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HostSession::HostSession() : uiParam{} { liveSessions.push_back(this); }

HostSession::~HostSession() {
    if (sheetWindow != nullptr) {
        DestroyWindow(sheetWindow);
        sheetWindow = nullptr;
        Finish();
    }
    if (plugin != nullptr) plugin->Release();
    if (oemHeap != nullptr) HeapDestroy(oemHeap);
    if (module != nullptr) FreeLibrary(module);
    liveSessions.erase(std::find(liveSessions.begin(), liveSessions.end(), this));
}

DEVMODEW* HostSession::PublicDevMode() {
    return devMode.empty() ? nullptr : reinterpret_cast<DEVMODEW*>(devMode.data());
}

BYTE* HostSession::PrivateDevMode() { return devMode.empty() ? nullptr : devMode.data() + sizeof(DEVMODEW); }

bool HostSession::Load(const wchar_t* dllPath, const wchar_t* devModeFile, const wchar_t* printerName) {
    if (module != nullptr) {
        std::fprintf(stderr, "qz410host: a plug-in is already loaded\n");
        return false;
    }
    module = LoadLibraryW(dllPath);
    if (module == nullptr) {
        std::fprintf(stderr, "qz410host: cannot load %ls (error %lu)\n", dllPath, GetLastError());
        return false;
    }
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (getClassObject == nullptr) {
        std::fprintf(stderr, "qz410host: %ls has no DllGetClassObject\n", dllPath);
        return false;
    }
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(CLSID_QZ410UI, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr) || factory == nullptr) {
        std::fprintf(stderr, "qz410host: DllGetClassObject failed (0x%08lX)\n", static_cast<unsigned long>(hr));
        return false;
    }
    hr = factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&plugin));
    factory->Release();
    if (FAILED(hr) || plugin == nullptr) {
        plugin = nullptr;
        std::fprintf(stderr, "qz410host: CreateInstance failed (0x%08lX)\n", static_cast<unsigned long>(hr));
        return false;
    }
    hr = plugin->PublishDriverInterface(&driverUi);
    if (FAILED(hr)) {
        std::fprintf(stderr, "qz410host: PublishDriverInterface failed (0x%08lX)\n", static_cast<unsigned long>(hr));
        return false;
    }
    oemHeap = HeapCreate(0, 0, 0);
    if (oemHeap == nullptr) {
        std::fprintf(stderr, "qz410host: HeapCreate failed (error %lu)\n", GetLastError());
        return false;
    }

    OEMDMPARAM param{};
    param.cbSize = sizeof param;
    param.hModule = module;
    hr = plugin->DevMode(OEMDM_SIZE, &param);
    if (FAILED(hr) || param.cbBufSize < sizeof(OEM_DMEXTRAHEADER) || param.cbBufSize > kMaxPrivateSize) {
        std::fprintf(stderr, "qz410host: DevMode(OEMDM_SIZE) answered 0x%08lX, %lu bytes\n",
                     static_cast<unsigned long>(hr), param.cbBufSize);
        return false;
    }
    privateSize = param.cbBufSize;

    // The driver's own defaults; the plug-in then writes its block and may
    // change the public part.
    devMode.assign(sizeof(DEVMODEW) + privateSize, 0);
    DEVMODEW* dm = PublicDevMode();
    lstrcpynW(dm->dmDeviceName, printerName, CCHDEVICENAME);
    dm->dmSpecVersion = DM_SPECVERSION;
    dm->dmDriverVersion = 0x0100;
    dm->dmSize = sizeof(DEVMODEW);
    dm->dmDriverExtra = static_cast<WORD>(privateSize);
    dm->dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_PRINTQUALITY | DM_COLOR;
    dm->dmOrientation = DMORIENT_PORTRAIT;
    dm->dmPaperSize = DMPAPER_A4;
    dm->dmCopies = 1;
    dm->dmPrintQuality = 600;
    dm->dmColor = DMCOLOR_COLOR;
    param.pPublicDMIn = dm;
    param.pPublicDMOut = dm;
    param.pOEMDMOut = PrivateDevMode();
    hr = plugin->DevMode(OEMDM_DEFAULT, &param);
    if (FAILED(hr)) {
        std::fprintf(stderr, "qz410host: DevMode(OEMDM_DEFAULT) failed (0x%08lX)\n", static_cast<unsigned long>(hr));
        return false;
    }

    printer = printerName;
    if (devModeFile != nullptr) {
        devModePath = devModeFile;
        MergeStoredDevMode();
    }

    uiObject.cbSize = sizeof uiObject;
    FillHostRecord(uiParam);

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    return true;
}

// A stored device mode is the record as Windows keeps it: the public part
// (dmSize bytes) followed by the driver's private bytes (dmDriverExtra).
bool HostSession::ReadStoredDevMode(std::vector<BYTE>& stored) const {
    HANDLE file = CreateFileW(devModePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const DWORD size = GetFileSize(file, nullptr);
    DWORD read = 0;
    bool ok = size != INVALID_FILE_SIZE && size <= 0x20000;
    if (ok) {
        stored.assign(size, 0);
        ok = ReadFile(file, stored.data(), size, &read, nullptr) && read == size;
    }
    CloseHandle(file);
    constexpr DWORD kMinPublic = offsetof(DEVMODEW, dmFields);
    if (!ok || size < kMinPublic) return false;
    WORD publicSize, extra;
    std::memcpy(&publicSize, stored.data() + offsetof(DEVMODEW, dmSize), sizeof publicSize);
    std::memcpy(&extra, stored.data() + offsetof(DEVMODEW, dmDriverExtra), sizeof extra);
    if (publicSize < kMinPublic || DWORD{publicSize} + extra != size) {
        std::fprintf(stderr, "qz410host: %ls holds no device mode; the defaults stay\n", devModePath.c_str());
        return false;
    }
    return true;
}

void HostSession::MergeStoredDevMode() {
    std::vector<BYTE> stored;
    if (!ReadStoredDevMode(stored)) return;
    WORD storedSize, storedExtra;
    std::memcpy(&storedSize, stored.data() + offsetof(DEVMODEW, dmSize), sizeof storedSize);
    std::memcpy(&storedExtra, stored.data() + offsetof(DEVMODEW, dmDriverExtra), sizeof storedExtra);

    // The public choices come back over the defaults; the record's own shape
    // and the printer's name stay the host's.
    DEVMODEW* dm = PublicDevMode();
    DEVMODEW merged = *dm;
    std::memcpy(&merged, stored.data(), std::min<size_t>(storedSize, sizeof merged));
    std::memcpy(merged.dmDeviceName, dm->dmDeviceName, sizeof merged.dmDeviceName);
    merged.dmSpecVersion = dm->dmSpecVersion;
    merged.dmSize = dm->dmSize;
    merged.dmDriverExtra = dm->dmDriverExtra;
    *dm = merged;

    if (storedExtra < sizeof(OEM_DMEXTRAHEADER)) return;
    // The plug-in reads its input block by the size in the block's own
    // header, so the stored bytes go in a buffer at least as large as the
    // plug-in's own block.
    std::vector<BYTE> in(std::max<size_t>(storedExtra, privateSize), 0);
    std::memcpy(in.data(), stored.data() + storedSize, storedExtra);
    OEMDMPARAM param{};
    param.cbSize = sizeof param;
    param.hModule = module;
    param.pPublicDMIn = dm;
    param.pPublicDMOut = dm;
    param.pOEMDMIn = in.data();
    param.pOEMDMOut = PrivateDevMode();
    param.cbBufSize = privateSize;
    const HRESULT hr = plugin->DevMode(OEMDM_MERGE, &param);
    if (FAILED(hr)) {
        std::fprintf(stderr, "qz410host: DevMode(OEMDM_MERGE) failed (0x%08lX); the defaults stay\n",
                     static_cast<unsigned long>(hr));
    }
}

bool HostSession::SaveDevMode() {
    if (devModePath.empty() || devMode.empty()) return true;
    // Written beside the old file and moved over it, so that a failed write
    // never costs the settings stored before.
    const std::wstring temp = devModePath + L".new";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "qz410host: cannot write %ls (error %lu)\n", temp.c_str(), GetLastError());
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file, devMode.data(), static_cast<DWORD>(devMode.size()), &written, nullptr) &&
                    written == devMode.size();
    const bool closed = CloseHandle(file);
    if (!ok || !closed || !MoveFileExW(temp.c_str(), devModePath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        std::fprintf(stderr, "qz410host: cannot keep the device mode in %ls (error %lu)\n", devModePath.c_str(),
                     GetLastError());
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

LONG_PTR CALLBACK HostSession::ComPropSheet(HANDLE hComPropSheet, UINT function, LPARAM lParam1, LPARAM lParam2) {
    for (HostSession* session : liveSessions) {
        if (static_cast<HANDLE>(session) == hComPropSheet) {
            const LONG_PTR answer = session->HandleComPropSheet(function, lParam1, lParam2);
            session->calls.push_back({static_cast<WORD>(function), lParam1, lParam2, answer});
            return answer;
        }
    }
    return 0;
}

LONG_PTR HostSession::HandleComPropSheet(UINT function, LPARAM lParam1, LPARAM lParam2) {
    switch (function) {
    case CPSFUNC_ADD_PROPSHEETPAGEW: {
        // The description lives on the caller's stack: the page is made from
        // a copy, as far as the caller's dwSize reaches.
        const auto* given = reinterpret_cast<const PROPSHEETPAGEW*>(lParam1);
        if (!building || given == nullptr || given->dwSize < PROPSHEETPAGEW_V1_SIZE) return 0;
        PROPSHEETPAGEW copy{};
        const DWORD size = std::min<DWORD>(given->dwSize, sizeof copy);
        std::memcpy(&copy, given, size);
        copy.dwSize = size;
        HPROPSHEETPAGE page = CreatePropertySheetPageW(&copy);
        if (page == nullptr) return 0;
        pluginPages.push_back(page);
        return reinterpret_cast<LONG_PTR>(page);
    }
    case CPSFUNC_GET_PAGECOUNT:
        // The pages under the caller's handle: the plug-in's own.
        return static_cast<LONG_PTR>(pluginPages.size());
    case CPSFUNC_SET_RESULT: {
        setResults.emplace_back(reinterpret_cast<HANDLE>(lParam1), lParam2);
        // The result goes on to the page's parent, the plug-in's sheet
        // function.
        if (pluginSheetActive) {
            SETRESULT_INFO result{};
            result.cbSize = sizeof result;
            result.hSetResult = reinterpret_cast<HANDLE>(lParam1);
            result.Result = lParam2;
            CallPluginSheets(PROPSHEETUI_REASON_SET_RESULT, reinterpret_cast<LPARAM>(&result));
        }
        return 1;
    }
    default:
        return 0;
    }
}

HRESULT HostSession::CallPluginSheets(DWORD reason, LPARAM lParam) {
    sheetInfo.Reason = reason;
    return sheetKind == Sheet::Document ? plugin->DocumentPropertySheets(&sheetInfo, lParam)
                                        : plugin->DevicePropertySheets(&sheetInfo, lParam);
}

// The option items of the sheet's tree: the count request, then the fill
// request into an array of that many items from the host's heap.
void HostSession::AskOptionItems() {
    optionItems = nullptr;
    optionItemCount = 0;
    FillHostRecord(cuipParam);
    const DWORD mode = sheetKind == Sheet::Document ? OEMCUIP_DOCPROP : OEMCUIP_PRNPROP;
    if (FAILED(plugin->CommonUIProp(mode, &cuipParam))) return;
    const DWORD count = cuipParam.cOEMOptItems;
    if (count == 0 || count > kMaxOptionItems) {
        if (count != 0) std::fprintf(stderr, "qz410host: the plug-in asks for %lu option items; none shown\n", count);
        cuipParam.cOEMOptItems = 0;
        return;
    }
    auto* items = static_cast<OPTITEM*>(HeapAlloc(oemHeap, HEAP_ZERO_MEMORY, count * sizeof(OPTITEM)));
    if (items == nullptr) return;
    cuipParam.pOEMOptItems = items;
    cuipParam.cOEMOptItems = count;
    if (FAILED(plugin->CommonUIProp(mode, &cuipParam))) {
        cuipParam.OEMCUIPCallback = nullptr;
        return;
    }
    optionItems = items;
    optionItemCount = count;
}

LONG HostSession::CallOptionCallback(WORD reason, HWND page, OPTITEM* current, LONG oldSel) {
    if (cuipParam.OEMCUIPCallback == nullptr || optionItems == nullptr) return CPSUICB_ACTION_NONE;
    CPSUICBPARAM param{};
    param.cbSize = sizeof param;
    param.Reason = reason;
    param.hDlg = page;
    param.pOptItem = optionItems;
    param.cOptItem = static_cast<WORD>(optionItemCount);
    param.pCurItem = current;
    param.OldSel = oldSel;
    param.UserData = current != nullptr ? current->UserData : 0;
    const LONG answer = cuipParam.OEMCUIPCallback(&param, &cuipParam);
    optionCallbacks.emplace_back(param, answer);
    return answer;
}

bool HostSession::BuildPages(Sheet sheet) {
    sheetKind = sheet;
    applied = false;
    pages.clear();
    pluginPages.clear();
    templates.clear();

    AskOptionItems();
    if (sheet == Sheet::Document) {
        pages.push_back(HostPages::Create(*this, HostPages::Kind::Layout));
        pages.push_back(HostPages::Create(*this, HostPages::Kind::Options));
    } else {
        pages.push_back(HostPages::Create(*this, HostPages::Kind::General));
    }
    hostPageCount = static_cast<int>(pages.size());
    if (std::find(pages.begin(), pages.end(), nullptr) != pages.end()) {
        std::fprintf(stderr, "qz410host: cannot make the host's pages (error %lu)\n", GetLastError());
        DropPages();
        return false;
    }

    sheetInfo = PROPSHEETUI_INFO{};
    sheetInfo.cbSize = sizeof sheetInfo;
    sheetInfo.Version = PROPSHEETUI_INFO_VERSION;
    sheetInfo.hComPropSheet = static_cast<HANDLE>(this);
    sheetInfo.pfnComPropSheet = ComPropSheet;
    sheetInfo.lParamInit = reinterpret_cast<LPARAM>(&uiParam);
    building = true;
    const HRESULT hr = CallPluginSheets(PROPSHEETUI_REASON_INIT, sheetInfo.lParamInit);
    building = false;
    if (FAILED(hr)) {
        // A plug-in that refuses its sheet takes no part in it.
        for (HPROPSHEETPAGE page : pluginPages) DestroyPropertySheetPage(page);
        pluginPages.clear();
        pluginSheetActive = false;
    } else {
        pluginSheetActive = true;
        PROPSHEETUI_INFO_HEADER header{};
        header.cbSize = sizeof header;
        header.hInst = GetModuleHandleW(nullptr);
        header.IconID = IDI_CPSUI_PRINTER;
        CallPluginSheets(PROPSHEETUI_REASON_GET_INFO_HEADER, reinterpret_cast<LPARAM>(&header));
    }
    pages.insert(pages.end(), pluginPages.begin(), pluginPages.end());
    return true;
}

void HostSession::DropPages() {
    for (HPROPSHEETPAGE page : pages) {
        if (page != nullptr) DestroyPropertySheetPage(page);
    }
    pages.clear();
    pluginPages.clear();
}

void HostSession::Finish() {
    if (pluginSheetActive) {
        pluginSheetActive = false;
        CallPluginSheets(PROPSHEETUI_REASON_DESTROY, applied ? 1 : 0);
    }
    if (applied) SaveDevMode();
    pages.clear();
    pluginPages.clear();
    templates.clear();
}

// The sheet over the pages built, on its first tab, modal or (PSH_MODELESS)
// modeless.
INT_PTR HostSession::CreateSheet(DWORD flags) {
    const std::wstring caption =
        printer + (sheetKind == Sheet::Document ? L" Printing Preferences" : L" Properties");
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_NOCONTEXTHELP | flags;
    header.hInstance = GetModuleHandleW(nullptr);
    header.pszCaption = caption.c_str();
    header.nPages = static_cast<UINT>(pages.size());
    header.phpage = pages.data();
    return PropertySheetW(&header);
}

HWND HostSession::OpenModeless(Sheet sheet, int startPage) {
    if (plugin == nullptr || sheetWindow != nullptr) return nullptr;
    if (!BuildPages(sheet)) return nullptr;
    const INT_PTR result = CreateSheet(PSH_MODELESS);
    if (result == 0 || result == -1) {
        std::fprintf(stderr, "qz410host: PropertySheet failed (error %lu)\n", GetLastError());
        Finish();
        return nullptr;
    }
    sheetWindow = reinterpret_cast<HWND>(result);
    // The host's pages only hear of an apply once their windows exist (Wine
    // ignores PSP_PREMATURE), so the sheet passes through them, as a person
    // clicking through the tabs would, before it shows the start page.
    for (int index = 1; index < hostPageCount; ++index) PropSheet_SetCurSel(sheetWindow, nullptr, index);
    PropSheet_SetCurSel(sheetWindow, nullptr, startPage);
    Pump();
    return sheetWindow;
}

INT_PTR HostSession::RunModal(Sheet sheet) {
    if (plugin == nullptr || sheetWindow != nullptr) return -1;
    if (!BuildPages(sheet)) return -1;
    const INT_PTR result = CreateSheet(0);
    Finish();
    return result;
}

HWND HostSession::ShowPage(int index) {
    if (sheetWindow == nullptr) return nullptr;
    PropSheet_SetCurSel(sheetWindow, nullptr, index);
    Pump();
    return sheetWindow != nullptr ? PropSheet_GetCurrentPageHwnd(sheetWindow) : nullptr;
}

bool HostSession::Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (sheetWindow != nullptr && PropSheet_IsDialogMessage(sheetWindow, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (sheetWindow == nullptr) return true;
    // A modeless sheet has no current page once OK or Cancel ended it.
    if (PropSheet_GetCurrentPageHwnd(sheetWindow) != nullptr) return false;
    DestroyWindow(sheetWindow);
    sheetWindow = nullptr;
    Finish();
    return true;
}

bool HostSession::PumpFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (Pump()) return true;
        const DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - spent, QS_ALLINPUT);
    }
}

void HostSession::Press(int psbtn) {
    if (sheetWindow == nullptr) return;
    PropSheet_PressButton(sheetWindow, psbtn);
    if (psbtn == PSBTN_OK || psbtn == PSBTN_CANCEL) {
        // A page may refuse to be left; the sheet then stays open.
        PumpFor(5000);
    } else {
        Pump();
    }
}

}  // namespace qz410host
