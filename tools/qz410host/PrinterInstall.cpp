#include "tools/qz410host/PrinterInstall.h"

#include <winspool.h>

#include <cstdio>
#include <cwchar>

namespace qz410host {
namespace {

constexpr wchar_t kDriverName[] = L"QZ410 Test PostScript";
constexpr wchar_t kPpdName[] = L"qz410test.ppd";

struct Paper {
    const char* name;
    int width, height;  // points
};
// Names Wine's PostScript driver knows, so each has a standard code; the
// second (A5) is the one the initialisation must choose.
constexpr Paper kPapers[] = {
    {"Letter", 612, 792},    {"A5", 420, 595},       {"A4", 595, 842},         {"Legal", 612, 1008},
    {"Executive", 522, 756}, {"A3", 842, 1191},      {"B5", 516, 729},         {"Tabloid", 792, 1224},
    {"Statement", 396, 612}, {"Folio", 612, 936},    {"Quarto", 610, 780},     {"10x14", 720, 1008},
    {"Env10", 297, 684},     {"EnvDL", 312, 624},    {"EnvC5", 459, 649},      {"A6", 297, 420},
};

std::string PpdText() {
    std::string ppd =
        "*PPD-Adobe: \"4.3\"\n"
        "*FormatVersion: \"4.3\"\n"
        "*FileVersion: \"1.0\"\n"
        "*LanguageVersion: English\n"
        "*LanguageEncoding: ISOLatin1\n"
        "*PCFileName: \"QZ410T.PPD\"\n"
        "*Manufacturer: \"Ardix\"\n"
        "*Product: \"(QZ410 Test)\"\n"
        "*ModelName: \"QZ410 Test\"\n"
        "*ShortNickName: \"QZ410 Test\"\n"
        "*NickName: \"QZ410 Test\"\n"
        "*PSVersion: \"(3010.000) 0\"\n"
        "*LanguageLevel: \"3\"\n"
        "*ColorDevice: True\n"
        "*DefaultColorSpace: RGB\n"
        "*DefaultResolution: 300dpi\n"
        "*OpenUI *PageSize/Page Size: PickOne\n"
        "*OrderDependency: 10 AnySetup *PageSize\n"
        "*DefaultPageSize: Letter\n";
    char line[200];
    for (const Paper& p : kPapers) {
        std::snprintf(line, sizeof line, "*PageSize %s/%s: \"<</PageSize[%d %d]>>setpagedevice\"\n", p.name, p.name,
                      p.width, p.height);
        ppd += line;
    }
    ppd += "*CloseUI: *PageSize\n*DefaultImageableArea: Letter\n";
    for (const Paper& p : kPapers) {
        std::snprintf(line, sizeof line, "*ImageableArea %s/%s: \"18 18 %d %d\"\n", p.name, p.name, p.width - 18,
                      p.height - 18);
        ppd += line;
    }
    ppd += "*DefaultPaperDimension: Letter\n";
    for (const Paper& p : kPapers) {
        std::snprintf(line, sizeof line, "*PaperDimension %s/%s: \"%d %d\"\n", p.name, p.name, p.width, p.height);
        ppd += line;
    }
    return ppd;
}

bool Fail(std::wstring* problem, const wchar_t* step) {
    const DWORD error = GetLastError();
    if (problem != nullptr) *problem = std::wstring(step) + L" failed, error " + std::to_wstring(error);
    return false;
}

bool WritePpd(std::wstring* path, std::wstring* problem) {
    wchar_t directory[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(directory), sizeof directory,
                                    &needed)) {
        return Fail(problem, L"GetPrinterDriverDirectoryW");
    }
    *path = std::wstring(directory) + L"\\3";
    if (!CreateDirectoryW(path->c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return Fail(problem, L"CreateDirectoryW");
    }
    *path += L"\\";
    *path += kPpdName;
    const std::string text = PpdText();
    HANDLE file = CreateFileW(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(problem, L"CreateFileW (PPD)");
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != text.size()) return Fail(problem, L"WriteFile (PPD)");
    return true;
}

// The record of GetPrinterW level 2, in a buffer of the size asked for.
bool GetRecord(HANDLE printer, std::vector<unsigned char>* buffer, std::wstring* problem) {
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    if (needed < sizeof(PRINTER_INFO_2W)) return Fail(problem, L"GetPrinterW (size)");
    buffer->assign(needed, 0);
    if (!GetPrinterW(printer, 2, buffer->data(), needed, &needed)) return Fail(problem, L"GetPrinterW");
    return true;
}

}  // namespace

bool InstallPrinter(const wchar_t* name, bool* added, std::wstring* problem) {
    *added = false;
    std::wstring ppd;
    if (!WritePpd(&ppd, problem)) return false;

    DRIVER_INFO_3W driver{};
    driver.cVersion = 3;
    driver.pName = const_cast<LPWSTR>(kDriverName);
    driver.pDriverPath = const_cast<LPWSTR>(L"wineps.drv");
    driver.pConfigFile = const_cast<LPWSTR>(L"wineps.drv");
    driver.pDataFile = ppd.data();
    driver.pDefaultDataType = const_cast<LPWSTR>(L"RAW");
    if (!AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver)) &&
        GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
        return Fail(problem, L"AddPrinterDriverW");
    }

    // Wine's AddPrinterW rewrites an existing printer without a word: only
    // a printer that does not open yet is added.
    HANDLE printer = nullptr;
    if (OpenPrinterW(const_cast<LPWSTR>(name), &printer, nullptr)) {
        ClosePrinter(printer);
        return true;
    }
    PRINTER_INFO_2W info{};
    info.pPrinterName = const_cast<LPWSTR>(name);
    info.pPortName = const_cast<LPWSTR>(L"FILE:");
    info.pDriverName = const_cast<LPWSTR>(kDriverName);
    info.pPrintProcessor = const_cast<LPWSTR>(L"WinPrint");
    info.pDatatype = const_cast<LPWSTR>(L"RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (printer == nullptr) return Fail(problem, L"AddPrinterW");
    ClosePrinter(printer);
    *added = true;
    return true;
}

