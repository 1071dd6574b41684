// The printer initialisation against the spooler as the DLL calls it (its
// import table pointed at a stand-in spooler that logs every call), against
// Wine's own spooler with a printer of our own, and the colour profile name.
#include <winspool.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestHost.h"
#include "tests/win/ImportPatch.h"
#include "tools/qz410host/PrinterInstall.h"

namespace qz410test {
namespace {

constexpr DWORD kSentinelError = 0xC0DE;
const HANDLE kPrinterHandle = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x5150));

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) return "null";
    std::string s;
    for (; *text != 0; ++text) s += static_cast<char>(*text);
    return s;
}

// One printer as the stand-in spooler describes it.
struct Printer {
    const wchar_t* recordName = L"\\\\srv\\Lab printer";
    const wchar_t* port = L"LPT7:";
    bool storedDevMode = true;  // the record carries a device mode
    WORD storedSize = sizeof(DEVMODEW);  // its public part
    WORD storedExtra = 16;               // its private part
    WORD fullExtra = 16;        // the driver's private part today
    std::vector<WORD> papers = {DMPAPER_LETTER, DMPAPER_A5, DMPAPER_A4, DMPAPER_LEGAL, DMPAPER_B5};
    std::vector<WORD> grownPapers;  // the list by the time it is filled; empty: as counted
    bool outgrowsRoom = false;      // the grown list is larger than any room the DLL could have
    bool sizingSucceeds = false;  // GetPrinterW answers the sizing call with TRUE
};

// The stand-in spooler and the process heap as the DLL sees them. Every
// call is logged with its arguments; pointers are named by what they are.
struct Spooler {
    static inline Printer printer;
    static inline std::vector<std::string> log;
    static inline int operations = 0;  // calls that can fail, so far
    static inline int failAt = 0;      // 1-based; 0 none
    static inline std::map<void*, std::pair<std::string, SIZE_T>> blocks;  // live heap blocks
    static inline int blocksMade = 0;
    static inline DEVMODEW* stored = nullptr;  // the record's own device mode
    static inline std::vector<unsigned char> mergeInput, setPrinterDevMode;
    static inline std::string setPrinterDevModeName;
    static inline int opened = 0, closed = 0;

    static void Reset(const Printer& p) {
        printer = p;
        log.clear();
        operations = failAt = blocksMade = opened = closed = 0;
        blocks.clear();
        stored = nullptr;
        mergeInput.clear();
        setPrinterDevMode.clear();
        setPrinterDevModeName.clear();
    }
    static bool Fails() { return ++operations == failAt; }
    static std::string Name(const void* p) {
        if (p == nullptr) return "null";
        if (p == stored) return "stored";
        auto found = blocks.find(const_cast<void*>(p));
        return found != blocks.end() ? found->second.first : "room";
    }
    static std::string Handle(HANDLE h) { return h == kPrinterHandle ? "h" : "bad handle"; }
    static void Log(std::string line) { log.push_back(std::move(line)); }

    static WORD FullSize() { return sizeof(DEVMODEW) + printer.fullExtra; }
    // A public part of `size` bytes (an older, shorter one ends before the
    // later members), then the private part.
    static void FillDevMode(DEVMODEW* dm, WORD extra, WORD size = sizeof(DEVMODEW)) {
        DEVMODEW full{};
        wcscpy(full.dmDeviceName, L"Lab printer");
        full.dmSpecVersion = DM_SPECVERSION;
        full.dmSize = size;
        full.dmDriverExtra = extra;
        full.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_COPIES | DM_COLOR;
        full.dmOrientation = DMORIENT_PORTRAIT;
        full.dmPaperSize = DMPAPER_LETTER;
        full.dmPaperLength = 2794;
        full.dmPaperWidth = 2159;
        full.dmCopies = 1;
        full.dmColor = DMCOLOR_COLOR;
        full.dmICMMethod = DMICMMETHOD_NONE;
        auto* bytes = reinterpret_cast<unsigned char*>(dm);
        std::memcpy(bytes, &full, size);
        for (WORD i = 0; i < extra; ++i) bytes[size + i] = static_cast<unsigned char>(i);
    }
    static DWORD RecordSize() {
        DWORD size = sizeof(PRINTER_INFO_2W) + (wcslen(printer.recordName) + wcslen(printer.port) + 2) * 2;
        size = (size + 7) & ~7u;
        return size + (printer.storedDevMode ? printer.storedSize + printer.storedExtra : 0);
    }

