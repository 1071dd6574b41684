// The Color correction page in the stand-in host's real property sheet,
// driven with the messages its controls send. The file dialogs and message
// boxes are the DLL's own imports, pointed at recorders here.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <olectl.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/PictureLoader.h"
#include "imaging/PreviewCorrection.h"
#include "resources/resource.h"
#include "settings/ColorSettingsFile.h"
#include "settings/PrivateDevMode.h"
#include "tests/core/TestBitmaps.h"
#include "tests/win/ImportPatch.h"
#include "tests/win/TestHost.h"
#include "tools/qz410host/DialogPerson.h"
#include "tools/qz410host/HostSession.h"
#include "tools/qz410host/PictureFiles.h"

namespace qz410test {
namespace {

using qz410::ColorSettings;
using qz410::PrivateDevMode;
using namespace std::string_literals;

constexpr int kApplyButton = 0x3021;

// ---- What the page asks of the system --------------------------------------

struct DialogCall {
    bool save;
    DWORD structSize;
    HWND owner;
    std::wstring filter;  // the pairs with their zeros, up to the double zero
    DWORD filterIndex;
    DWORD maxFile;
    DWORD flags;
    bool hasDefExt;
    std::wstring defExt;
};

// CREATEFILE2_EXTENDED_PARAMETERS (declared by the headers for Windows 8
// builds only).
struct CreateFile2Parameters {
    DWORD size;
    DWORD attributes;
    DWORD flags;
    DWORD qualityOfService;
    SECURITY_ATTRIBUTES* security;
    HANDLE pattern;
};
using CreateFile2Procedure = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, DWORD, CreateFile2Parameters*);

struct FileOpen {
    bool createFile2Offered;  // the lookup would have found it
    bool throughCreateFile2;
    DWORD flags;             // CreateFileW's flags and attributes, or CreateFile2's flags
    DWORD attributes;        // CreateFile2's
    DWORD qualityOfService;  // CreateFile2's
    bool sizeRight;          // CreateFile2's parameter block names its own size
};

struct SystemScript {
    std::wstring answer;  // the file the next dialog returns; empty: cancelled
    std::vector<DialogCall> dialogs;
    std::vector<std::wstring> messages;  // "text" when shown unowned, without caption, MB_OK
    std::wstring watched;                // a file whose presence is noted at each message
    std::vector<bool> watchedThere;      // ... in the order of the messages
    // WriteFile: -1 passes the call on; otherwise writes that many bytes and
    // reports them as written (0 fails the call).
    int writeLimit = -1;
    // CreateFile2 and CreateFileW: an open with this disposition fails
    // (ERROR_ACCESS_DENIED); 0: none does.
    DWORD failingOpen = 0;
    // An open that succeeds leaves the last error 0, as on a redirector that
    // does not tell an existing file from a new one.
    bool quietOpens = false;
    // Written under the name just before a CREATE_NEW open goes on, as by
    // another program between two opens; empty: nothing is.
    std::vector<uint8_t> madeMeanwhile;
    // The DLL's lookup of CreateFile2 finds none, as before Windows 8.
    bool withoutCreateFile2 = false;
    std::vector<FileOpen> opens;  // in order
    // "FlushFileBuffers": that call fails (disk full).
    std::string failing;
    SIZE_T failAllocationOf = 0;  // HeapAlloc of exactly this many bytes fails
    HANDLE failHeap = nullptr;    // ... or every HeapAlloc from this heap
    bool noImagingComponent = false;  // the system has no WIC (Windows 2000, a plain XP)
    bool oleLoadFails = false;
    int decoders = 0;  // system decoders created, WIC's or OLE's
};
SystemScript* script = nullptr;
decltype(&WriteFile) realWriteFile = nullptr;
decltype(&HeapAlloc) realHeapAlloc = nullptr;
decltype(&CreateFileW) realCreateFile = nullptr;
decltype(&GetProcAddress) realGetProcAddress = nullptr;
CreateFile2Procedure realCreateFile2 = nullptr;
decltype(&FlushFileBuffers) realFlush = nullptr;
decltype(&CoCreateInstance) realCoCreate = nullptr;
decltype(&OleLoadPicture) realOleLoad = nullptr;

std::wstring FilterOf(LPCWSTR filter) {
    std::wstring text;
    if (filter == nullptr) return text;
    for (const wchar_t* p = filter; *p != 0; p += wcslen(p) + 1) text.append(p, wcslen(p) + 1);
    return text;
}

BOOL Answer(OPENFILENAMEW* dialog, bool save) {
    script->dialogs.push_back({save, dialog->lStructSize, dialog->hwndOwner, FilterOf(dialog->lpstrFilter),
                               dialog->nFilterIndex, dialog->nMaxFile, dialog->Flags, dialog->lpstrDefExt != nullptr,
                               dialog->lpstrDefExt != nullptr ? dialog->lpstrDefExt : L""});
    if (script->answer.empty()) return FALSE;
    wcsncpy(dialog->lpstrFile, script->answer.c_str(), dialog->nMaxFile);
    return TRUE;
}
BOOL WINAPI RecordOpen(OPENFILENAMEW* dialog) { return Answer(dialog, false); }
BOOL WINAPI RecordSave(OPENFILENAMEW* dialog) { return Answer(dialog, true); }

int WINAPI RecordMessage(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    std::wstring entry = text;
    if (owner != nullptr || caption != nullptr || type != MB_OK) entry += L" [owner, caption or type]";
    script->messages.push_back(entry);
    if (!script->watched.empty()) {
        script->watchedThere.push_back(GetFileAttributesW(script->watched.c_str()) != INVALID_FILE_ATTRIBUTES);
    }
    return IDOK;
}

BOOL WINAPI LimitedWriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    if (script->writeLimit < 0) return realWriteFile(file, data, count, written, overlapped);
    const DWORD part = std::min<DWORD>(count, static_cast<DWORD>(script->writeLimit));
    if (part == 0) {
        if (written != nullptr) *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return realWriteFile(file, data, part, written, overlapped);
}

bool CreateFile2Offered() {
    return !script->withoutCreateFile2 && realGetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateFile2") != nullptr;
}
bool OpenFails(LPCWSTR name, DWORD disposition) {
    if (disposition == script->failingOpen) {
        SetLastError(ERROR_ACCESS_DENIED);
        return true;
    }
    if (disposition == CREATE_NEW && !script->madeMeanwhile.empty()) {
        HANDLE other = realCreateFile(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        DWORD written = 0;
        realWriteFile(other, script->madeMeanwhile.data(), static_cast<DWORD>(script->madeMeanwhile.size()), &written,
                      nullptr);
        CloseHandle(other);
    }
    return false;
}
HANDLE Opened(HANDLE file) {
    if (file != INVALID_HANDLE_VALUE && script->quietOpens) SetLastError(0);
    return file;
}
HANDLE WINAPI ScriptedCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE pattern) {
    script->opens.push_back({CreateFile2Offered(), false, flags, 0, 0, false});
    if (OpenFails(name, disposition)) return INVALID_HANDLE_VALUE;
    return Opened(realCreateFile(name, access, share, security, disposition, flags, pattern));
}
// Wine 8's CreateFile2 drops the quality of service, so what the DLL asks
// for is what is checked.
HANDLE WINAPI ScriptedCreateFile2(LPCWSTR name, DWORD access, DWORD share, DWORD disposition,
                                  CreateFile2Parameters* parameters) {
    if (parameters == nullptr) {
        script->opens.push_back({true, true, 0, 0, 0, false});
    } else {
        script->opens.push_back({true, true, parameters->flags, parameters->attributes, parameters->qualityOfService,
                                 parameters->size == sizeof *parameters});
    }
    if (OpenFails(name, disposition)) return INVALID_HANDLE_VALUE;
    return Opened(realCreateFile2(name, access, share, disposition, parameters));
}
FARPROC WINAPI ScriptedGetProcAddress(HMODULE module, LPCSTR name) {
    const bool byName = (reinterpret_cast<UINT_PTR>(name) >> 16) != 0;
    if (!byName || std::strcmp(name, "CreateFile2") != 0 || module != GetModuleHandleW(L"kernel32.dll")) {
        return realGetProcAddress(module, name);
    }
    realCreateFile2 = reinterpret_cast<CreateFile2Procedure>(
        reinterpret_cast<void (*)()>(realGetProcAddress(module, name)));
    if (script->withoutCreateFile2 || realCreateFile2 == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&ScriptedCreateFile2));
}

