// qz410host: loads a QZ410UI.DLL the way the driver's core UI module does.
// Without a command it prints what the plug-in answers, a quick check of a
// build on a machine without the printer; --document and --device open the
// printing preferences or the printer's properties for a person, keeping
// the device mode in a file between runs.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "integration/PrinterName.h"
#include "plugin/HostContract.h"
#include "plugin/UniqueResource.h"
#include "settings/PrivateDevMode.h"
#include "tools/qz410host/HostSession.h"
#include "tools/qz410host/PrinterInstall.h"
#include "tools/qz410host/Screenshots.h"

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// The host's own driver UI interface; the plug-in only queries and releases it.
class HostDriverUi final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPrintOemDriverUI)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    volatile LONG refs = 1;
};

template <typename T>
T* Export(HMODULE module, const char* name) {
    return reinterpret_cast<T*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void PrintVersionResource(const wchar_t* path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        std::printf("version resource: none (error %lu)\n", GetLastError());
        return;
    }
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data())) return;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr) {
        std::printf("file version: %u.%u.%u.%u\n", unsigned{HIWORD(fixed->dwFileVersionMS)}, unsigned{LOWORD(fixed->dwFileVersionMS)},
                    unsigned{HIWORD(fixed->dwFileVersionLS)}, unsigned{LOWORD(fixed->dwFileVersionLS)});
    }
    for (const wchar_t* name : {L"ProductVersion", L"FileDescription", L"ProductName", L"CompanyName",
                                L"OriginalFilename"}) {
        wchar_t query[80];
        swprintf(query, 80, L"\\StringFileInfo\\040904B0\\%ls", name);
        wchar_t* value = nullptr;
        if (VerQueryValueW(data.data(), query, reinterpret_cast<void**>(&value), &length) && value != nullptr) {
            std::printf("%ls: %ls\n", name, value);
        }
    }
}

int Run(const wchar_t* path) {
    qz410::UniqueModule module(LoadLibraryW(path));
    if (!module) {
        std::printf("cannot load %ls (error %lu)\n", path, GetLastError());
        return 1;
    }
    wchar_t fullPath[MAX_PATH] = {};
    GetModuleFileNameW(module.Get(), fullPath, MAX_PATH);
    std::printf("loaded %ls\n", fullPath);
    PrintVersionResource(fullPath);

    auto* getClassObject = Export<std::remove_pointer_t<GetClassObjectFn>>(module.Get(), "DllGetClassObject");
    auto* canUnloadNow = Export<std::remove_pointer_t<CanUnloadNowFn>>(module.Get(), "DllCanUnloadNow");
    if (getClassObject == nullptr || canUnloadNow == nullptr) {
        std::printf("the plug-in's entry points are missing\n");
        return 1;
    }

    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(CLSID_QZ410UI, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    std::printf("DllGetClassObject: 0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 1;
    IPrintOemUI* plugin = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&plugin));
    factory->Release();
    std::printf("CreateInstance(IPrintOemUI): 0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 1;

    HostDriverUi driverUi;
    hr = plugin->PublishDriverInterface(&driverUi);
    std::printf("PublishDriverInterface: 0x%08lX (host interface now has %ld references)\n",
                static_cast<unsigned long>(hr), driverUi.refs);

    DWORD value = 0, needed = 0;
    hr = plugin->GetInfo(OEMGI_GETSIGNATURE, &value, sizeof value, &needed);
    std::printf("GetInfo(signature): 0x%08lX, %.4s (0x%08lX)\n", static_cast<unsigned long>(hr),
                reinterpret_cast<const char*>(&value), value);
    hr = plugin->GetInfo(OEMGI_GETVERSION, &value, sizeof value, &needed);
    std::printf("GetInfo(version): 0x%08lX, %lu\n", static_cast<unsigned long>(hr), value);

    OEMDMPARAM param{};
    param.cbSize = sizeof param;
    hr = plugin->DevMode(OEMDM_SIZE, &param);
    std::printf("DevMode(size): 0x%08lX, %lu bytes\n", static_cast<unsigned long>(hr), param.cbBufSize);

    // The host allocates the private block zero-filled, with the size asked.
    std::vector<unsigned char> block(param.cbBufSize < sizeof(qz410::PrivateDevMode) ? sizeof(qz410::PrivateDevMode)
                                                                                     : param.cbBufSize);
    DEVMODEW publicDm{};
    publicDm.dmSize = sizeof publicDm;
    wcscpy(publicDm.dmDeviceName, L"QZ410");
    publicDm.dmOrientation = DMORIENT_PORTRAIT;
    publicDm.dmPaperSize = DMPAPER_USER;
    param.pPublicDMIn = &publicDm;
    param.pOEMDMOut = block.data();
    hr = plugin->DevMode(OEMDM_DEFAULT, &param);
    qz410::PrivateDevMode dm;
    std::memcpy(&dm, block.data(), sizeof dm);
    const qz410::ColorSettings& s = dm.settings;
    std::printf("DevMode(defaults): 0x%08lX\n", static_cast<unsigned long>(hr));
    std::printf("  header: size %lu, signature %.4s, version %lu\n", static_cast<unsigned long>(dm.header.dwSize),
                reinterpret_cast<const char*>(&dm.header.dwSignature),
                static_cast<unsigned long>(dm.header.dwVersion));
    std::printf("  brightness %d contrast %d saturation %d cyan-red %d magenta-green %d yellow-blue %d\n",
                s.brightness, s.contrast, s.saturation, s.cyanRed, s.magentaGreen, s.yellowBlue);
    std::printf("  sharpness %u, unsharp mask %s: amount %d, radius %d, threshold %d\n", s.sharpness,
                s.unsharpEnabled == 1 ? "on" : "off", s.unsharpAmount, s.unsharpRadius, s.unsharpThreshold);
    std::printf("  smear control %u, preview picture %s\n", dm.smearControl,
                dm.previewImagePath[0] == 0 ? "built-in" : "chosen");
    std::printf("  public device mode: orientation %d, paper size %d\n", publicDm.dmOrientation,
                publicDm.dmPaperSize);

    std::printf("Release: %lu\n", plugin->Release());
    std::printf("host interface references after release: %ld\n", driverUi.refs);
    hr = canUnloadNow();
    std::printf("DllCanUnloadNow: %s\n", hr == S_OK ? "S_OK" : "S_FALSE");
    return hr == S_OK ? 0 : 1;
}

// The sheet for a person, modal; the device mode lives in `devModeFile`.
int RunSheet(qz410host::HostSession::Sheet sheet, const wchar_t* dllPath, const std::wstring& devModeFile) {
    qz410host::HostSession session;
    if (!session.Load(dllPath, devModeFile.c_str())) return 1;
    const INT_PTR result = session.RunModal(sheet);
    std::printf("the sheet closed with %ld; device mode in %ls\n", static_cast<long>(result), devModeFile.c_str());
    return result < 0 ? 1 : 0;
}

// The default device-mode file lies beside the program.
std::wstring DefaultDevModeFile() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file(path, length);
    const size_t slash = file.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : file.substr(0, slash + 1)) + L"qz410host.devmode";
}