    static LPVOID WINAPI Alloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
        const bool fails = heap == GetProcessHeap() && Fails();
        if (heap == GetProcessHeap()) Log("HeapAlloc " + std::to_string(bytes) + (fails ? " fails" : ""));
        if (fails) return nullptr;
        void* p = HeapAlloc(heap, flags, bytes);
        if (heap == GetProcessHeap()) {
            blocks[p] = {"b" + std::to_string(++blocksMade), bytes};
            log.back() += " -> " + blocks[p].first;
        }
        return p;
    }
    static BOOL WINAPI Free(HANDLE heap, DWORD flags, LPVOID p) {
        if (heap == GetProcessHeap()) {
            Log("HeapFree " + Name(p));
            blocks.erase(p);
        }
        return HeapFree(heap, flags, p);
    }
    static BOOL WINAPI Open(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
        char line[160];
        std::snprintf(line, sizeof line, "OpenPrinterW %s, access 0x%lX, datatype %s, devmode %s",
                      Narrow(name).c_str(), defaults ? static_cast<unsigned long>(defaults->DesiredAccess) : 0ul,
                      defaults ? Name(defaults->pDatatype).c_str() : "-",
                      defaults ? Name(defaults->pDevMode).c_str() : "-");
        Log(line);
        if (Fails()) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
        *handle = kPrinterHandle;
        ++opened;
        return TRUE;
    }
    static BOOL WINAPI Get(HANDLE h, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
        Log("GetPrinterW " + Handle(h) + ", level " + std::to_string(level) + ", " + Name(buffer) + ", " +
            std::to_string(size));
        const DWORD full = RecordSize();
        if (Fails()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        *needed = full;
        if (buffer == nullptr && printer.sizingSucceeds) return TRUE;
        if (size < full) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memset(buffer, 0, full);
        auto* record = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
        auto* text = reinterpret_cast<wchar_t*>(record + 1);
        record->pPrinterName = wcscpy(text, printer.recordName);
        text += wcslen(text) + 1;
        record->pPortName = wcscpy(text, printer.port);
        text += wcslen(text) + 1;
        if (printer.storedDevMode) {
            auto* dm = reinterpret_cast<DEVMODEW*>(buffer + full - printer.storedSize - printer.storedExtra);
            FillDevMode(dm, printer.storedExtra, printer.storedSize);
            record->pDevMode = stored = dm;
        }
        return TRUE;
    }
    static LONG WINAPI Properties(HWND window, HANDLE h, LPWSTR name, PDEVMODEW out, PDEVMODEW in, DWORD mode) {
        Log("DocumentPropertiesW window " + Name(window) + ", " + Handle(h) + ", " + Narrow(name) + ", out " +
            Name(out) + ", in " + Name(in) + ", mode " + std::to_string(mode));
        if (Fails()) return -1;
        if (mode == 0) return FullSize();
        if (mode == DM_OUT_BUFFER) {
            FillDevMode(out, printer.fullExtra);
            out->dmCopies = 2;  // tells the fetched copy from the stored one
            return IDOK;
        }
        mergeInput.assign(reinterpret_cast<unsigned char*>(in),
                          reinterpret_cast<unsigned char*>(in) + in->dmSize + in->dmDriverExtra);
        // The driver writes its whole device mode: the output must have room.
        if (out == stored && printer.storedSize + printer.storedExtra < FullSize()) {
            ADD_FAILURE() << "the driver's device mode would be written past the record's";
            return -1;
        }
        std::memmove(out, in, sizeof(DEVMODEW));
        out->dmDriverExtra = printer.fullExtra;
        out->dmCollate = DMCOLLATE_TRUE;  // the driver's own touch
        return IDOK;
    }
    static int WINAPI Capabilities(LPCWSTR name, LPCWSTR port, WORD what, LPWSTR out, const DEVMODEW* dm) {
        Log("DeviceCapabilitiesW " + Narrow(name) + ", " + Narrow(port) + ", " + std::to_string(what) + ", out " +
            Name(out) + ", devmode " + Name(dm));
        if (Fails()) return -1;
        if (out == nullptr) return static_cast<int>(printer.papers.size());
        // The list may have grown since it was counted; the call is told no
        // room and writes it all.
        const std::vector<WORD>& list = printer.grownPapers.empty() ? printer.papers : printer.grownPapers;
        auto found = blocks.find(out);
        const size_t room = found != blocks.end() ? found->second.second / 2 : 8;
        if (room < list.size() && !printer.outgrowsRoom) {
            ADD_FAILURE() << "paper list of " << list.size() << " into room for " << room;
        }
        std::memcpy(out, list.data(), std::min(room, list.size()) * sizeof(WORD));
        return static_cast<int>(list.size());
    }
    static BOOL WINAPI Set(HANDLE h, DWORD level, LPBYTE record, DWORD command) {
        Log("SetPrinterW " + Handle(h) + ", level " + std::to_string(level) + ", " + Name(record) + ", command " +
            std::to_string(command));
        const DEVMODEW* dm = reinterpret_cast<PRINTER_INFO_2W*>(record)->pDevMode;
        setPrinterDevModeName = Name(dm);
        setPrinterDevMode.assign(reinterpret_cast<const unsigned char*>(dm),
                                 reinterpret_cast<const unsigned char*>(dm) + dm->dmSize + dm->dmDriverExtra);
        return !Fails();
    }
    static BOOL WINAPI Close(HANDLE h) {
        Log("ClosePrinter " + Handle(h));
        ++closed;
        return TRUE;
    }
};