bool Fails(const char* call) {
    if (script->failing != call) return false;
    SetLastError(ERROR_DISK_FULL);
    return true;
}
BOOL WINAPI ScriptedFlush(HANDLE file) { return !Fails("FlushFileBuffers") && realFlush(file); }

HRESULT WINAPI ScriptedCoCreate(REFCLSID id, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) {
    if (IsEqualCLSID(id, CLSID_WICImagingFactory) && script->noImagingComponent) {
        *object = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    if (!IsEqualCLSID(id, CLSID_WICImagingFactory)) ++script->decoders;
    return realCoCreate(id, outer, context, iid, object);
}
HRESULT WINAPI ScriptedOleLoad(LPSTREAM stream, LONG size, BOOL runnable, REFIID iid, LPVOID* object) {
    ++script->decoders;
    if (!script->oleLoadFails) return realOleLoad(stream, size, runnable, iid, object);
    *object = nullptr;
    return CTL_E_INVALIDPICTURE;
}

LPVOID WINAPI FailingHeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if ((script->failAllocationOf != 0 && bytes == script->failAllocationOf) ||
        (script->failHeap != nullptr && heap == script->failHeap)) {
        return nullptr;
    }
    return realHeapAlloc(heap, flags, bytes);
}

// ---- What reaches the sheet and the page -----------------------------------

WNDPROC sheetProc = nullptr;
WNDPROC pageProc = nullptr;
std::vector<UINT> sheetNotes;  // PSM_CHANGED / PSM_UNCHANGED, in order
int erasures = 0;              // WM_ERASEBKGND of the page

LRESULT CALLBACK SheetSpy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PSM_CHANGED || message == PSM_UNCHANGED) sheetNotes.push_back(message);
    return CallWindowProcW(sheetProc, window, message, wParam, lParam);
}
LRESULT CALLBACK PageSpy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) ++erasures;
    return CallWindowProcW(pageProc, window, message, wParam, lParam);
}

// ---- Pictures made by the system's own encoders ---------------------------

// Every byte of a picture's rows a known function of its place; a palette
// picture's indices run over 16 colours. 16-bit channels repeat their byte,
// so that every converter takes the same 8 bits of them.
std::vector<uint8_t> PatternRows(UINT width, UINT height, int bitsPerPixel, bool palette, UINT* stride) {
    *stride = (width * bitsPerPixel + 7) / 8;
    std::vector<uint8_t> rows(size_t{*stride} * height);
    for (UINT y = 0; y < height; ++y) {
        for (UINT i = 0; i < *stride; ++i) {
            const UINT x = i * 8 / bitsPerPixel;
            uint8_t value = qz410::test::PatternByte(x, y, static_cast<int>(i % 4));
            if (palette) value = static_cast<uint8_t>((x / 7 + y / 5) % 16);
            if (bitsPerPixel >= 48 && i % 2 == 1) value = rows[size_t{*stride} * y + i - 1];
            rows[size_t{*stride} * y + i] = value;
        }
    }
    return rows;
}

std::vector<uint32_t> SixteenColours() {
    std::vector<uint32_t> colours;
    for (uint32_t i = 0; i < 16; ++i) colours.push_back(0xFF000000u | (i * 0x0F0000u) | ((15 - i) * 0x1100u) | (i * 37 % 256));
    return colours;
}

std::vector<uint8_t> Encoded(const GUID& container, const GUID& format, UINT width, UINT height, int bitsPerPixel,
                             bool palette = false) {
    UINT stride = 0;
    const std::vector<uint8_t> rows = PatternRows(width, height, bitsPerPixel, palette, &stride);
    wchar_t temp[MAX_PATH], name[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetTempFileNameW(temp, L"pic", 0, name);
    std::vector<uint8_t> bytes;
    if (qz410host::EncodePicture(name, container, format, width, height, stride, rows,
                                 palette ? SixteenColours() : std::vector<uint32_t>{})) {
        bytes = qz410host::ReadWholeFile(name);
    }
    DeleteFileW(name);
    return bytes;
}

std::vector<uint8_t> SmallJpeg() {
    return Encoded(GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR, 260, 210, 24);
}
std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t length) {
    bytes.resize(std::min(bytes.size(), length));
    return bytes;
}
// A PNG's signature and header chunk that announce 65,535 x 65,535 (40
// bytes with the start of a data chunk); its CRC is right.
std::vector<uint8_t> PngAnnouncing(uint32_t width, uint32_t height) {
    std::vector<uint8_t> bytes = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (uint32_t v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(v >> shift));
    }
    for (uint8_t b : {8, 2, 0, 0, 0}) bytes.push_back(b);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 12; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(crc >> shift));
    for (uint8_t b : {0, 0, 0, 0}) bytes.push_back(b);
    return bytes;
}
std::vector<uint8_t> HugePng() { return PngAnnouncing(65535, 65535); }

// ---- The page in the sheet -------------------------------------------------