int Usage(int status) {
    std::printf(
        "usage: qz410host [path\\to\\QZ410UI.DLL]\n"
        "         prints what the plug-in answers\n"
        "       qz410host --document|--device [--devmode FILE] [path\\to\\QZ410UI.DLL]\n"
        "         opens the printing preferences or the printer's properties; the device\n"
        "         mode is kept in FILE (default: qz410host.devmode beside the program)\n"
        "       qz410host --screenshots DIR [--picture FILE] [path\\to\\QZ410UI.DLL]\n"
        "         sets a few controls as a person would and saves the Color correction\n"
        "         page, the option page and the Version page as PNG files in DIR\n"
        "       qz410host --install-printer NAME\n"
        "         a printer of its own in this Wine prefix (Wine's PostScript driver)\n"
        "       qz410host --initialize PRINTER [path\\to\\QZ410UI.DLL]\n"
        "         the printer initialisation, with the stored defaults before and after\n");
    return status;
}

// --install-printer NAME: a printer of our own in this Wine prefix (Wine's
// PostScript driver with a PPD whose second paper is A5). A printer that is
// there already gets back the defaults of a new one: portrait, the first
// paper, no colour management.
int InstallPrinterCommand(const wchar_t* name) {
    bool added = false;
    std::wstring problem;
    if (!qz410host::InstallPrinter(name, &added, &problem)) {
        std::printf("cannot install printer %ls: %ls\n", name, problem.c_str());
        return 1;
    }
    const std::vector<WORD> papers = qz410host::PaperList(name);
    if (!added && !papers.empty() &&
        !qz410host::StoreDefaults(name, DMORIENT_PORTRAIT, static_cast<short>(papers[0]), DMICMMETHOD_NONE, &problem)) {
        std::printf("cannot put back the defaults of %ls: %ls\n", name, problem.c_str());
        return 1;
    }
    std::printf("printer %ls: %s\n", name, added ? "added" : "already there, defaults put back");
    std::printf("paper list (%u):", static_cast<unsigned>(papers.size()));
    for (WORD paper : papers) std::printf(" %u", paper);
    std::printf("\n");
    return 0;
}