class PrinterEventTest : public PluginHost {
protected:
    void SetUp() override {
        PluginHost::SetUp();
        plugin = CreatePlugin();
        ASSERT_NE(plugin, nullptr);
    }
    void TearDown() override {
        patches.clear();
        if (plugin != nullptr) plugin->Release();
        PluginHost::TearDown();
    }
    void PatchSpooler() {
        const std::pair<const char*, void*> winspool[] = {
            {"OpenPrinterW", reinterpret_cast<void*>(Spooler::Open)},
            {"GetPrinterW", reinterpret_cast<void*>(Spooler::Get)},
            {"DocumentPropertiesW", reinterpret_cast<void*>(Spooler::Properties)},
            {"DeviceCapabilitiesW", reinterpret_cast<void*>(Spooler::Capabilities)},
            {"SetPrinterW", reinterpret_cast<void*>(Spooler::Set)},
            {"ClosePrinter", reinterpret_cast<void*>(Spooler::Close)},
        };
        for (const auto& [function, replacement] : winspool) {
            patches.push_back(std::make_unique<ImportPatch>(module, "winspool.drv", function, replacement));
            ASSERT_TRUE(*patches.back()) << function;
        }
        patches.push_back(std::make_unique<ImportPatch>(module, "kernel32.dll", "HeapAlloc",
                                                        reinterpret_cast<void*>(Spooler::Alloc)));
        patches.push_back(std::make_unique<ImportPatch>(module, "kernel32.dll", "HeapFree",
                                                        reinterpret_cast<void*>(Spooler::Free)));
        ASSERT_TRUE(*patches[6] && *patches[7]);
    }
    HRESULT Initialize(const wchar_t* name, const Printer& printer, int failAt = 0) {
        Spooler::Reset(printer);
        Spooler::failAt = failAt;
        std::wstring copy(name);
        return plugin->PrinterEvent(copy.data(), PRINTER_EVENT_INITIALIZE, 0, 0);
    }

    IPrintOemUI* plugin = nullptr;
    std::vector<std::unique_ptr<ImportPatch>> patches;
};

struct InitCase {
    const char* what;
    const wchar_t* name;
    Printer printer;
    std::vector<std::string> calls;  // the whole log
    const char* target;              // the device mode that is written and stored; null: none
    short paper;                     // 0: the paper stays
};