class ColorPage : public ::testing::Test {
protected:
    void SetUp() override {
        script = &system;
        sheetNotes.clear();
        erasures = 0;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder = std::wstring(temp) + L"qz410page" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder.c_str(), nullptr);
        ASSERT_TRUE(session.Load(L"QZ410UI.DLL"));
        Patch("comdlg32.dll", "GetOpenFileNameW", &RecordOpen);
        Patch("comdlg32.dll", "GetSaveFileNameW", &RecordSave);
        Patch("user32.dll", "MessageBoxW", &RecordMessage);
        realWriteFile = Patch("kernel32.dll", "WriteFile", &LimitedWriteFile);
        realHeapAlloc = Patch("kernel32.dll", "HeapAlloc", &FailingHeapAlloc);
        realCreateFile = Patch("kernel32.dll", "CreateFileW", &ScriptedCreateFile);
        realGetProcAddress = Patch("kernel32.dll", "GetProcAddress", &ScriptedGetProcAddress);
        realFlush = Patch("kernel32.dll", "FlushFileBuffers", &ScriptedFlush);
        realCoCreate = Patch("ole32.dll", "CoCreateInstance", &ScriptedCoCreate);
        realOleLoad = Patch("oleaut32.dll", "OleLoadPicture", &ScriptedOleLoad);
        for (auto& patch : patches) ASSERT_TRUE(*patch);
    }

    // Points the DLL's import at `standIn`; gives the real function.
    template <typename Function>
    Function Patch(const char* dll, const char* name, Function standIn) {
        patches.emplace_back(new ImportPatch(session.Module(), dll, name, reinterpret_cast<void*>(standIn)));
        return patches.back()->Original<Function>();
    }

    void TearDown() override {
        if (session.SheetWindow() != nullptr && IsWindow(session.SheetWindow())) {
            session.Press(PSBTN_CANCEL);
        }
        // Every path the page opens comes from outside (a device mode, a
        // dialog): a pipe's server may identify the user, never act as them.
        // Where CreateFile2 is, every open goes through it, so that the
        // quality of service does not also say "do not recall the file".
        const DWORD qualityOfService = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
        for (const FileOpen& open : system.opens) {
            EXPECT_EQ(open.throughCreateFile2, open.createFile2Offered);
            if (open.throughCreateFile2) {
                EXPECT_TRUE(open.sizeRight);
                EXPECT_EQ(open.qualityOfService, qualityOfService);
                EXPECT_EQ(open.flags, 0u);
                EXPECT_EQ(open.attributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
            } else {
                EXPECT_EQ(open.flags & 0x1F0000u, qualityOfService);
            }
        }
        for (const std::wstring& name : FilesInFolder()) DeleteFileW((folder + L"\\" + name).c_str());
        RemoveDirectoryW(folder.c_str());
        script = nullptr;
    }

    // Opens the document sheet on `startPage` and shows the plug-in's page.
    void Open(int startPage = -1) {
        sheet = session.OpenModeless(qz410host::HostSession::Sheet::Document,
                                     startPage < 0 ? session.FirstPluginPageIndex() : startPage);
        ASSERT_NE(sheet, nullptr);
        sheetProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(sheet, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SheetSpy)));
        page = session.ShowPage(session.FirstPluginPageIndex());
        ASSERT_NE(page, nullptr);
        pageProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(page, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PageSpy)));
        session.Pump();
    }

    PrivateDevMode& Live() { return *reinterpret_cast<PrivateDevMode*>(session.PrivateDevMode()); }
    void SetLivePath(const std::wstring& path) {
        std::memset(Live().previewImagePath, 0, sizeof Live().previewImagePath);
        std::memcpy(Live().previewImagePath, path.c_str(), path.size() * sizeof(wchar_t));
    }
    std::wstring LivePath() { return reinterpret_cast<const wchar_t*>(Live().previewImagePath); }

    // A slider moved as the trackbar moves itself and tells its parent.
    void Move(int slider, int position) {
        HWND control = GetDlgItem(page, slider);
        SendMessageW(control, TBM_SETPOS, TRUE, position);
        SendMessageW(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(control));
    }
    int Position(int slider) { return static_cast<int>(SendDlgItemMessageW(page, slider, TBM_GETPOS, 0, 0)); }
    void Click(int button) {
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(page, button)));
    }
    std::wstring Text(int control) {
        wchar_t text[64] = {};
        GetDlgItemTextW(page, control, text, 64);
        return text;
    }
    bool ApplyEnabled() { return IsWindowEnabled(GetDlgItem(sheet, kApplyButton)) != FALSE; }
    UINT LastNote() { return sheetNotes.empty() ? 0 : sheetNotes.back(); }

    std::wstring PathOf(const std::wstring& name) { return folder + L"\\" + name; }
    void WriteFileBytes(const std::wstring& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(PathOf(name).c_str(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<uint8_t> ReadFileBytes(const std::wstring& name) {
        std::ifstream in(PathOf(name).c_str(), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::wstring> FilesInFolder() { return qz410test::FilesInFolder(folder); }

    SystemScript system;
    qz410host::HostSession session;
    std::vector<std::unique_ptr<ImportPatch>> patches;
    std::wstring folder;
    HWND sheet = nullptr;
    HWND page = nullptr;
};

TEST_F(ColorPage, SlidersShowTheirValuesAndTellTheSheet) {
    Open();
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_EQ(Text(IDC_UNSHARP_AMOUNT_VALUE), L"150");  // the defaults, shown from the start
    struct Case {
        int slider;
        int position;
        int box;
        const wchar_t* shown;
    } cases[] = {
        {IDC_BRIGHTNESS, -10, IDC_BRIGHTNESS_VALUE, L"-10"},
        {IDC_CONTRAST, 10, IDC_CONTRAST_VALUE, L"10"},
        {IDC_SATURATION, -3, IDC_SATURATION_VALUE, L"-3"},
        {IDC_CYAN_RED, 4, IDC_CYAN_RED_VALUE, L"4"},
        {IDC_MAGENTA_GREEN, -4, IDC_MAGENTA_GREEN_VALUE, L"-4"},
        {IDC_YELLOW_BLUE, 9, IDC_YELLOW_BLUE_VALUE, L"9"},
        {IDC_SHARPNESS, 7, IDC_SHARPNESS_VALUE, L"7"},
        {IDC_UNSHARP_AMOUNT, 0, IDC_UNSHARP_AMOUNT_VALUE, L"25"},
        {IDC_UNSHARP_AMOUNT, 12, IDC_UNSHARP_AMOUNT_VALUE, L"325"},
        {IDC_UNSHARP_RADIUS, 1, IDC_UNSHARP_RADIUS_VALUE, L"0.1"},
        {IDC_UNSHARP_RADIUS, 15, IDC_UNSHARP_RADIUS_VALUE, L"1.5"},
        {IDC_UNSHARP_RADIUS, 30, IDC_UNSHARP_RADIUS_VALUE, L"3.0"},
        {IDC_UNSHARP_THRESHOLD, 20, IDC_UNSHARP_THRESHOLD_VALUE, L"20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slider * 100 + c.position);
        const int before = Position(c.slider);
        Move(c.slider, c.position);
        EXPECT_EQ(Text(c.box), c.shown);
        EXPECT_EQ(LastNote(), static_cast<UINT>(PSM_CHANGED));
        EXPECT_TRUE(ApplyEnabled());
        // Only the preview square waits for a repaint, and not to be erased.
        RECT pending{};
        EXPECT_TRUE(GetUpdateRect(page, &pending, FALSE));
        EXPECT_EQ(pending.left * 1000 + pending.top, 5 * 1000 + 5);
        EXPECT_EQ(pending.right * 1000 + pending.bottom, 197 * 1000 + 197);
        UpdateWindow(page);
        EXPECT_EQ(erasures, 0);
        Move(c.slider, before);  // back where the live settings are
        EXPECT_EQ(LastNote(), static_cast<UINT>(PSM_UNCHANGED));
        EXPECT_FALSE(ApplyEnabled());
        UpdateWindow(page);
    }
    // The check box redraws the preview and reports nothing.
    const size_t notes = sheetNotes.size();
    SendDlgItemMessageW(page, IDC_UNSHARP_MASK, BM_SETCHECK, BST_CHECKED, 0);
    Click(IDC_UNSHARP_MASK);
    RECT pending{};
    EXPECT_TRUE(GetUpdateRect(page, &pending, FALSE));
    EXPECT_EQ(sheetNotes.size(), notes);
}

TEST_F(ColorPage, LeavingAndApplyingReachTheLiveDeviceMode) {
    Open();
    Move(IDC_BRIGHTNESS, 5);
    SendDlgItemMessageW(page, IDC_UNSHARP_MASK, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(Live().settings.brightness, 0);  // edits live in the controls

    session.ShowPage(0);  // PSN_KILLACTIVE
    EXPECT_EQ(Live().settings.brightness, 5);
    EXPECT_EQ(Live().settings.unsharpEnabled, 1);
    session.ShowPage(session.FirstPluginPageIndex());  // PSN_SETACTIVE: the applied values again
    EXPECT_EQ(Live().settings.brightness, 0);
    EXPECT_EQ(Position(IDC_BRIGHTNESS), 5);
    Move(IDC_CONTRAST, -2);
    EXPECT_EQ(LastNote(), static_cast<UINT>(PSM_CHANGED));

    session.Press(PSBTN_APPLYNOW);
    EXPECT_EQ(Live().settings.brightness, 5);
    EXPECT_EQ(Live().settings.contrast, -2);
    ASSERT_FALSE(session.setResults.empty());
    EXPECT_EQ(session.setResults.back().second, CPSUI_OK);
    HANDLE pageHandle = nullptr;
    for (const auto& call : session.calls) {
        if (call.function == CPSFUNC_ADD_PROPSHEETPAGEW) pageHandle = reinterpret_cast<HANDLE>(call.answer);
    }
    EXPECT_EQ(session.setResults.back().first, pageHandle);

    // After an apply, what was applied is the reference, and OK keeps edits.
    session.ShowPage(0);
    session.ShowPage(session.FirstPluginPageIndex());
    EXPECT_EQ(Live().settings.contrast, -2);
    Move(IDC_SATURATION, 6);
    session.Press(PSBTN_OK);
    EXPECT_EQ(Live().settings.saturation, 6);
    EXPECT_EQ(Live().settings.brightness, 5);
}

TEST_F(ColorPage, LiveValuesOutsideTheSlidersAreHeldAndReported) {
    Live().settings.sharpness = 9;
    Live().settings.brightness = 50;
    Live().settings.unsharpEnabled = 2;
    Open(0);  // the page is not the start page, so its first report shows
    EXPECT_EQ(Position(IDC_SHARPNESS), 7);
    EXPECT_EQ(Position(IDC_BRIGHTNESS), 10);
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_UNSHARP_MASK), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_TRUE(ApplyEnabled());
    session.ShowPage(0);
    EXPECT_EQ(Live().settings.sharpness, 7);
    EXPECT_EQ(Live().settings.brightness, 10);
    EXPECT_EQ(Live().settings.unsharpEnabled, 0);
}

TEST_F(ColorPage, DefaultSettingsRestoreTheControlsAndClearThePictureAtOnce) {
    Live().settings = ColorSettings{3, 1, 0, 0, 0, 0, 2, 0, 1, 9, 22, 7, 0};
    SetLivePath(PathOf(L"mine.bmp"));
    Open();
    Click(IDC_DEFAULT_SETTINGS);
    EXPECT_EQ(LivePath(), L"");
    EXPECT_EQ(Position(IDC_BRIGHTNESS), 0);
    EXPECT_EQ(Position(IDC_SHARPNESS), 0);
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_UNSHARP_MASK), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(Text(IDC_UNSHARP_AMOUNT_VALUE), L"150");
    EXPECT_EQ(Text(IDC_UNSHARP_RADIUS_VALUE), L"1.0");
    EXPECT_EQ(Text(IDC_UNSHARP_THRESHOLD_VALUE), L"5");
    EXPECT_EQ(LastNote(), static_cast<UINT>(PSM_CHANGED));
    EXPECT_EQ(Live().settings.brightness, 3);  // the settings wait for leave or apply
}

TEST_F(ColorPage, SelectFileTakesWhatThePreviewCanShow) {
    qz410::test::BmpLayout eightBit;
    eightBit.bitCount = 8;
    qz410::test::BmpLayout shortOffset;
    shortOffset.overrideBfOffBits = true;
    shortOffset.bfOffBits = 20;  // leaves no bit count to test
    const std::vector<uint8_t> trueColor = qz410::test::MakeBmp({});
    const std::vector<uint8_t> cut(trueColor.begin(), trueColor.begin() + 10);
    const std::string text = "Just some text, no picture.";
    WriteFileBytes(L"true.bmp", trueColor);
    WriteFileBytes(L"eight.bmp", qz410::test::MakeBmp(eightBit));
    WriteFileBytes(L"offset.bmp", qz410::test::MakeBmp(shortOffset));
    WriteFileBytes(L"cut.bmp", cut);
    WriteFileBytes(L"text.bmp", std::vector<uint8_t>(text.begin(), text.end()));
    WriteFileBytes(L"huge.png", HugePng());
    WriteFileBytes(L"photo.jpg", SmallJpeg());
    WriteFileBytes(L"palette.bmp", Encoded(GUID_ContainerFormatBmp, GUID_WICPixelFormat8bppIndexed, 50, 40, 8, true));
    WriteFileBytes(L"cut.jpg", Cut(SmallJpeg(), 200));
    std::wstring earlier = PathOf(L"earlier.bmp");
    SetLivePath(earlier);
    WriteFileBytes(L"earlier.bmp", trueColor);
    Open();

    struct Case {
        const wchar_t* file;  // null: the dialog is cancelled
        const wchar_t* message;
        bool taken;
    } cases[] = {
        {nullptr, nullptr, false},
        {L"text.bmp", L"This is not a picture file.", false},
        {L"cut.bmp", L"This is not a bitmap image file.", false},
        {L"offset.bmp", L"This is not a bitmap image file.", false},
        {L"missing.bmp", L"Could not open file.", false},
        {L"huge.png", L"This picture is too large.", false},
        {L"cut.jpg", L"This is not a picture file.", false},
        {L"true.bmp", nullptr, true},
        {L"eight.bmp", L"Select a 24-bit true color bitmap image file.", false},  // no colour table
        {L"palette.bmp", nullptr, true},
        {L"photo.jpg", nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file != nullptr ? c.file : L"cancelled");
        system.messages.clear();
        system.answer = c.file != nullptr ? PathOf(c.file) : L"";
        Click(IDC_SELECT_FILE);
        EXPECT_EQ(system.messages, c.message != nullptr ? std::vector<std::wstring>{c.message}
                                                        : std::vector<std::wstring>{});
        EXPECT_EQ(LivePath(), c.taken ? PathOf(c.file) : earlier);
        if (c.taken) earlier = PathOf(c.file);
    }
    ASSERT_FALSE(system.dialogs.empty());
    const DialogCall& dialog = system.dialogs.front();
    EXPECT_FALSE(dialog.save);
    EXPECT_EQ(dialog.structSize, sizeof(OPENFILENAMEW));
    EXPECT_EQ(dialog.owner, page);
    EXPECT_EQ(dialog.filter,
              L"Pictures\0*.bmp;*.dib;*.jpg;*.jpeg;*.jpe;*.jfif;*.png;*.gif;*.tif;*.tiff\0"
              L"24-bit true color bitmap image file\0*.BMP\0All\0*.*\0"s);
    EXPECT_EQ(dialog.filterIndex, 1u);
    EXPECT_EQ(dialog.maxFile, 260u);
    EXPECT_EQ(dialog.flags, 0x1801u);
    EXPECT_FALSE(dialog.hasDefExt);
}

TEST_F(ColorPage, SettingsFilesSaveWhatTheControlsShowAndLoadIntoThem) {
    Open();
    Move(IDC_BRIGHTNESS, 7);
    system.answer = PathOf(L"saved.COL");
    Click(IDC_SAVE_SETTINGS);
    const std::vector<uint8_t> saved = ReadFileBytes(L"saved.COL");
    ASSERT_EQ(saved.size(), 32u);
    EXPECT_EQ(std::vector<uint8_t>(saved.begin(), saved.begin() + 6), (std::vector<uint8_t>{0x20, 0, 0x64, 0, 7, 0}));
    EXPECT_EQ(FilesInFolder(), std::vector<std::wstring>{L"saved.COL"});
    ASSERT_EQ(system.dialogs.size(), 1u);
    EXPECT_TRUE(system.dialogs[0].save);
    EXPECT_EQ(system.dialogs[0].filter, L"Color correction data file\0*.COL\0All\0*.*\0"s);
    EXPECT_EQ(system.dialogs[0].defExt, L"COL");
    EXPECT_EQ(system.dialogs[0].flags, 0x80Au);


    ColorSettings fifty{};
    fifty.brightness = 50;
    fifty.unsharpEnabled = 2;
    fifty.unsharpRadius = 10;
    fifty.unsharpAmount = 5;
    fifty.unsharpThreshold = 5;
    const auto fiftyFile = qz410::SerializeColorSettingsFile(fifty);
    std::vector<uint8_t> longer(fiftyFile.begin(), fiftyFile.end());
    longer.resize(40, 0xEE);
    longer[4] = 3;  // brightness 3
    std::vector<uint8_t> wrongMark(fiftyFile.begin(), fiftyFile.end());
    wrongMark[2] = 101;
    WriteFileBytes(L"fifty.COL", std::vector<uint8_t>(fiftyFile.begin(), fiftyFile.end()));
    WriteFileBytes(L"longer.COL", longer);
    WriteFileBytes(L"short.COL", std::vector<uint8_t>(fiftyFile.begin(), fiftyFile.end() - 1));
    WriteFileBytes(L"mark.COL", wrongMark);
    WriteFileBytes(L"live.COL", saved);  // brightness 7 ...
    Move(IDC_BRIGHTNESS, 1);
    sheetNotes.clear();
    struct Case {
        const wchar_t* file;
        const wchar_t* message;
        int brightness;  // the slider afterwards
        UINT note;       // what the sheet is told; 0 nothing
    } cases[] = {
        {L"short.COL", L"This is not a color correction data file.", 1, 0},
        {L"mark.COL", L"This is not a color correction data file.", 1, 0},
        {L"missing.COL", L"Could not open file.", 1, 0},
        {L"fifty.COL", nullptr, 10, PSM_CHANGED},
        {L"longer.COL", nullptr, 3, PSM_CHANGED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        system.messages.clear();
        sheetNotes.clear();
        system.answer = PathOf(c.file);
        Click(IDC_LOAD_SETTINGS);
        EXPECT_EQ(system.messages, c.message != nullptr ? std::vector<std::wstring>{c.message}
                                                        : std::vector<std::wstring>{});
        EXPECT_EQ(Position(IDC_BRIGHTNESS), c.brightness);
        EXPECT_EQ(LastNote(), c.note);
    }
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_UNSHARP_MASK), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(Live().settings.brightness, 0);  // loading edits the controls only
    const DialogCall& load = system.dialogs.back();
    EXPECT_FALSE(load.save);
    EXPECT_EQ(load.filter, L"Color compensation file.\0*.COL\0ALL\0*.*\0"s);
    EXPECT_EQ(load.flags, 0x1801u);
    EXPECT_FALSE(load.hasDefExt);

    // Values equal to the live ones leave the page unchanged.
    std::vector<uint8_t> sameAsLive(saved);
    sameAsLive[4] = 0;
    WriteFileBytes(L"live.COL", sameAsLive);
    Move(IDC_SHARPNESS, 0);
    system.answer = PathOf(L"live.COL");
    Click(IDC_LOAD_SETTINGS);
    EXPECT_EQ(LastNote(), static_cast<UINT>(PSM_UNCHANGED));
}

// The record is written over the target in place: nothing but the target
// is named, and a save that fails leaves the old record or the whole new
// one, removes a file that it made (and no other) and then says so.
TEST_F(ColorPage, SaveWritesOverTheTargetInPlace) {
    Open();
    Move(IDC_BRIGHTNESS, 4);
    ColorSettings older{};
    older.brightness = -3;
    const auto olderFile = qz410::SerializeColorSettingsFile(older);
    const std::vector<uint8_t> before(olderFile.begin(), olderFile.end());
    std::vector<uint8_t> longer(before);
    longer.resize(40, 0xEE);
    std::vector<std::wstring> siblings;
    for (const wchar_t* kind : {L"~t", L"~b"}) {
        for (wchar_t digit = L'0'; digit <= L'9'; ++digit) siblings.push_back(L"target.COL"s + kind + digit);
    }
    enum Outcome { kOld, kNew, kNone };
    // Another program has the file open sharing nothing, or has mapped it
    // (its own handles closed), which leaves it open to others but not to be
    // cut.
    enum Holder { kNobody, kHolds, kMaps };
    // As SystemScript's failingOpen, quietOpens and madeMeanwhile (`before`).
    enum Opens { kPlain, kOpenFails, kCreateFails, kQuiet, kMadeMeanwhile };
    struct Case {
        const char* what;
        const std::vector<uint8_t>* existing;  // null: no file there
        DWORD attributes;
        Holder holder;
        bool withSiblings;
        Opens opens;
        int writeLimit;       // as SystemScript::writeLimit
        const char* failing;  // as SystemScript::failing
        const wchar_t* message;
        Outcome outcome;  // kOld: as it was, or `before` when it was made meanwhile
    } cases[] = {
        {"held by another program", &before, FILE_ATTRIBUTE_NORMAL, kHolds, false, kPlain, -1, "",
         L"Could not open file.", kOld},
        {"read-only", &before, FILE_ATTRIBUTE_READONLY, kNobody, false, kPlain, -1, "", L"Could not open file.", kOld},
        {"its open fails", &before, FILE_ATTRIBUTE_NORMAL, kNobody, false, kOpenFails, -1, "", L"Could not open file.",
         kOld},
        {"its create fails", nullptr, FILE_ATTRIBUTE_NORMAL, kNobody, false, kCreateFails, -1, "",
         L"Could not open file.", kNone},
        {"the write fails", &before, FILE_ATTRIBUTE_NORMAL, kNobody, false, kPlain, 0, "", L"Could not write file.",
         kOld},
        {"the open tells nothing, the write fails", &before, FILE_ATTRIBUTE_NORMAL, kNobody, false, kQuiet, 0, "",
         L"Could not write file.", kOld},
        {"the write fails on a new file", nullptr, FILE_ATTRIBUTE_NORMAL, kNobody, false, kPlain, 0, "",
         L"Could not write file.", kNone},
        {"made by another program meanwhile, the write fails", nullptr, FILE_ATTRIBUTE_NORMAL, kNobody, false,
         kMadeMeanwhile, 0, "", L"Could not write file.", kOld},
        {"the cut fails", &longer, FILE_ATTRIBUTE_NORMAL, kMaps, false, kPlain, -1, "", L"Could not write file.", kOld},
        {"the flush fails", &before, FILE_ATTRIBUTE_NORMAL, kNobody, false, kPlain, -1, "FlushFileBuffers",
         L"Could not write file.", kNew},
        {"the flush fails on a new file", nullptr, FILE_ATTRIBUTE_NORMAL, kNobody, false, kPlain, -1,
         "FlushFileBuffers", L"Could not write file.", kNone},
        {"over a longer file", &longer, FILE_ATTRIBUTE_NORMAL, kNobody, false, kPlain, -1, "", nullptr, kNew},
        {"beside twenty names an older save used", &before, FILE_ATTRIBUTE_NORMAL, kNobody, true, kPlain, -1, "",
         nullptr, kNew},
    };
    const std::wstring target = PathOf(L"target.COL");
    // Where the system has CreateFile2 and where it has not (before Windows 8).
    for (bool withoutCreateFile2 : {false, true}) {
        system.withoutCreateFile2 = withoutCreateFile2;
        const size_t firstOpen = system.opens.size();
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (withoutCreateFile2 ? ", without CreateFile2" : ""));
            if (c.existing != nullptr) WriteFileBytes(L"target.COL", *c.existing);
            for (const std::wstring& name : siblings) {
                if (c.withSiblings) WriteFileBytes(name, {'s'});
            }
            SetFileAttributesW(target.c_str(), c.attributes);
            HANDLE holder = c.holder == kNobody ? INVALID_HANDLE_VALUE
                                                : CreateFileW(target.c_str(), GENERIC_READ,
                                                              c.holder == kMaps ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0,
                                                              nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_EQ(holder != INVALID_HANDLE_VALUE, c.holder != kNobody);
            const void* view = nullptr;
            if (c.holder == kMaps) {
                HANDLE mapping = CreateFileMappingW(holder, nullptr, PAGE_READONLY, 0, 0, nullptr);
                view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
                if (mapping != nullptr) CloseHandle(mapping);
                CloseHandle(holder);
                holder = INVALID_HANDLE_VALUE;
                ASSERT_NE(view, nullptr);
            }
            system.messages.clear();
            system.watchedThere.clear();
            system.watched = target;
            system.failingOpen = c.opens == kOpenFails ? OPEN_EXISTING : c.opens == kCreateFails ? CREATE_NEW : 0;
            system.quietOpens = c.opens == kQuiet;
            system.madeMeanwhile = c.opens == kMadeMeanwhile ? before : std::vector<uint8_t>{};
            system.writeLimit = c.writeLimit;
            system.failing = c.failing;
            system.answer = target;
            Click(IDC_SAVE_SETTINGS);
            system.failingOpen = 0;
            system.quietOpens = false;
            system.madeMeanwhile.clear();
            system.writeLimit = -1;
            system.failing.clear();
            system.watched.clear();
            if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
            if (view != nullptr) UnmapViewOfFile(view);
            SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);

            EXPECT_EQ(system.messages, c.message != nullptr ? std::vector<std::wstring>{c.message}
                                                            : std::vector<std::wstring>{});
            // A file the save made is gone before the user is told.
            if (c.message != nullptr) {
                EXPECT_EQ(system.watchedThere, std::vector<bool>{c.outcome != kNone});
            }
            const std::vector<uint8_t> after = ReadFileBytes(L"target.COL");
            if (c.outcome == kOld) {
                EXPECT_EQ(after, c.existing != nullptr ? *c.existing : before);
            }
            if (c.outcome == kNew) {
                ASSERT_EQ(after.size(), 32u);
                EXPECT_EQ(after[4], 4);
            }
            std::vector<std::wstring> expected = c.withSiblings ? siblings : std::vector<std::wstring>{};
            if (c.outcome != kNone) expected.push_back(L"target.COL");
            std::sort(expected.begin(), expected.end());
            std::vector<std::wstring> files = FilesInFolder();
            std::sort(files.begin(), files.end());
            EXPECT_EQ(files, expected);
            for (const std::wstring& name : files) DeleteFileW(PathOf(name).c_str());
        }
        EXPECT_TRUE(std::any_of(system.opens.begin() + firstOpen, system.opens.end(),
                                [](const FileOpen& open) { return open.throughCreateFile2; }) != withoutCreateFile2);
    }
}

// The real file dialogs, answered as a person does: each command does its
// work, and the process is then in the folder it was in before, whichever
// folder the dialog ended in.
TEST_F(ColorPage, FileDialogsLeaveTheCurrentFolderAsTheyFoundIt) {
    patches.erase(patches.begin(), patches.begin() + 2);  // GetOpenFileNameW, GetSaveFileNameW
    const std::wstring chosen = PathOf(L"chosen");
    ASSERT_TRUE(CreateDirectoryW(chosen.c_str(), nullptr));
    WriteFileBytes(L"chosen\\picture.bmp", qz410::test::MakeBmp({}));
    ColorSettings loaded{};
    loaded.brightness = 6;
    const auto loadedFile = qz410::SerializeColorSettingsFile(loaded);
    WriteFileBytes(L"chosen\\load.COL", std::vector<uint8_t>(loadedFile.begin(), loadedFile.end()));
    wchar_t hosts[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, hosts), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    Open();
    const int buttons[] = {IDC_SELECT_FILE, IDC_LOAD_SETTINGS, IDC_SAVE_SETTINGS};
    const wchar_t* const files[] = {L"chosen\\picture.bmp", L"chosen\\load.COL", L"chosen\\saved.COL"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(buttons[i]);
        const auto answers = qz410host::ClickAndAnswer(GetDlgItem(page, buttons[i]), sheet, PathOf(files[i]));
        session.Pump();
        EXPECT_TRUE(answers.fileDialogAnswered);
        EXPECT_EQ(answers.said, std::vector<std::wstring>{});
        wchar_t current[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, current);
        EXPECT_EQ(_wcsicmp(current, folder.c_str()), 0) << "now in " << current;
    }
    SetCurrentDirectoryW(hosts);
    EXPECT_EQ(system.messages, std::vector<std::wstring>{});
    EXPECT_EQ(_wcsicmp(LivePath().c_str(), PathOf(files[0]).c_str()), 0);
    EXPECT_EQ(Position(IDC_BRIGHTNESS), 6);
    EXPECT_EQ(ReadFileBytes(files[2]).size(), 32u);
    for (const std::wstring& name : qz410test::FilesInFolder(chosen)) DeleteFileW((chosen + L"\\" + name).c_str());
    RemoveDirectoryW(chosen.c_str());
}

// ---- Paths that name no file on disk ---------------------------------------

// A pipe that the test serves and never writes to, as another program might:
// a read from it would wait for ever. Should the DLL wait all the same, a
// watchdog breaks the pipe after some seconds, so that the test fails
// rather than hangs.
class SilentPipe {
public:
    SilentPipe() {
        static int made = 0;
        name = L"\\\\.\\pipe\\qz410silent" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++made);
        server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                  nullptr);
        done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        watchdog = CreateThread(nullptr, 0, &Watch, this, 0, nullptr);
    }
    ~SilentPipe() {
        SetEvent(done);
        if (watchdog != nullptr) WaitForSingleObject(watchdog, INFINITE);
        for (HANDLE h : {watchdog, done}) {
            if (h != nullptr) CloseHandle(h);
        }
        if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
    }
    bool Ready() const { return server != INVALID_HANDLE_VALUE && done != nullptr && watchdog != nullptr; }
    bool Broken() const { return InterlockedCompareExchange(&broken_, 0, 0) != 0; }

    std::wstring name;

private:
    static DWORD WINAPI Watch(void* self) {
        auto* pipe = static_cast<SilentPipe*>(self);
        if (WaitForSingleObject(pipe->done, 10000) == WAIT_TIMEOUT) {
            InterlockedExchange(&pipe->broken_, 1);
            DisconnectNamedPipe(pipe->server);
        }
        return 0;
    }

    HANDLE server = INVALID_HANDLE_VALUE;
    HANDLE done = nullptr;
    HANDLE watchdog = nullptr;
    mutable LONG broken_ = 0;
};

