#include "plugin/PrinterUiPlugin.h"

#include <cstring>

#include "colorpage/ColorPage.h"
#include "integration/PrinterInitialization.h"
#include "integration/SmearControl.h"
#include "plugin/Module.h"
#include "settings/DevModeHandler.h"
#include "settings/PrivateDevMode.h"
#include "versionpage/VersionPage.h"

namespace qz410 {

void* PrinterUiPlugin::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void PrinterUiPlugin::operator delete(void* memory) noexcept { HeapFree(GetProcessHeap(), 0, memory); }

PrinterUiPlugin::PrinterUiPlugin() noexcept : refCount(1), driverUi(nullptr) {
    InterlockedIncrement(&liveObjectCount);
}

PrinterUiPlugin::~PrinterUiPlugin() {
    if (driverUi != nullptr) {
        driverUi->Release();
        driverUi = nullptr;
    }
    InterlockedDecrement(&liveObjectCount);
}

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) return E_POINTER;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IPrintOemUI)) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    *ppv = static_cast<IPrintOemUI*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE PrinterUiPlugin::AddRef() noexcept {
    return static_cast<ULONG>(InterlockedIncrement(&refCount));
}

ULONG STDMETHODCALLTYPE PrinterUiPlugin::Release() noexcept {
    const LONG count = InterlockedDecrement(&refCount);
    if (count != 0) return static_cast<ULONG>(count);
    delete this;
    return 0;
}

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::GetInfo(DWORD dwMode, PVOID pBuffer, DWORD cbSize,
                                                   PDWORD pcbNeeded) noexcept {
    if (pcbNeeded == nullptr ||
        (dwMode != OEMGI_GETSIGNATURE && dwMode != OEMGI_GETVERSION && dwMode != OEMGI_GETPUBLISHERINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    *pcbNeeded = sizeof(DWORD);
    if (cbSize < sizeof(DWORD) || pBuffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return E_FAIL;
    }
    DWORD answer;
    switch (dwMode) {
    case OEMGI_GETSIGNATURE:
        answer = kPluginSignature;
        break;
    case OEMGI_GETVERSION:
        answer = kPluginVersion;
        break;
    default:
        *pcbNeeded = 0;
        SetLastError(ERROR_NOT_SUPPORTED);
        return E_FAIL;
    }
    // The host's buffer need not be aligned; only its first four bytes are ours.
    std::memcpy(pBuffer, &answer, sizeof answer);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::DevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) noexcept {
    return HandleDevMode(dwMode, pOemDMParam);
}

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::PublishDriverInterface(IUnknown* pIUnknown) noexcept {
    if (driverUi != nullptr) return S_OK;
    if (pIUnknown == nullptr) return E_POINTER;
    if (SUCCEEDED(pIUnknown->QueryInterface(IID_IPrintOemDriverUI, reinterpret_cast<void**>(&driverUi)))) {
        return S_OK;
    }
    // A failing QueryInterface may have left anything at the out pointer.
    driverUi = nullptr;
    return E_FAIL;
}

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::CommonUIProp(DWORD dwMode, POEMCUIPPARAM pOemCUIPParam) noexcept {
    return HandleCommonUIProp(dwMode, pOemCUIPParam);
}

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::DocumentPropertySheets(PPROPSHEETUI_INFO pPSUIInfo,
                                                                  LPARAM lParam) noexcept {
    return HandleDocumentSheets(pPSUIInfo, lParam);
}

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::DevicePropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) noexcept {
    return HandleDeviceSheets(pPSUIInfo, lParam);
}

// The event's flags and parameter carry nothing the initialisation needs.
HRESULT STDMETHODCALLTYPE PrinterUiPlugin::PrinterEvent(PWSTR pPrinterName, INT iDriverEvent, DWORD,
                                                        LPARAM) noexcept {
    return HandlePrinterEvent(pPrinterName, iDriverEvent);
}

// The profile is the printer's, whatever the device mode or handle.
HRESULT STDMETHODCALLTYPE PrinterUiPlugin::QueryColorProfile(HANDLE, POEMUIOBJ, PDEVMODEW, PVOID,
                                                             ULONG ulQueryMode, VOID* pvProfileData,
                                                             ULONG* pcbProfileData, FLONG* pflProfileData) noexcept {
    return HandleQueryColorProfile(ulQueryMode, pvProfileData, pcbProfileData, pflProfileData);
}

// The interface's optional services that this driver does not offer.

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::DevQueryPrintEx(POEMUIOBJ, PDEVQUERYPRINT_INFO, PDEVMODEW,
                                                           PVOID) noexcept {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::DeviceCapabilities(POEMUIOBJ, HANDLE, PWSTR, WORD, PVOID, PDEVMODEW,
                                                              PVOID, DWORD, DWORD*) noexcept {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::UpgradePrinter(DWORD, PBYTE) noexcept { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::DriverEvent(DWORD, DWORD, LPBYTE, LPARAM) noexcept { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::FontInstallerDlgProc(HWND, UINT, WPARAM, LPARAM) noexcept {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE PrinterUiPlugin::UpdateExternalFonts(HANDLE, HANDLE, PWSTR) noexcept { return E_NOTIMPL; }

}  // namespace qz410