std::vector<InitCase> InitCases() {
    Printer normal;
    Printer noDevMode;
    noDevMode.storedDevMode = false;
    Printer small;
    small.storedExtra = 4;
    Printer longList;
    longList.papers.assign(20, DMPAPER_A4);
    longList.papers[1] = DMPAPER_A3;
    Printer onePaper;
    onePaper.papers = {DMPAPER_A4};
    Printer noPaper;
    noPaper.papers = {};
    Printer sizing;
    sizing.sizingSucceeds = true;
    Printer olderPublicPart;  // room enough in all, but the public part ends before dmICMMethod
    olderPublicPart.storedSize = offsetof(DEVMODEW, dmICMMethod);
    olderPublicPart.storedExtra = 16 + sizeof(DEVMODEW) - offsetof(DEVMODEW, dmICMMethod);
    Printer grown;
    grown.grownPapers.assign(40, DMPAPER_A4);
    grown.grownPapers[1] = DMPAPER_A3;
    Printer outgrown;
    outgrown.grownPapers.assign(grown.papers.size() + 257, DMPAPER_A4);
    outgrown.outgrowsRoom = true;
    const std::string full = std::to_string(sizeof(DEVMODEW) + 16);

    // `target` null: nothing is merged or stored.
    auto calls = [&](const Printer& p, const char* opened, const char* target, bool listed) {
        Spooler::printer = p;
        const std::string size = std::to_string(Spooler::RecordSize());
        std::vector<std::string> c = {
            "HeapAlloc 220 -> b1",
            std::string("OpenPrinterW ") + opened + ", access 0xF000C, datatype null, devmode null",
            "GetPrinterW h, level 2, null, 0",
            "HeapAlloc " + size + " -> b2",
            "GetPrinterW h, level 2, b2, " + size,
            "DocumentPropertiesW window null, h, \\\\srv\\Lab printer, out null, in null, mode 0",
            "HeapAlloc " + full + " -> b3",
            "DocumentPropertiesW window null, h, \\\\srv\\Lab printer, out b3, in null, mode 2",
            std::string("DeviceCapabilitiesW ") + opened + ", LPT7:, 2, out null, devmode b3",
        };
        if (listed) {
            // Room for the counted list and as many codes again as it may
            // have grown by.
            c.push_back("HeapAlloc " + std::to_string((p.papers.size() + 256) * 2) + " -> b4");
            c.push_back(std::string("DeviceCapabilitiesW ") + opened + ", LPT7:, 2, out b4, devmode b3");
            c.push_back("HeapFree b4");
        }
        if (target != nullptr) {
            c.push_back(std::string("DocumentPropertiesW window null, h, ") + opened + ", out " + target + ", in " +
                        target + ", mode 10");
            c.push_back("SetPrinterW h, level 2, b2, command 0");
        }
        c.push_back("ClosePrinter h");
        c.push_back("HeapFree b2");
        c.push_back("HeapFree b1");
        c.push_back("HeapFree b3");
        return c;
    };
    return {
        {"server name", L"\\\\srv\\Lab printer,extra", normal, calls(normal, "Lab printer", "stored", true),
         "stored", DMPAPER_A5},
        {"local name", L"Lab printer,extra", normal, calls(normal, "Lab printer,extra", "stored", true), "stored",
         DMPAPER_A5},
        {"no stored device mode", L"Lab printer", noDevMode, calls(noDevMode, "Lab printer", "b3", true), "b3",
         DMPAPER_A5},
        {"stored device mode too small", L"Lab printer", small, calls(small, "Lab printer", "b3", true), "b3",
         DMPAPER_A5},
        {"stored public part older", L"Lab printer", olderPublicPart,
         calls(olderPublicPart, "Lab printer", "b3", true), "b3", DMPAPER_A5},
        {"twenty papers", L"Lab printer", longList, calls(longList, "Lab printer", "stored", true), "stored",
         DMPAPER_A3},
        {"paper list grows", L"Lab printer", grown, calls(grown, "Lab printer", "stored", true), "stored", DMPAPER_A3},
        {"paper list outgrows the room", L"Lab printer", outgrown, calls(outgrown, "Lab printer", nullptr, true),
         nullptr, 0},
        {"one paper", L"Lab printer", onePaper, calls(onePaper, "Lab printer", "stored", false), "stored", 0},
        {"no paper", L"Lab printer", noPaper, calls(noPaper, "Lab printer", "stored", false), "stored", 0},
        {"sizing call succeeds", L"Lab printer", sizing, calls(sizing, "Lab printer", "stored", true), "stored",
         DMPAPER_A5},
    };
}