TEST_F(ColorPage, PipesAreNoFiles) {
    {
        // Named in the device mode: the built-in picture, and the path goes.
        SilentPipe pipe;
        ASSERT_TRUE(pipe.Ready());
        SetLivePath(pipe.name);
        Open();
        InvalidateRect(page, nullptr, TRUE);
        UpdateWindow(page);
        EXPECT_FALSE(pipe.Broken()) << "the repaint waited for the pipe";
        EXPECT_EQ(LivePath(), L"");
    }
    // Typed into a file dialog.
    for (int button : {IDC_SELECT_FILE, IDC_LOAD_SETTINGS, IDC_SAVE_SETTINGS}) {
        SCOPED_TRACE(button);
        SilentPipe pipe;
        ASSERT_TRUE(pipe.Ready());
        system.messages.clear();
        system.answer = pipe.name;
        Click(button);
        EXPECT_FALSE(pipe.Broken()) << "the command waited for the pipe";
        EXPECT_EQ(system.messages, std::vector<std::wstring>{L"Could not open file."});
        EXPECT_EQ(LivePath(), L"");
    }
}

// ---- The preview, read back from the screen --------------------------------

class MemorySource final : public qz410::ByteSource {
public:
    explicit MemorySource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    size_t Read(void* destination, size_t count) noexcept override {
        const size_t n = std::min(count, bytes_.size() - at_);
        std::memcpy(destination, bytes_.data() + at_, n);
        at_ += n;
        return n;
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

// The built-in picture as the module holds it: 192 rows of 576 bytes.
std::vector<uint8_t> BuiltInPicture(HMODULE module) {
    std::vector<uint8_t> pixels(qz410::kPreviewCropBytes);
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(IDB_SAMPLE_PICTURE), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, 192, 192, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr);
    const int lines = GetDIBits(screen, bitmap, 0, 192, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    DeleteObject(bitmap);
    return lines == 192 ? pixels : std::vector<uint8_t>{};
}

TEST_F(ColorPage, PreviewShowsTheCorrectedPictureOneToOne) {
    ColorSettings settings{3, -2, 4, 2, -1, 1, 3, 0, 1, 6, 12, 2, 0};
    Live().settings = settings;
    qz410::test::BmpLayout whole;
    whole.width = whole.height = 192;
    qz410::test::BmpLayout large;
    large.width = 400;
    large.height = 300;
    const std::vector<uint8_t> wholeFile = qz410::test::MakeBmp(whole);
    const std::vector<uint8_t> largeFile = qz410::test::MakeBmp(large);
    WriteFileBytes(L"whole.bmp", wholeFile);
    WriteFileBytes(L"large.bmp", largeFile);

    struct Case {
        const wchar_t* file;  // null: no picture chosen
        const std::vector<uint8_t>* bytes;
        bool cropBufferFails;
        bool builtInShown;
    } cases[] = {
        {L"whole.bmp", &wholeFile, false, false},
        {L"large.bmp", &largeFile, false, false},
        {nullptr, nullptr, false, true},
        // Without its crop buffer the page shows what it can: the built-in
        // picture, keeping the user's choice for another time.
        {L"large.bmp", &largeFile, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file != nullptr ? c.file : L"built-in");
        SetLivePath(c.file != nullptr ? PathOf(c.file) : L"");
        system.failAllocationOf = c.cropBufferFails ? qz410::kPreviewCropBufferSize : 0;
        Open();
        system.failAllocationOf = 0;
        InvalidateRect(page, nullptr, TRUE);
        UpdateWindow(page);
        int width = 0, height = 0;
        const std::vector<unsigned char> shown = qz410host::CaptureClient(page, &width, &height);
        ASSERT_GE(width, 198);
        ASSERT_GE(height, 198);

        std::vector<uint8_t> expected;
        if (c.builtInShown) {
            expected = BuiltInPicture(session.Module());
            ASSERT_FALSE(expected.empty());
        } else {
            MemorySource source(*c.bytes);
            qz410::HeapPictureAllocator allocator;
            std::vector<uint8_t> crop(qz410::kPreviewCropBufferSize);
            const qz410::LoadedPicture picture = qz410::LoadPreviewPicture(source, allocator, crop);
            ASSERT_TRUE(picture.Usable());
            expected.assign(allocator.pixels.begin(), allocator.pixels.end());
        }
        qz410::CorrectPreviewPicture(settings, expected.data(), 192, 192, 576);
        int wrong = 0;
        for (int y = 0; y < 192; ++y) {
            const uint8_t* want = expected.data() + (191 - y) * 576;  // bottom-up
            const unsigned char* got = shown.data() + (5 + y) * 3 * width + 5 * 3;
            wrong += std::memcmp(want, got, 576) != 0;
        }
        EXPECT_EQ(wrong, 0) << "rows differing";
        const unsigned char* frame = shown.data() + 100 * 3 * width + 4 * 3;
        EXPECT_EQ(frame[0] + frame[1] + frame[2], 0) << "the frame's left side";
        EXPECT_EQ(LivePath(), c.file != nullptr ? PathOf(c.file) : L"");
        session.Press(PSBTN_CANCEL);
    }
}

// ---- Pictures through the system's decoders --------------------------------

// The preview's 192 x 192 square as the screen shows it.
std::vector<uint8_t> PreviewSquare(HWND page) {
    InvalidateRect(page, nullptr, TRUE);
    UpdateWindow(page);
    int width = 0, height = 0;
    const std::vector<unsigned char> shown = qz410host::CaptureClient(page, &width, &height);
    std::vector<uint8_t> square;
    if (width < 198 || height < 198) return square;
    for (int y = 0; y < 192; ++y) {
        const unsigned char* row = shown.data() + (5 + y) * 3 * width + 5 * 3;
        square.insert(square.end(), row, row + 576);
    }
    return square;
}

// Where two preview squares first differ, as "x,y"; empty when they are equal.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return std::to_string(i % 576 / 3) + "," + std::to_string(i / 576);
    }
    return "";
}