bool ReadStoredDefaults(const wchar_t* name, StoredDefaults* defaults, std::wstring* problem) {
    *defaults = StoredDefaults();
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(name), &printer, nullptr)) return Fail(problem, L"OpenPrinterW");
    std::vector<unsigned char> buffer;
    const bool ok = GetRecord(printer, &buffer, problem);
    ClosePrinter(printer);
    if (!ok) return false;
    const DEVMODEW* dm = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data())->pDevMode;
    if (dm != nullptr) {
        defaults->present = true;
        defaults->orientation = dm->dmOrientation;
        defaults->paperSize = dm->dmPaperSize;
        defaults->icmMethod = dm->dmICMMethod;
        defaults->fields = dm->dmFields;
    }
    return true;
}

bool StoreDefaults(const wchar_t* name, short orientation, short paperSize, DWORD icmMethod,
                   std::wstring* problem) {
    PRINTER_DEFAULTSW access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(name), &printer, &access)) return Fail(problem, L"OpenPrinterW");
    std::vector<unsigned char> record;
    bool ok = GetRecord(printer, &record, problem);
    const LONG size = ok ? DocumentPropertiesW(nullptr, printer, const_cast<LPWSTR>(name), nullptr, nullptr, 0) : -1;
    if (ok && size < static_cast<LONG>(offsetof(DEVMODEW, dmICMMethod) + sizeof(DWORD))) {
        ok = Fail(problem, L"DocumentPropertiesW (size)");
    }
    std::vector<unsigned char> devMode(ok ? size : 0);
    auto* dm = reinterpret_cast<DEVMODEW*>(devMode.data());
    if (ok && DocumentPropertiesW(nullptr, printer, const_cast<LPWSTR>(name), dm, nullptr, DM_OUT_BUFFER) < 0) {
        ok = Fail(problem, L"DocumentPropertiesW (defaults)");
    }
    if (ok) {
        dm->dmOrientation = orientation;
        dm->dmPaperSize = paperSize;
        dm->dmICMMethod = icmMethod;
        dm->dmFields = (dm->dmFields & ~DWORD{DM_PAPERLENGTH | DM_PAPERWIDTH}) | DM_ORIENTATION | DM_PAPERSIZE |
                       DM_ICMMETHOD;
        if (DocumentPropertiesW(nullptr, printer, const_cast<LPWSTR>(name), dm, dm, DM_IN_BUFFER | DM_OUT_BUFFER) <
            0) {
            ok = Fail(problem, L"DocumentPropertiesW (merge)");
        }
    }
    if (ok) {
        reinterpret_cast<PRINTER_INFO_2W*>(record.data())->pDevMode = dm;
        if (!SetPrinterW(printer, 2, record.data(), 0)) ok = Fail(problem, L"SetPrinterW");
    }
    ClosePrinter(printer);
    return ok;
}

std::vector<WORD> PaperList(const wchar_t* name) {
    const int count = DeviceCapabilitiesW(name, nullptr, DC_PAPERS, nullptr, nullptr);
    if (count <= 0) return {};
    std::vector<WORD> papers(count);
    const int listed = DeviceCapabilitiesW(name, nullptr, DC_PAPERS, reinterpret_cast<LPWSTR>(papers.data()), nullptr);
    papers.resize(listed < 0 ? 0 : listed < count ? listed : count);
    return papers;
}

}  // namespace qz410host