TEST_F(PrinterEventTest, InitializationCallsTheSpoolerInOrderAndStoresTheMergedDeviceMode) {
    PatchSpooler();
    for (const InitCase& c : InitCases()) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Initialize(c.name, c.printer), E_NOTIMPL);
        EXPECT_EQ(Spooler::log, c.calls);
        EXPECT_TRUE(Spooler::blocks.empty());
        if (c.target == nullptr) {
            EXPECT_TRUE(Spooler::mergeInput.empty());
            EXPECT_TRUE(Spooler::setPrinterDevMode.empty());
            continue;
        }

        // What reached the driver's merge: the device mode as it was, with
        // the four members written.
        DEVMODEW expected;
        Spooler::FillDevMode(&expected, 0);
        if (std::strcmp(c.target, "b3") == 0) expected.dmCopies = 2;
        expected.dmDriverExtra = std::strcmp(c.target, "stored") == 0 ? c.printer.storedExtra : c.printer.fullExtra;
        expected.dmOrientation = DMORIENT_LANDSCAPE;
        expected.dmICMMethod = DMICMMETHOD_SYSTEM;
        expected.dmFields |= DM_ICMMETHOD;
        if (c.paper != 0) {
            expected.dmPaperSize = c.paper;
            expected.dmFields &= ~DWORD{DM_PAPERLENGTH | DM_PAPERWIDTH};
        }
        ASSERT_GE(Spooler::mergeInput.size(), sizeof(DEVMODEW));
        DEVMODEW merged;
        std::memcpy(&merged, Spooler::mergeInput.data(), sizeof merged);
        EXPECT_EQ(merged.dmOrientation, expected.dmOrientation);
        EXPECT_EQ(merged.dmPaperSize, expected.dmPaperSize);
        EXPECT_EQ(merged.dmICMMethod, expected.dmICMMethod);
        EXPECT_EQ(merged.dmFields, expected.dmFields);
        EXPECT_EQ(std::memcmp(&merged, &expected, sizeof merged), 0) << "another member changed";
        // The record stored points at the merged device mode.
        EXPECT_EQ(Spooler::setPrinterDevModeName, c.target);
        ASSERT_GE(Spooler::setPrinterDevMode.size(), sizeof(DEVMODEW));
        DEVMODEW stored;
        std::memcpy(&stored, Spooler::setPrinterDevMode.data(), sizeof stored);
        EXPECT_EQ(stored.dmCollate, DMCOLLATE_TRUE);
        EXPECT_EQ(stored.dmOrientation, DMORIENT_LANDSCAPE);
    }
}

TEST_F(PrinterEventTest, AFailureAtAnyStepClosesAndFreesEverything) {
    PatchSpooler();
    for (const InitCase& c : InitCases()) {
        Initialize(c.name, c.printer);
        const std::vector<std::string> success = Spooler::log;
        const int steps = Spooler::operations;
        for (int failAt = 1; failAt <= steps; ++failAt) {
            SCOPED_TRACE(testing::Message() << c.what << ", failing call " << failAt);
            EXPECT_EQ(Initialize(c.name, c.printer, failAt), E_NOTIMPL);
            const std::vector<std::string>& log = Spooler::log;
            // Up to the failing call the same calls as a full run ...
            size_t failed = 0;
            for (int op = 0; failed < log.size(); ++failed) {
                if (log[failed].rfind("HeapFree", 0) != 0 && log[failed].rfind("ClosePrinter", 0) != 0 &&
                    ++op == failAt) {
                    break;
                }
            }
            ASSERT_LT(failed, log.size());
            for (size_t i = 0; i < failed; ++i) EXPECT_EQ(log[i], success[i]);
            // ... then nothing but the clean-up: every block freed, the
            // printer closed if it was opened.
            for (size_t i = failed + 1; i < log.size(); ++i) {
                const bool cleanUp = log[i].rfind("HeapFree", 0) == 0 || log[i].rfind("ClosePrinter", 0) == 0;
                const bool storing = log[failed].rfind("SetPrinterW", 0) == 0;  // its failure is not noticed
                EXPECT_TRUE(cleanUp || storing) << log[i];
            }
            EXPECT_TRUE(Spooler::blocks.empty());
            EXPECT_EQ(Spooler::closed, Spooler::opened);
        }
    }
}

TEST_F(PrinterEventTest, OtherEventsTouchNothing) {
    PatchSpooler();
    for (INT event : {0, 1, 2, 4, 5, 6, 7, -1}) {
        Spooler::Reset(Printer());
        SetLastError(kSentinelError);
        EXPECT_EQ(plugin->PrinterEvent(reinterpret_cast<PWSTR>(1), event, 0xFFFFFFFF, 1), E_NOTIMPL) << event;
        EXPECT_TRUE(Spooler::log.empty()) << event;
        EXPECT_EQ(GetLastError(), kSentinelError);
    }
}