// A picture file as a photo viewer shows it, as a 24-bit BMP: the decoder's
// own pixels, upright (orientations 1, 6 and 8 here) and laid over white.
std::vector<uint8_t> AsAViewerShowsIt(const std::wstring& path, int orientation) {
    UINT w = 0, h = 0;
    const std::vector<uint8_t> bgra = qz410host::DecodeToBgra(path, &w, &h);
    if (bgra.empty()) return {};
    const int width = static_cast<int>(orientation == 1 ? w : h);
    const int height = static_cast<int>(orientation == 1 ? h : w);
    std::vector<uint8_t> bgr(size_t{3} * w * h);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int sx = x, sy = y;
            if (orientation == 6) sx = y, sy = static_cast<int>(h) - 1 - x;
            if (orientation == 8) sx = static_cast<int>(w) - 1 - y, sy = x;
            const uint8_t* p = &bgra[4 * (size_t(sy) * w + sx)];
            for (int c = 0; c < 3; ++c) {
                bgr[3 * (size_t(y) * width + x) + c] =
                    static_cast<uint8_t>((p[c] * p[3] + 255 * (255 - p[3]) + 127) / 255);
            }
        }
    }
    return qz410host::BitmapFileOf(width, height, bgr);
}

TEST_F(ColorPage, PreviewShowsEveryFormatAsItsUprightBitmapWouldBe) {
    Live().settings = ColorSettings{3, -2, 4, 2, -1, 1, 3, 0, 1, 6, 12, 2, 0};
    const std::vector<uint8_t> crop = Encoded(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 400, 300, 24);
    const std::vector<uint8_t> gif =
        Encoded(GUID_ContainerFormatGif, GUID_WICPixelFormat8bppIndexed, 300, 220, 8, true);
    const std::vector<uint8_t> tiff = Encoded(GUID_ContainerFormatTiff, GUID_WICPixelFormat24bppBGR, 300, 400, 24);
    struct Case {
        const wchar_t* name;
        std::vector<uint8_t> bytes;
        int orientation;  // 0: refused, the built-in picture is shown
    } cases[] = {
        {L"crop.png", crop, 1},
        {L"deep.png", Encoded(GUID_ContainerFormatPng, GUID_WICPixelFormat48bppRGB, 150, 120, 48), 1},
        {L"alpha.png", Encoded(GUID_ContainerFormatPng, GUID_WICPixelFormat32bppBGRA, 230, 200, 32), 1},
        {L"palette.gif", gif, 1},
        {L"grey.jpg", Encoded(GUID_ContainerFormatJpeg, GUID_WICPixelFormat8bppGray, 320, 240, 8), 1},
        {L"cmyk.jpg", Encoded(GUID_ContainerFormatJpeg, GUID_WICPixelFormat32bppCMYK, 200, 260, 32), 1},
        {L"turned6.jpg",
         qz410host::WithExifOrientation(
             Encoded(GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR, 400, 250, 24), 6, true),
         6},
        {L"turned8.jpg",
         qz410host::WithExifOrientation(
             Encoded(GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR, 180, 300, 24), 8, false),
         8},
        {L"page.tif", tiff, 1},
        {L"eight.bmp", Encoded(GUID_ContainerFormatBmp, GUID_WICPixelFormat8bppIndexed, 100, 150, 8, true), 1},
        {L"sixteen.bmp", Encoded(GUID_ContainerFormatBmp, GUID_WICPixelFormat16bppBGR555, 250, 250, 16), 1},
        {L"wide-png.bmp", Encoded(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 2000, 100, 24), 1},
        {L"huge.png", HugePng(), 0},
        {L"empty.png", PngAnnouncing(0, 0), 0},
        {L"cut.png", Cut(crop, crop.size() / 2), 0},
        {L"cut.gif", Cut(gif, 40), 0},
        {L"cut.tif", Cut(tiff, tiff.size() / 2), 0},
        {L"cut.jpg", Cut(SmallJpeg(), 200), 0},
    };
    Open();
    const std::vector<uint8_t> builtIn = PreviewSquare(page);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.empty());
        WriteFileBytes(c.name, c.bytes);
        SetLivePath(PathOf(c.name));
        const std::vector<uint8_t> shown = PreviewSquare(page);
        if (c.orientation == 0) {
            EXPECT_EQ(FirstDifference(shown, builtIn), "");
            EXPECT_EQ(LivePath(), L"");
            continue;
        }
        EXPECT_EQ(LivePath(), PathOf(c.name));
        const std::wstring bitmap = std::wstring(c.name) + L".expected.bmp";
        WriteFileBytes(bitmap, AsAViewerShowsIt(PathOf(c.name), c.orientation));
        SetLivePath(PathOf(bitmap));
        EXPECT_EQ(FirstDifference(shown, PreviewSquare(page)), "") << "differs from its bitmap's preview";
        EXPECT_EQ(LivePath(), PathOf(bitmap));
        EXPECT_NE(shown, builtIn);
    }
}

