// qz410host --install-printer NAME and --initialize NAME: a printer of the
// machine's spooler for the plug-in's printer initialisation, and the
// initialisation itself as the spooler asks for it, with the stored default
// device mode printed before and after.
#include "tools/qz410host/PrinterSetup.h"

#include "tools/qz410host/HostSession.h"

#include <winspool.h>

#include <cstdio>
#include <string>
#include <vector>

namespace qz410host {

namespace {

constexpr wchar_t kDriverName[] = L"QZ410 Test Driver";
constexpr wchar_t kPpdName[] = L"QZ410TEST.PPD";

// A PostScript printer description of our own for Wine's PostScript driver:
// a dozen paper sizes, each with its dimensions (the driver drops a size
// without them); the list's second entry, A5, is the one an initialised
// printer starts on.
constexpr char kPpd[] =
    "*PPD-Adobe: \"4.3\"\n"
    "*FormatVersion: \"4.3\"\n"
    "*FileVersion: \"1.0\"\n"
    "*LanguageVersion: English\n"
    "*LanguageEncoding: ISOLatin1\n"
    "*PCFileName: \"QZ410TEST.PPD\"\n"
    "*Manufacturer: \"Brantwell\"\n"
    "*Product: \"(Ardix QZ410)\"\n"
    "*ModelName: \"Ardix QZ410\"\n"
    "*ShortNickName: \"Ardix QZ410\"\n"
    "*NickName: \"Ardix QZ410\"\n"
    "*PSVersion: \"(3010.000) 0\"\n"
    "*LanguageLevel: \"3\"\n"
    "*ColorDevice: True\n"
    "*DefaultColorSpace: RGB\n"
    "*FileSystem: False\n"
    "*Throughput: \"10\"\n"
    "*TTRasterizer: Type42\n"
    "*OpenUI *PageSize/Media Size: PickOne\n"
    "*OrderDependency: 10 AnySetup *PageSize\n"
    "*DefaultPageSize: A4\n"
    "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
    "*PageSize A5/A5: \"<</PageSize[420 595]>>setpagedevice\"\n"
    "*PageSize Letter/Letter: \"<</PageSize[612 792]>>setpagedevice\"\n"
    "*PageSize Legal/Legal: \"<</PageSize[612 1008]>>setpagedevice\"\n"
    "*PageSize A3/A3: \"<</PageSize[842 1191]>>setpagedevice\"\n"
    "*PageSize B5/B5: \"<</PageSize[516 729]>>setpagedevice\"\n"
    "*PageSize Executive/Executive: \"<</PageSize[522 756]>>setpagedevice\"\n"
    "*PageSize Tabloid/Tabloid: \"<</PageSize[792 1224]>>setpagedevice\"\n"
    "*PageSize Env10/Envelope #10: \"<</PageSize[297 684]>>setpagedevice\"\n"
    "*PageSize EnvDL/Envelope DL: \"<</PageSize[312 624]>>setpagedevice\"\n"
    "*PageSize EnvC5/Envelope C5: \"<</PageSize[459 649]>>setpagedevice\"\n"
    "*PageSize Statement/Statement: \"<</PageSize[396 612]>>setpagedevice\"\n"
    "*CloseUI: *PageSize\n"
    "*DefaultImageableArea: A4\n"
    "*ImageableArea A4/A4: \"12 12 583 830\"\n"
    "*ImageableArea A5/A5: \"12 12 408 583\"\n"
    "*ImageableArea Letter/Letter: \"12 12 600 780\"\n"
    "*ImageableArea Legal/Legal: \"12 12 600 996\"\n"
    "*ImageableArea A3/A3: \"12 12 830 1179\"\n"
    "*ImageableArea B5/B5: \"12 12 504 717\"\n"
    "*ImageableArea Executive/Executive: \"12 12 510 744\"\n"
    "*ImageableArea Tabloid/Tabloid: \"12 12 780 1212\"\n"
    "*ImageableArea Env10/Envelope #10: \"12 12 285 672\"\n"
    "*ImageableArea EnvDL/Envelope DL: \"12 12 300 612\"\n"
    "*ImageableArea EnvC5/Envelope C5: \"12 12 447 637\"\n"
    "*ImageableArea Statement/Statement: \"12 12 384 600\"\n"
    "*DefaultPaperDimension: A4\n"
    "*PaperDimension A4/A4: \"595 842\"\n"
    "*PaperDimension A5/A5: \"420 595\"\n"
    "*PaperDimension Letter/Letter: \"612 792\"\n"
    "*PaperDimension Legal/Legal: \"612 1008\"\n"
    "*PaperDimension A3/A3: \"842 1191\"\n"
    "*PaperDimension B5/B5: \"516 729\"\n"
    "*PaperDimension Executive/Executive: \"522 756\"\n"
    "*PaperDimension Tabloid/Tabloid: \"792 1224\"\n"
    "*PaperDimension Env10/Envelope #10: \"297 684\"\n"
    "*PaperDimension EnvDL/Envelope DL: \"312 624\"\n"
    "*PaperDimension EnvC5/Envelope C5: \"459 649\"\n"
    "*PaperDimension Statement/Statement: \"396 612\"\n"
    "*DefaultFont: Courier\n"
    "*Font Courier: Standard \"(002.004S)\" Standard ROM\n";

bool WriteFileBytes(const std::wstring& path, const void* data, DWORD size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, data, size, &written, nullptr) && written == size;
    return CloseHandle(file) && ok;
}

// The stored default device mode of the printer (GetPrinterW level 2, not
// DocumentPropertiesW, which answers from the driver's own copy).
void PrintDefaultDevMode(const wchar_t* printer, const char* when) {
    HANDLE handle = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(printer), &handle, nullptr)) {
        std::printf("%s: cannot open printer %ls (error %lu)\n", when, printer, GetLastError());
        return;
    }
    DWORD needed = 0;
    GetPrinterW(handle, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (needed == 0 || !GetPrinterW(handle, 2, buffer.data(), needed, &needed)) {
        std::printf("%s: cannot read printer %ls (error %lu)\n", when, printer, GetLastError());
    } else {
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
        const DEVMODEW* dm = info->pDevMode;
        if (dm == nullptr) {
            std::printf("%s: no stored default device mode\n", when);
        } else {
            std::printf("%s: orientation %d, paper %d, colour method %lu (fields 0x%08lX)\n", when, dm->dmOrientation,
                        dm->dmPaperSize, dm->dmICMMethod, dm->dmFields);
        }
    }
    ClosePrinter(handle);
}

}  // namespace