TEST_F(PrinterEventTest, ColorProfileNameSizesAndRefusals) {
    struct Case {
        ULONG mode;
        bool buffer;
        ULONG size;
        HRESULT result;
        DWORD lastError;  // 0: left as it was
        ULONG sizeAfter;
        bool written;
    };
    const Case cases[] = {
        {QCP_DEVICEPROFILE, true, 44, S_OK, 0, 44, true},
        {QCP_DEVICEPROFILE, true, 1000, S_OK, 0, 44, true},
        {QCP_DEVICEPROFILE, true, 43, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 44, false},
        {QCP_DEVICEPROFILE, true, 0, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 44, false},
        {QCP_DEVICEPROFILE, false, 1000, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 44, false},
        {QCP_SOURCEPROFILE, true, 1000, E_FAIL, 0, 1000, false},
        {7, true, 1000, E_FAIL, 0, 1000, false},
    };
    const wchar_t name[] = L"Ardix QZ410 v1.0.icc";
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " size " << c.size << (c.buffer ? "" : " no buffer"));
        unsigned char buffer[64];
        std::memset(buffer, 0xAA, sizeof buffer);
        ULONG size = c.size;
        FLONG flags = 0x77;
        SetLastError(kSentinelError);
        EXPECT_EQ(plugin->QueryColorProfile(reinterpret_cast<HANDLE>(1), reinterpret_cast<POEMUIOBJ>(1),
                                            reinterpret_cast<PDEVMODEW>(1), reinterpret_cast<void*>(1), c.mode,
                                            c.buffer ? buffer : nullptr, &size, &flags),
                  c.result);
        EXPECT_EQ(GetLastError(), c.lastError != 0 ? c.lastError : kSentinelError);
        EXPECT_EQ(size, c.sizeAfter);
        EXPECT_EQ(flags, c.written ? FLONG{QCP_PROFILEDISK} : FLONG{0x77});
        EXPECT_EQ(std::memcmp(buffer, name, sizeof name) == 0, c.written);
        for (size_t i = c.written ? sizeof name : 0; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0xAA) << i;
    }
    SetLastError(kSentinelError);
    EXPECT_EQ(plugin->QueryColorProfile(nullptr, nullptr, nullptr, nullptr, QCP_DEVICEPROFILE, nullptr, nullptr,
                                        nullptr),
              E_FAIL);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// Wine's spooler with a printer of our own (Wine's PostScript driver and a
// PPD whose second paper is A5): the stored record afterwards.
TEST_F(PrinterEventTest, WinesSpoolerStoresLandscapeOnTheSecondPaperWithSystemColourManagement) {
    const wchar_t* name = sizeof(void*) == 4 ? L"QZ410 Test x86" : L"QZ410 Test x64";
    bool added = false;
    std::wstring problem;
    ASSERT_TRUE(qz410host::InstallPrinter(name, &added, &problem)) << Narrow(problem.c_str());
    const std::vector<WORD> papers = qz410host::PaperList(name);
    ASSERT_GE(papers.size(), 12u);
    EXPECT_EQ(papers[0], qz410host::kInstalledFirstPaper);
    EXPECT_EQ(papers[1], qz410host::kInstalledSecondPaper);

    for (const std::wstring& given : {std::wstring(name), L"\\\\qz410-server\\" + std::wstring(name) + L",extra"}) {
        SCOPED_TRACE(Narrow(given.c_str()));
        ASSERT_TRUE(qz410host::StoreDefaults(name, DMORIENT_PORTRAIT, qz410host::kInstalledFirstPaper,
                                             DMICMMETHOD_NONE, &problem))
            << Narrow(problem.c_str());
        qz410host::StoredDefaults before;
        ASSERT_TRUE(qz410host::ReadStoredDefaults(name, &before, &problem)) << Narrow(problem.c_str());
        ASSERT_TRUE(before.present);
        EXPECT_EQ(before.orientation, DMORIENT_PORTRAIT);
        EXPECT_EQ(before.paperSize, qz410host::kInstalledFirstPaper);

        std::wstring copy = given;
        EXPECT_EQ(plugin->PrinterEvent(copy.data(), PRINTER_EVENT_INITIALIZE, 0, 0), E_NOTIMPL);

        qz410host::StoredDefaults after;
        ASSERT_TRUE(qz410host::ReadStoredDefaults(name, &after, &problem)) << Narrow(problem.c_str());
        ASSERT_TRUE(after.present);
        EXPECT_EQ(after.orientation, DMORIENT_LANDSCAPE);
        EXPECT_EQ(after.paperSize, qz410host::kInstalledSecondPaper);
        // Wine's driver keeps dmFields of its own; the members are what count.
        EXPECT_EQ(after.icmMethod, static_cast<DWORD>(DMICMMETHOD_SYSTEM));
    }
}

}  // namespace
}  // namespace qz410test