// Decoding costs a third of a second for a camera's picture: it is done once
// per file as it is, on whatever COM the host's thread has, which is left as
// it was found; without the Imaging Component OLE's loader takes over.
TEST_F(ColorPage, DecodedPicturesAreKeptAndComIsLeftAsFound) {
    const std::vector<uint8_t> eight =
        Encoded(GUID_ContainerFormatBmp, GUID_WICPixelFormat8bppIndexed, 300, 200, 8, true);
    Open();
    const std::vector<uint8_t> builtIn = PreviewSquare(page);
    WriteFileBytes(L"eight.bmp", eight);
    SetLivePath(PathOf(L"eight.bmp"));
    const std::vector<uint8_t> decoded = PreviewSquare(page);
    EXPECT_NE(decoded, builtIn);

    enum Apartment { none, single, multi };
    for (Apartment apartment : {none, single, multi}) {
        SCOPED_TRACE(apartment);
        const std::wstring name = L"eight" + std::to_wstring(apartment) + L".bmp";
        WriteFileBytes(name, eight);
        if (apartment != none) {
            ASSERT_EQ(CoInitializeEx(nullptr, apartment == single ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED),
                      S_OK);
        }
        system.decoders = 0;
        SetLivePath(PathOf(name));
        for (int repaint = 0; repaint < 3; ++repaint) EXPECT_EQ(PreviewSquare(page), decoded);
        EXPECT_EQ(system.decoders, 1);
        if (apartment != none) CoUninitialize();
        // No COM is left on the thread: an initialisation is a first one.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    }

    // A file changed since it was decoded is decoded again.
    HANDLE file = CreateFileW(PathOf(L"eight2.bmp").c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME later{};
    GetFileTime(file, nullptr, nullptr, &later);
    later.dwHighDateTime += 1;
    SetFileTime(file, nullptr, nullptr, &later);
    CloseHandle(file);
    EXPECT_EQ(PreviewSquare(page), decoded);
    EXPECT_EQ(system.decoders, 2);

    struct Case {
        const wchar_t* name;
        std::vector<uint8_t> bytes;
        bool oleFails;
        bool shown;
    } cases[] = {
        {L"ole.bmp", eight, false, true},
        {L"ole.png", Encoded(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 300, 200, 24), false, false},
        {L"ole-fails.bmp", eight, true, false},
    };
    system.noImagingComponent = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        system.oleLoadFails = c.oleFails;
        WriteFileBytes(c.name, c.bytes);
        SetLivePath(PathOf(c.name));
        EXPECT_EQ(PreviewSquare(page), c.shown ? decoded : builtIn);
        EXPECT_EQ(LivePath(), c.shown ? PathOf(c.name) : L"");
    }
}

// ---- The host's other document-sheet requests ------------------------------

std::vector<WORD> addCalls;
LONG_PTR CALLBACK RecordSheetCall(HANDLE, UINT function, LPARAM, LPARAM) {
    addCalls.push_back(static_cast<WORD>(function));
    return function == CPSFUNC_GET_PAGECOUNT ? 3 : 0x77;
}

TEST_F(ColorPage, DocumentSheetRequests) {
    PrivateDevMode live{};
    HANDLE heap = HeapCreate(0, 0, 0);
    OEMUIPSPARAM uiParam{};
    uiParam.cbSize = sizeof uiParam;
    uiParam.hOEMHeap = heap;
    uiParam.pOEMDM = &live;
    PROPSHEETUI_INFO_HEADER header{};
    header.pTitle = const_cast<LPTSTR>(L"title");
    SETRESULT_INFO result{};
    result.Result = 7;
    struct Case {
        WORD version;
        WORD reason;
        LPARAM lParam;
        bool failHeap;
        HRESULT answer;
        ULONG_PTR resultField;
        std::vector<WORD> calls;
    } cases[] = {
        {0x100, PROPSHEETUI_REASON_INIT, 0, false, S_OK, 3, {CPSFUNC_ADD_PROPSHEETPAGEW, CPSFUNC_GET_PAGECOUNT}},
        // No page without its record.
        {0x100, PROPSHEETUI_REASON_INIT, 0, true, E_FAIL, 0xAA, {}},
        {0x100, PROPSHEETUI_REASON_GET_INFO_HEADER, reinterpret_cast<LPARAM>(&header), false, S_OK, 1, {}},
        {0x100, PROPSHEETUI_REASON_DESTROY, 0, false, S_OK, 1, {}},
        {0x100, PROPSHEETUI_REASON_SET_RESULT, reinterpret_cast<LPARAM>(&result), false, S_OK, 7, {}},
        {0x100, PROPSHEETUI_REASON_GET_ICON, 0, false, S_OK, 0, {}},
        {0x100, 5, 0x55, false, S_OK, 0x55, {}},
        {0x101, PROPSHEETUI_REASON_DESTROY, 0, false, E_FAIL, 0xAA, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason * 10 + c.version + c.failHeap);
        PROPSHEETUI_INFO info{};
        info.cbSize = sizeof info;
        info.Version = c.version;
        info.Reason = c.reason;
        info.pfnComPropSheet = &RecordSheetCall;
        info.lParamInit = reinterpret_cast<LPARAM>(&uiParam);
        info.Result = 0xAA;
        addCalls.clear();
        system.failHeap = c.failHeap ? heap : nullptr;
        SetLastError(0);
        EXPECT_EQ(session.Plugin()->DocumentPropertySheets(&info, c.lParam), c.answer);
        system.failHeap = nullptr;
        EXPECT_EQ(info.Result, c.resultField);
        EXPECT_EQ(addCalls, c.calls);
        if (c.version != 0x100) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        }
    }
    EXPECT_EQ(header.pTitle, nullptr);
    HeapDestroy(heap);
}

}  // namespace
}  // namespace qz410test