void PrintStoredDefaults(const char* when, const wchar_t* printer) {
    qz410host::StoredDefaults stored;
    std::wstring problem;
    if (!qz410host::ReadStoredDefaults(printer, &stored, &problem)) {
        std::printf("%s: %ls\n", when, problem.c_str());
    } else if (!stored.present) {
        std::printf("%s: no stored default device mode\n", when);
    } else {
        std::printf("%s: orientation %d (%s), paper %d, colour method %lu, fields 0x%08lX\n", when, stored.orientation,
                    stored.orientation == DMORIENT_LANDSCAPE ? "landscape" : "portrait", stored.paperSize,
                    static_cast<unsigned long>(stored.icmMethod), static_cast<unsigned long>(stored.fields));
    }
}

// --initialize PRINTER [DLL]: the spooler's PRINTER_EVENT_INITIALIZE, as
// the driver's core UI hands it to the plug-in, with the printer's stored
// default device mode before and after.
int InitializeCommand(const wchar_t* printer, const wchar_t* path) {
    qz410::UniqueModule module(LoadLibraryW(path));
    auto* getClassObject =
        module ? Export<std::remove_pointer_t<GetClassObjectFn>>(module.Get(), "DllGetClassObject") : nullptr;
    IClassFactory* factory = nullptr;
    IPrintOemUI* plugin = nullptr;
    if (getClassObject == nullptr ||
        FAILED(getClassObject(CLSID_QZ410UI, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
        std::printf("cannot load the plug-in from %ls\n", path);
        return 1;
    }
    const HRESULT created = factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&plugin));
    factory->Release();
    if (FAILED(created)) return 1;
    // The stored record is read under the name the plug-in opens.
    char16_t buffer[qz410::kPrinterNameBufferUnits] = {};
    const std::wstring local(reinterpret_cast<const wchar_t*>(
        qz410::WorkingPrinterName(reinterpret_cast<const char16_t*>(printer), buffer)));
    if (local != printer) std::printf("printer %ls is opened as %ls\n", printer, local.c_str());
    PrintStoredDefaults("before", local.c_str());
    std::wstring name(printer);
    const HRESULT hr = plugin->PrinterEvent(name.data(), PRINTER_EVENT_INITIALIZE, 0, 0);
    std::printf("PrinterEvent(%ls, PRINTER_EVENT_INITIALIZE): 0x%08lX\n", printer, static_cast<unsigned long>(hr));
    PrintStoredDefaults("after", local.c_str());
    plugin->Release();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    enum class Command { Print, Document, Device, Screenshots } command = Command::Print;
    const wchar_t* dll = L"QZ410UI.DLL";
    std::wstring devModeFile, screenshotDir, picture;
    bool dllGiven = false;
    if (argc == 3 && wcscmp(argv[1], L"--install-printer") == 0) return InstallPrinterCommand(argv[2]);
    if ((argc == 3 || argc == 4) && wcscmp(argv[1], L"--initialize") == 0) {
        return InitializeCommand(argv[2], argc == 4 ? argv[3] : L"QZ410UI.DLL");
    }
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--help" || arg == L"/?" || arg == L"-h") return Usage(0);
        if (arg == L"--document") {
            command = Command::Document;
        } else if (arg == L"--device") {
            command = Command::Device;
        } else if (arg == L"--screenshots" && i + 1 < argc) {
            command = Command::Screenshots;
            screenshotDir = argv[++i];
        } else if (arg == L"--picture" && i + 1 < argc) {
            picture = argv[++i];
        } else if (arg == L"--devmode" && i + 1 < argc) {
            devModeFile = argv[++i];
        } else if (arg.rfind(L"--", 0) != 0 && !dllGiven) {
            dll = argv[i];
            dllGiven = true;
        } else {
            return Usage(2);
        }
    }
    if (devModeFile.empty()) devModeFile = DefaultDevModeFile();
    switch (command) {
    case Command::Document:
        return RunSheet(qz410host::HostSession::Sheet::Document, dll, devModeFile);
    case Command::Device:
        return RunSheet(qz410host::HostSession::Sheet::Device, dll, devModeFile);
    case Command::Screenshots:
        return qz410host::RunScreenshots(dll, screenshotDir, picture);
    default:
        return Run(dll);
    }
}