int RunInstallPrinter(const wchar_t* printer) {
    wchar_t directory[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(directory), sizeof directory,
                                    &needed)) {
        std::printf("no printer driver directory (error %lu)\n", GetLastError());
        return 1;
    }
    const std::wstring versionDirectory = std::wstring(directory) + L"\\3";
    CreateDirectoryW(versionDirectory.c_str(), nullptr);
    if (!WriteFileBytes(versionDirectory + L"\\" + kPpdName, kPpd, sizeof kPpd - 1)) {
        std::printf("cannot write the printer description into %ls\n", versionDirectory.c_str());
        return 1;
    }
    DRIVER_INFO_3W driver{};
    driver.cVersion = 3;
    driver.pName = const_cast<wchar_t*>(kDriverName);
    driver.pDriverPath = const_cast<wchar_t*>(L"wineps.drv");
    driver.pDataFile = const_cast<wchar_t*>(kPpdName);
    driver.pConfigFile = const_cast<wchar_t*>(L"wineps.drv");
    if (!AddPrinterDriverW(nullptr, 3, reinterpret_cast<BYTE*>(&driver)) &&
        GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
        std::printf("cannot register the printer driver (error %lu)\n", GetLastError());
        return 1;
    }
    // A printer that is there already is made anew, so that its default
    // device mode is the driver's own again.
    HANDLE handle = nullptr;
    PRINTER_DEFAULTSW access{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterW(const_cast<wchar_t*>(printer), &handle, &access)) {
        DeletePrinter(handle);
        ClosePrinter(handle);
    }
    PRINTER_INFO_2W info{};
    info.pPrinterName = const_cast<wchar_t*>(printer);
    info.pPortName = const_cast<wchar_t*>(L"FILE:");
    info.pDriverName = const_cast<wchar_t*>(kDriverName);
    info.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
    info.pDatatype = const_cast<wchar_t*>(L"RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    handle = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (handle == nullptr) {
        std::printf("cannot add printer %ls (error %lu)\n", printer, GetLastError());
        return 1;
    }
    ClosePrinter(handle);
    std::printf("printer %ls installed (driver \"%ls\", port FILE:)\n", printer, kDriverName);
    return 0;
}

int RunInitialize(const wchar_t* dllPath, const wchar_t* printer) {
    HostSession session;
    if (!session.Load(dllPath)) return 1;
    PrintDefaultDevMode(printer, "before");
    const HRESULT hr = session.Plugin()->PrinterEvent(const_cast<wchar_t*>(printer), PRINTER_EVENT_INITIALIZE, 0, 0);
    std::printf("PrinterEvent(PRINTER_EVENT_INITIALIZE): 0x%08lX\n", static_cast<unsigned long>(hr));
    PrintDefaultDevMode(printer, "after");
    return 0;
}

}  // namespace qz410host
