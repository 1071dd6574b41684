// Every scenario of the plug-in's life in the host, run again and again with
// one thing failing each time: the 1st allocation of the DLL, then the 2nd,
// and so on until a run sees no failure; then the same for each system call
// that the scenario makes. Every run must end without a crash (the guard
// heap stops at any bad access), leave nothing behind (heap blocks, GDI
// objects, windows, files, registry keys and printers it opened), and still
// answer soundly: what the scenario checks always holds, and what it checks
// for a run without failure holds whenever none was injected.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <objbase.h>
#include <wincodec.h>
#include <winspool.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "settings/ColorSettingsFile.h"
#include "settings/PrivateDevMode.h"
#include "tests/core/TestBitmaps.h"
#include "tests/win/GuardHeap.h"
#include "tests/win/TestHost.h"
#include "tests/win/HtmlClass.h"
#include "tests/win/ImportPatch.h"
#include "tools/qz410host/HostPages.h"
#include "tools/qz410host/HostSession.h"
#include "tools/qz410host/PictureFiles.h"
#include "tools/qz410host/PrinterInstall.h"

namespace qz410test {
namespace {

using qz410::PrivateDevMode;

// ---- What can be made to fail ----------------------------------------------

enum Kind {
    kAllocation,
    kCreateFile,
    kReadFileFails,
    kReadFileShort,
    kWriteFile,
    kFlushFile,
    kSetEndOfFile,
    kSetFilePointer,
    kFileQuery,
    kDibSection,
    kCompatibleDc,
    kSelectObject,
    kFont,
    kRegistry,
    kShell,
    kWinExec,
    kFileDialog,
    kCom,
    kKinds
};
const char* const kKindNames[kKinds] = {
    "allocation",       "CreateFileW, CreateFile2", "ReadFile (fails)",   "ReadFile (short)",
    "WriteFile",        "FlushFileBuffers",         "SetEndOfFile",       "SetFilePointer",
    "file queries",     "CreateDIBSection",         "CreateCompatibleDC", "SelectObject",
    "CreateFontIndirectW", "registry read",         "ShellExecuteW",      "WinExec",
    "file dialog",         "COM",
};

struct Injection {
    Kind kind = kKinds;  // none
    size_t failAt = 0;
    size_t calls[kKinds] = {};
    bool fired = false;
};
Injection injection;

// Counts a call of `kind`; true when it is the one to fail.
bool Hit(Kind kind) {
    if (++injection.calls[kind] == injection.failAt && injection.kind == kind) {
        injection.fired = true;
        return true;
    }
    return false;
}

// What the DLL opened and has not closed. A close that failed left the
// handle open, so only a real close that succeeded takes it off.
std::vector<std::pair<void*, std::string>> opened;
void Opened(void* handle, const char* what) { opened.emplace_back(handle, what); }
void Closed(void* handle) {
    auto found = std::find_if(opened.begin(), opened.end(), [handle](const auto& entry) { return entry.first == handle; });
    if (found != opened.end()) opened.erase(found);
}

// What the user is asked and told.
std::wstring dialogAnswer;
std::vector<std::wstring> messages;

decltype(&CreateFileW) realCreateFile;
decltype(&GetProcAddress) realGetProcAddress;
decltype(&CloseHandle) realCloseHandle;
decltype(&ReadFile) realReadFile;
decltype(&WriteFile) realWriteFile;
decltype(&FlushFileBuffers) realFlush;
decltype(&SetEndOfFile) realSetEndOfFile;
decltype(&SetFilePointer) realSetFilePointer;
decltype(&GetFileType) realGetFileType;
decltype(&GetFileSizeEx) realGetFileSizeEx;
decltype(&GetFileInformationByHandle) realGetFileInformation;
decltype(&GetFileAttributesExW) realGetFileAttributes;
decltype(&CoInitializeEx) realCoInitialize;
decltype(&CoCreateInstance) realCoCreate;
decltype(&CreateDIBSection) realCreateDibSection;
decltype(&CreateCompatibleDC) realCreateCompatibleDc;
decltype(&SelectObject) realSelectObject;
decltype(&CreateFontIndirectW) realCreateFont;
decltype(&DeleteDC) realDeleteDc;
decltype(&DeleteObject) realDeleteObject;
decltype(&RegOpenKeyExW) realRegOpenKeyEx;
decltype(&RegQueryValueW) realRegQueryValue;
decltype(&RegCloseKey) realRegCloseKey;
decltype(&OpenPrinterW) realOpenPrinter;
decltype(&ClosePrinter) realClosePrinter;

HANDLE WINAPI InjectedCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (Hit(kCreateFile)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE file = realCreateFile(name, access, share, security, disposition, flags, templateFile);
    if (file != INVALID_HANDLE_VALUE) Opened(file, "file");
    return file;
}
// CREATEFILE2_EXTENDED_PARAMETERS is only passed on here.
using CreateFile2Procedure = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, DWORD, void*);
CreateFile2Procedure realCreateFile2;
HANDLE WINAPI InjectedCreateFile2(LPCWSTR name, DWORD access, DWORD share, DWORD disposition, void* parameters) {
    if (Hit(kCreateFile)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE file = realCreateFile2(name, access, share, disposition, parameters);
    if (file != INVALID_HANDLE_VALUE) Opened(file, "file");
    return file;
}
// The DLL looks CreateFile2 up; it finds the stand-in where the system has one.
FARPROC WINAPI InjectedGetProcAddress(HMODULE module, LPCSTR name) {
    const FARPROC found = realGetProcAddress(module, name);
    if ((reinterpret_cast<UINT_PTR>(name) >> 16) == 0 || std::strcmp(name, "CreateFile2") != 0 || found == nullptr) {
        return found;
    }
    realCreateFile2 = reinterpret_cast<CreateFile2Procedure>(reinterpret_cast<void (*)()>(found));
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&InjectedCreateFile2));
}
BOOL WINAPI TrackedCloseHandle(HANDLE handle) {
    const BOOL closed = realCloseHandle(handle);
    if (closed) Closed(handle);
    return closed;
}
BOOL WINAPI InjectedReadFile(HANDLE file, LPVOID data, DWORD count, LPDWORD got, LPOVERLAPPED overlapped) {
    if (Hit(kReadFileFails)) {
        if (got != nullptr) *got = 0;
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    if (Hit(kReadFileShort)) count /= 2;
    return realReadFile(file, data, count, got, overlapped);
}
BOOL WINAPI InjectedWriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    if (Hit(kWriteFile)) {
        if (written != nullptr) *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return realWriteFile(file, data, count, written, overlapped);
}
BOOL WINAPI InjectedFlush(HANDLE file) {
    if (Hit(kFlushFile)) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return realFlush(file);
}
BOOL WINAPI InjectedSetEndOfFile(HANDLE file) {
    if (Hit(kSetEndOfFile)) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return realSetEndOfFile(file);
}
DWORD WINAPI InjectedSetFilePointer(HANDLE file, LONG low, PLONG high, DWORD method) {
    if (Hit(kSetFilePointer)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    return realSetFilePointer(file, low, high, method);
}
DWORD WINAPI InjectedGetFileType(HANDLE file) {
    if (Hit(kFileQuery)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    return realGetFileType(file);
}
BOOL WINAPI InjectedGetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    if (Hit(kFileQuery)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return realGetFileSizeEx(file, size);
}
BOOL WINAPI InjectedGetFileInformation(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    if (Hit(kFileQuery)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return realGetFileInformation(file, information);
}
BOOL WINAPI InjectedGetFileAttributes(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
    if (Hit(kFileQuery)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return realGetFileAttributes(path, level, information);
}
HRESULT WINAPI InjectedCoInitialize(LPVOID reserved, DWORD model) {
    return Hit(kCom) ? E_OUTOFMEMORY : realCoInitialize(reserved, model);
}
HRESULT WINAPI InjectedCoCreate(REFCLSID id, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) {
    if (!Hit(kCom)) return realCoCreate(id, outer, context, iid, object);
    *object = nullptr;
    return E_OUTOFMEMORY;
}
HBITMAP WINAPI InjectedCreateDibSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                                        DWORD offset) {
    if (Hit(kDibSection)) {
        if (bits != nullptr) *bits = nullptr;
        return nullptr;
    }
    const HBITMAP made = realCreateDibSection(dc, info, usage, bits, section, offset);
    if (made != nullptr) Opened(made, "DIB section");
    return made;
}
HDC WINAPI InjectedCreateCompatibleDc(HDC dc) {
    if (Hit(kCompatibleDc)) return nullptr;
    const HDC made = realCreateCompatibleDc(dc);
    if (made != nullptr) Opened(made, "device context");
    return made;
}
HGDIOBJ WINAPI InjectedSelectObject(HDC dc, HGDIOBJ object) {
    return Hit(kSelectObject) ? nullptr : realSelectObject(dc, object);
}
HFONT WINAPI InjectedCreateFont(const LOGFONTW* font) {
    if (Hit(kFont)) return nullptr;
    const HFONT made = realCreateFont(font);
    if (made != nullptr) Opened(made, "font");
    return made;
}
BOOL WINAPI TrackedDeleteDc(HDC dc) {
    const BOOL deleted = realDeleteDc(dc);
    if (deleted) Closed(dc);
    return deleted;
}
BOOL WINAPI TrackedDeleteObject(HGDIOBJ object) {
    const BOOL deleted = realDeleteObject(object);
    if (deleted) Closed(object);
    return deleted;
}
LONG WINAPI InjectedRegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    if (Hit(kRegistry)) return ERROR_FILE_NOT_FOUND;
    const LONG answer = realRegOpenKeyEx(key, subKey, options, access, result);
    if (answer == ERROR_SUCCESS) Opened(*result, "registry key");
    return answer;
}
LONG WINAPI InjectedRegQueryValue(HKEY key, LPCWSTR subKey, LPWSTR value, PLONG size) {
    return Hit(kRegistry) ? ERROR_OUTOFMEMORY : realRegQueryValue(key, subKey, value, size);
}
LONG WINAPI TrackedRegCloseKey(HKEY key) {
    const LONG answer = realRegCloseKey(key);
    if (answer == ERROR_SUCCESS) Closed(key);
    return answer;
}
BOOL WINAPI TrackedOpenPrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
    const BOOL answer = realOpenPrinter(name, printer, defaults);
    if (answer) Opened(*printer, "printer");
    return answer;
}
BOOL WINAPI TrackedClosePrinter(HANDLE printer) {
    const BOOL closed = realClosePrinter(printer);
    if (closed) Closed(printer);
    return closed;
}
// The shell never finds a program here, so that every click goes on to the
// HTML program's command; nothing is started.
HINSTANCE WINAPI StandInShellExecute(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(Hit(kShell) ? 0 : SE_ERR_NOASSOC));
}
UINT WINAPI StandInWinExec(LPCSTR, UINT) { return Hit(kWinExec) ? 0 : 33; }
BOOL AnswerDialog(OPENFILENAMEW* dialog) {
    if (Hit(kFileDialog) || dialogAnswer.empty()) return FALSE;
    wcsncpy(dialog->lpstrFile, dialogAnswer.c_str(), dialog->nMaxFile);
    return TRUE;
}
BOOL WINAPI StandInOpenDialog(OPENFILENAMEW* dialog) { return AnswerDialog(dialog); }
BOOL WINAPI StandInSaveDialog(OPENFILENAMEW* dialog) { return AnswerDialog(dialog); }
int WINAPI RecordMessage(HWND, LPCWSTR text, LPCWSTR, UINT) {
    messages.push_back(text);
    return IDOK;
}

struct Stand {
    const char* dll;
    const char* function;
    void* replacement;
    void** real;
};
const Stand kStands[] = {
    {"kernel32.dll", "CreateFileW", reinterpret_cast<void*>(&InjectedCreateFile), reinterpret_cast<void**>(&realCreateFile)},
    {"kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&InjectedGetProcAddress), reinterpret_cast<void**>(&realGetProcAddress)},
    {"kernel32.dll", "CloseHandle", reinterpret_cast<void*>(&TrackedCloseHandle), reinterpret_cast<void**>(&realCloseHandle)},
    {"kernel32.dll", "ReadFile", reinterpret_cast<void*>(&InjectedReadFile), reinterpret_cast<void**>(&realReadFile)},
    {"kernel32.dll", "WriteFile", reinterpret_cast<void*>(&InjectedWriteFile), reinterpret_cast<void**>(&realWriteFile)},
    {"kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&InjectedFlush), reinterpret_cast<void**>(&realFlush)},
    {"kernel32.dll", "SetEndOfFile", reinterpret_cast<void*>(&InjectedSetEndOfFile), reinterpret_cast<void**>(&realSetEndOfFile)},
    {"kernel32.dll", "SetFilePointer", reinterpret_cast<void*>(&InjectedSetFilePointer), reinterpret_cast<void**>(&realSetFilePointer)},
    {"kernel32.dll", "GetFileType", reinterpret_cast<void*>(&InjectedGetFileType), reinterpret_cast<void**>(&realGetFileType)},
    {"kernel32.dll", "GetFileSizeEx", reinterpret_cast<void*>(&InjectedGetFileSizeEx), reinterpret_cast<void**>(&realGetFileSizeEx)},
    {"kernel32.dll", "GetFileInformationByHandle", reinterpret_cast<void*>(&InjectedGetFileInformation), reinterpret_cast<void**>(&realGetFileInformation)},
    {"kernel32.dll", "GetFileAttributesExW", reinterpret_cast<void*>(&InjectedGetFileAttributes), reinterpret_cast<void**>(&realGetFileAttributes)},
    {"ole32.dll", "CoInitializeEx", reinterpret_cast<void*>(&InjectedCoInitialize), reinterpret_cast<void**>(&realCoInitialize)},
    {"ole32.dll", "CoCreateInstance", reinterpret_cast<void*>(&InjectedCoCreate), reinterpret_cast<void**>(&realCoCreate)},
    {"gdi32.dll", "CreateDIBSection", reinterpret_cast<void*>(&InjectedCreateDibSection), reinterpret_cast<void**>(&realCreateDibSection)},
    {"gdi32.dll", "CreateCompatibleDC", reinterpret_cast<void*>(&InjectedCreateCompatibleDc), reinterpret_cast<void**>(&realCreateCompatibleDc)},
    {"gdi32.dll", "SelectObject", reinterpret_cast<void*>(&InjectedSelectObject), reinterpret_cast<void**>(&realSelectObject)},
    {"gdi32.dll", "DeleteDC", reinterpret_cast<void*>(&TrackedDeleteDc), reinterpret_cast<void**>(&realDeleteDc)},
    {"gdi32.dll", "DeleteObject", reinterpret_cast<void*>(&TrackedDeleteObject), reinterpret_cast<void**>(&realDeleteObject)},
    {"gdi32.dll", "CreateFontIndirectW", reinterpret_cast<void*>(&InjectedCreateFont), reinterpret_cast<void**>(&realCreateFont)},
    {"advapi32.dll", "RegOpenKeyExW", reinterpret_cast<void*>(&InjectedRegOpenKeyEx), reinterpret_cast<void**>(&realRegOpenKeyEx)},
    {"advapi32.dll", "RegQueryValueW", reinterpret_cast<void*>(&InjectedRegQueryValue), reinterpret_cast<void**>(&realRegQueryValue)},
    {"advapi32.dll", "RegCloseKey", reinterpret_cast<void*>(&TrackedRegCloseKey), reinterpret_cast<void**>(&realRegCloseKey)},
    {"winspool.drv", "OpenPrinterW", reinterpret_cast<void*>(&TrackedOpenPrinter), reinterpret_cast<void**>(&realOpenPrinter)},
    {"winspool.drv", "ClosePrinter", reinterpret_cast<void*>(&TrackedClosePrinter), reinterpret_cast<void**>(&realClosePrinter)},
    {"shell32.dll", "ShellExecuteW", reinterpret_cast<void*>(&StandInShellExecute), nullptr},
    {"kernel32.dll", "WinExec", reinterpret_cast<void*>(&StandInWinExec), nullptr},
    {"comdlg32.dll", "GetOpenFileNameW", reinterpret_cast<void*>(&StandInOpenDialog), nullptr},
    {"comdlg32.dll", "GetSaveFileNameW", reinterpret_cast<void*>(&StandInSaveDialog), nullptr},
    {"user32.dll", "MessageBoxW", reinterpret_cast<void*>(&RecordMessage), nullptr},
};

// ---- What a run leaves behind ------------------------------------------------

BOOL CALLBACK CountWindow(HWND window, LPARAM count) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) {
        ++*reinterpret_cast<size_t*>(count);
        EnumChildWindows(window, &CountWindow, count);
    }
    return TRUE;
}

// USER objects of the process; under Wine, its windows.
size_t UserObjects() {
    const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (counted != 0) return counted;
    size_t count = 0;
    EnumWindows(&CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// GDI objects are counted as the DLL makes and deletes them (see the
// stand-ins above): GetGuiResources answers nothing under Wine, and the
// process's own count moves with what Wine's controls cache.
struct Leftovers {
    size_t blocks = 0;
    size_t user = 0;
    static Leftovers Now() { return {guard::LiveBlocks(), UserObjects()}; }
};

// ---- The scenarios -------------------------------------------------------------

struct Files {
    std::wstring folder;
    std::wstring Path(const wchar_t* name) const { return folder + L"\\" + name; }
    std::vector<std::wstring> Names() const { return FilesInFolder(folder); }
    std::vector<uint8_t> Read(const wchar_t* name) const {
        std::ifstream in(Path(name).c_str(), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    void Write(const wchar_t* name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(Path(name).c_str(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
};

std::vector<uint8_t> SettingsFileWith(int8_t brightness) {
    qz410::ColorSettings settings{};
    settings.brightness = brightness;
    settings.unsharpAmount = 5;
    settings.unsharpRadius = 10;
    settings.unsharpThreshold = 5;
    const auto bytes = qz410::SerializeColorSettingsFile(settings);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

const wchar_t* const kPrinter = sizeof(void*) == 4 ? L"QZ410 Test x86" : L"QZ410 Test x64";

// One run: a fresh host session with the DLL, driven through one scenario.
class ScenarioRun {
public:
    explicit ScenarioRun(const Files& files) : files(files) {}

    // Checked on every run.
    void Always(bool holds, const char* what) {
        if (!holds) broken.push_back(std::string("always: ") + what);
    }
    // Checked only on a run in which nothing failed.
    void Normally(bool holds, const char* what) {
        if (!holds) unusual.push_back(std::string("without failure: ") + what);
    }

    // Loads the DLL; the system's answers are then steered for the rest of
    // the run. False when the host could not load it (the DLL refused).
    bool Load() {
        const bool loaded = session.Load(L"QZ410UI.DLL");
        Normally(loaded, "the host loads the plug-in");
        if (!loaded) return false;
        for (const Stand& stand : kStands) {
            patches.emplace_back(new ImportPatch(session.Module(), stand.dll, stand.function, stand.replacement));
            if (stand.real != nullptr && *patches.back()) *stand.real = patches.back()->Original<void*>();
        }
        return true;
    }
    PrivateDevMode& Live() { return *reinterpret_cast<PrivateDevMode*>(session.PrivateDevMode()); }
    std::wstring LivePath() { return reinterpret_cast<const wchar_t*>(Live().previewImagePath); }
    void SetLivePath(const std::wstring& path) {
        std::memset(Live().previewImagePath, 0, sizeof Live().previewImagePath);
        std::memcpy(Live().previewImagePath, path.c_str(), path.size() * sizeof(wchar_t));
    }

    // Opens the sheet on the plug-in's first page; null when the plug-in
    // added none.
    HWND OpenPage(qz410host::HostSession::Sheet sheet) {
        const HWND window = session.OpenModeless(sheet, 0);
        Always(window != nullptr, "the host's sheet opens");
        if (window == nullptr) return nullptr;
        session.Pump();
        const bool added = TabCtrl_GetItemCount(PropSheet_GetTabControl(window)) > session.FirstPluginPageIndex();
        Normally(added, "the plug-in's page is there");
        if (!added) return nullptr;
        page = session.ShowPage(session.FirstPluginPageIndex());
        Repaint();
        return page;
    }
    void Repaint() {
        if (page == nullptr) return;
        RedrawWindow(page, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        session.Pump();
    }
    void Click(int button) {
        SendDlgItemMessageW(page, button, BM_CLICK, 0, 0);
        Repaint();
    }
    void Move(int slider, int position) {
        HWND control = GetDlgItem(page, slider);
        SendMessageW(control, TBM_SETPOS, TRUE, position);
        SendMessageW(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(control));
        Repaint();
    }
    int Position(int slider) { return static_cast<int>(SendDlgItemMessageW(page, slider, TBM_GETPOS, 0, 0)); }
    void MessagesAmong(std::initializer_list<const wchar_t*> allowed) {
        for (const std::wstring& text : messages) {
            Always(std::any_of(allowed.begin(), allowed.end(), [&](const wchar_t* a) { return text == a; }),
                   "every message is one the command may show");
        }
    }
    void Close(int psbtn) {
        if (session.SheetWindow() != nullptr && IsWindow(session.SheetWindow())) session.Press(psbtn);
        page = nullptr;
    }

    const Files& files;
    qz410host::HostSession session;
    std::vector<std::unique_ptr<ImportPatch>> patches;
    HWND page = nullptr;
    std::vector<std::string> broken;
    std::vector<std::string> unusual;
};

using qz410host::HostSession;

void DevModeRequests(ScenarioRun& run) {
    if (!run.Load()) return;
    const PrivateDevMode& live = run.Live();
    run.Always(live.header.dwSize == sizeof(PrivateDevMode) && live.header.dwSignature == qz410::kPluginSignature,
               "the default block carries its header");
    for (DWORD mode : {DWORD{OEMDM_CONVERT}, DWORD{OEMDM_MERGE}}) {
        // An older block of the plug-in's own to be written over.
        std::vector<BYTE> out(run.session.PrivateDevMode(), run.session.PrivateDevMode() + sizeof live);
        reinterpret_cast<PrivateDevMode*>(out.data())->settings.brightness = 9;
        OEMDMPARAM param{};
        param.cbSize = sizeof param;
        param.hModule = run.session.Module();
        param.pPublicDMIn = run.session.PublicDevMode();
        param.pPublicDMOut = run.session.PublicDevMode();
        param.pOEMDMIn = run.session.PrivateDevMode();
        param.pOEMDMOut = out.data();
        param.cbBufSize = static_cast<DWORD>(out.size());
        const HRESULT answer = run.session.Plugin()->DevMode(mode, &param);
        run.Normally(answer == S_OK, "a conversion and a merge succeed");
        run.Always(answer != S_OK || std::memcmp(out.data(), &live, sizeof live) == 0,
                   "what is converted or merged is the block that went in");
    }
}

void OptionItems(ScenarioRun& run) {
    if (!run.Load()) return;
    const HWND sheet = run.session.OpenModeless(HostSession::Sheet::Document, 1);
    run.Always(sheet != nullptr, "the host's sheet opens");
    if (sheet == nullptr) return;
    run.session.Pump();
    const HWND advanced = run.session.ShowPage(1);
    const HWND list = GetDlgItem(advanced, qz410host::kOptionListBase);
    run.Normally(list != nullptr, "the Smear Control item is shown");
    if (list != nullptr) {
        SendMessageW(list, CB_SETCURSEL, 2, 0);
        SendMessageW(advanced, WM_COMMAND, MAKEWPARAM(qz410host::kOptionListBase, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
    }
    run.Close(PSBTN_OK);
    run.Always(run.Live().smearControl <= 2, "the stored choice is one of the three");
    run.Normally(run.Live().smearControl == 2, "the choice is stored");
}

void ColorPageLife(ScenarioRun& run) {
    if (!run.Load() || run.OpenPage(HostSession::Sheet::Document) == nullptr) return;
    run.Move(IDC_BRIGHTNESS, 3);
    run.Click(IDC_UNSHARP_MASK);
    run.session.Press(PSBTN_APPLYNOW);
    run.Close(PSBTN_OK);
    run.Always(run.Live().settings.brightness >= -10 && run.Live().settings.brightness <= 10,
               "the stored brightness is in its range");
    run.Normally(run.Live().settings.brightness == 3 && run.Live().settings.unsharpEnabled == 1,
                 "the edits are stored");
}

void PaintPicture(ScenarioRun& run, const wchar_t* name) {
    if (!run.Load()) return;
    const std::wstring path = run.files.Path(name);
    run.SetLivePath(path);
    if (run.OpenPage(HostSession::Sheet::Document) == nullptr) return;
    run.Move(IDC_SHARPNESS, 3);
    run.Always(run.LivePath() == path || run.LivePath().empty(), "the path is kept or cleared, nothing else");
    run.Normally(run.LivePath() == path, "the picture is used");
    run.Close(PSBTN_CANCEL);
}
void PaintWholePicture(ScenarioRun& run) { PaintPicture(run, L"picture192.bmp"); }
void PaintCrop(ScenarioRun& run) { PaintPicture(run, L"picture300.bmp"); }
void PaintPhoto(ScenarioRun& run) { PaintPicture(run, L"photo.jpg"); }
void PaintWholePng(ScenarioRun& run) { PaintPicture(run, L"wide.png"); }

void SelectFileOf(ScenarioRun& run, const wchar_t* name) {
    if (!run.Load() || run.OpenPage(HostSession::Sheet::Document) == nullptr) return;
    const std::wstring path = run.files.Path(name);
    dialogAnswer = path;
    run.Click(IDC_SELECT_FILE);
    run.Always(run.LivePath() == path || run.LivePath().empty(), "the path is the chosen one or stays empty");
    run.Normally(run.LivePath() == path && messages.empty(), "the picture is chosen");
    run.MessagesAmong({L"Could not open file.", L"This is not a bitmap image file.",
                       L"Select a 24-bit true color bitmap image file.", L"This is not a picture file."});
    run.Close(PSBTN_OK);
}
void SelectFile(ScenarioRun& run) { SelectFileOf(run, L"picture192.bmp"); }
void SelectPhoto(ScenarioRun& run) { SelectFileOf(run, L"photo.jpg"); }

void DefaultSettings(ScenarioRun& run) {
    if (!run.Load()) return;
    run.SetLivePath(run.files.Path(L"picture192.bmp"));
    run.Live().settings.brightness = 4;
    if (run.OpenPage(HostSession::Sheet::Document) == nullptr) return;
    run.Click(IDC_DEFAULT_SETTINGS);
    run.Always(run.LivePath().empty(), "the picture's path is cleared at once");
    run.Always(run.Position(IDC_BRIGHTNESS) == 0, "the sliders show the defaults");
    run.Close(PSBTN_OK);
}

// The save over a file the user had, longer than a record, or to a name that
// is new: afterwards the target is what it was (or still absent), the old
// record without the tail that the save cut first, or the whole new record.
void SaveConfigurationTo(ScenarioRun& run, bool existing) {
    std::vector<uint8_t> old = existing ? SettingsFileWith(-2) : std::vector<uint8_t>{};
    const std::vector<uint8_t> oldRecord = old;
    if (existing) old.resize(40, 0xEE);
    DeleteFileW(run.files.Path(L"target.COL").c_str());
    if (existing) run.files.Write(L"target.COL", old);
    const std::vector<std::wstring> before = run.files.Names();
    if (!run.Load() || run.OpenPage(HostSession::Sheet::Document) == nullptr) return;
    run.Move(IDC_BRIGHTNESS, 6);
    dialogAnswer = run.files.Path(L"target.COL");
    run.Click(IDC_SAVE_SETTINGS);
    const std::vector<uint8_t> now = run.files.Read(L"target.COL");
    const bool saved = now == SettingsFileWith(6);
    run.Always(now == old || now == oldRecord || saved,
               "the file is the old one (or none), its record alone or the whole new record");
    std::vector<std::wstring> expected = before;
    if (saved && !existing) {
        expected.push_back(L"target.COL");
        std::sort(expected.begin(), expected.end());
    }
    run.Always(run.files.Names() == expected, "no other file is left in the folder");
    run.Normally(saved && messages.empty(), "the record is saved");
    run.MessagesAmong({L"Could not open file.", L"Could not write file."});
    run.Close(PSBTN_CANCEL);
}
void SaveConfiguration(ScenarioRun& run) { SaveConfigurationTo(run, true); }
void SaveConfigurationToNewFile(ScenarioRun& run) { SaveConfigurationTo(run, false); }

void LoadConfiguration(ScenarioRun& run) {
    run.files.Write(L"saved.COL", SettingsFileWith(7));
    if (!run.Load() || run.OpenPage(HostSession::Sheet::Document) == nullptr) return;
    dialogAnswer = run.files.Path(L"saved.COL");
    run.Click(IDC_LOAD_SETTINGS);
    const int brightness = run.Position(IDC_BRIGHTNESS);
    run.Always(brightness == 0 || brightness == 7, "the controls show the file or what they showed");
    run.Always(brightness == 0 || messages.empty(), "a loaded file is not also refused");
    run.Normally(brightness == 7, "the file is loaded");
    run.MessagesAmong({L"Could not open file.", L"This is not a color correction data file."});
    run.Close(PSBTN_OK);
}

void VersionPage(ScenarioRun& run) {
    if (!run.Load()) return;
    const HWND page = run.OpenPage(HostSession::Sheet::Device);
    if (page == nullptr) return;
    for (int link : {IDC_VERSION_URL_LINK, IDC_VERSION_MAIL_LINK}) {
        RECT area{};
        GetWindowRect(GetDlgItem(page, link), &area);
        SetCursorPos((area.left + area.right) / 2, (area.top + area.bottom) / 2);
        SendMessageW(page, WM_MOUSEMOVE, 0, 0);
        run.Repaint();
        SendMessageW(page, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        SendMessageW(page, WM_LBUTTONUP, 0, 0);
        run.Repaint();
    }
    SetCursorPos(0, 0);
    SendMessageW(page, WM_MOUSEMOVE, 0, 0);
    run.Normally(injection.calls[kShell] == 2 && injection.calls[kWinExec] == 2,
                 "each click asks the shell, then starts the HTML program");
    // A second activation reads the time stamps again.
    run.session.ShowPage(0);
    run.session.ShowPage(run.session.FirstPluginPageIndex());
    run.Repaint();
    run.Close(PSBTN_CANCEL);
}

void PrinterEvents(ScenarioRun& run) {
    if (!run.Load()) return;
    std::wstring name = kPrinter;
    run.Always(run.session.Plugin()->PrinterEvent(name.data(), PRINTER_EVENT_INITIALIZE, 0, 0) == E_NOTIMPL,
               "the initialisation answers as it always does");
    BYTE profile[MAX_PATH * sizeof(wchar_t)] = {};
    DWORD size = sizeof profile;
    FLONG flags = 0;
    const HRESULT answer = run.session.Plugin()->QueryColorProfile(nullptr, nullptr, nullptr, nullptr, 0, profile,
                                                                    &size, &flags);
    run.Always(answer == S_OK, "the colour profile's name is given");
}

struct Scenario {
    const char* name;
    void (*drive)(ScenarioRun&);
};
const Scenario kScenarios[] = {
    {"device-mode requests", &DevModeRequests},
    {"option items, their callback and OK", &OptionItems},
    {"Color correction page: built-in picture, a slider, unsharp mask, Apply, OK", &ColorPageLife},
    {"preview of a 192 x 192 file", &PaintWholePicture},
    {"preview of a crop", &PaintCrop},
    {"preview of a JPEG's crop", &PaintPhoto},
    {"preview of a whole PNG", &PaintWholePng},
    {"Select file", &SelectFile},
    {"Select file of a JPEG", &SelectPhoto},
    {"Default settings", &DefaultSettings},
    {"Save configuration over a file", &SaveConfiguration},
    {"Save configuration to a new file", &SaveConfigurationToNewFile},
    {"Load configuration", &LoadConfiguration},
    {"Version page: activations and both links", &VersionPage},
    {"printer initialisation and colour profile", &PrinterEvents},
};

// Which call of `kind` fails next: each in turn; for the reads and the
// moves of the file position, each of the first 16, then every 32nd. A
// scenario that reads a picture row by row makes hundreds of them, and the
// later ones differ from each other only in the row. Every other kind's
// calls each do something of their own.
size_t NextFailure(Kind kind, size_t failAt) {
    const bool repeats = kind == kReadFileFails || kind == kReadFileShort || kind == kSetFilePointer;
    return !repeats || failAt < 16 ? failAt + 1 : failAt + 32;
}

class FaultInjection : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        files.folder = std::wstring(temp) + L"qz410faults" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(files.folder.c_str(), nullptr);
        qz410::test::BmpLayout whole;
        whole.width = whole.height = 192;
        files.Write(L"picture192.bmp", qz410::test::MakeBmp(whole));
        qz410::test::BmpLayout crop;
        crop.width = crop.height = 300;
        files.Write(L"picture300.bmp", qz410::test::MakeBmp(crop));
        std::vector<uint8_t> rows(size_t{3} * 400 * 300);
        for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 7 / 5);
        ASSERT_TRUE(qz410host::EncodePicture(files.Path(L"photo.jpg"), GUID_ContainerFormatJpeg,
                                             GUID_WICPixelFormat24bppBGR, 400, 300, 3 * 400, rows));
        ASSERT_TRUE(qz410host::EncodePicture(files.Path(L"wide.png"), GUID_ContainerFormatPng,
                                             GUID_WICPixelFormat24bppBGR, 300, 100, 3 * 300,
                                             std::vector<uint8_t>(rows.begin(), rows.begin() + 3 * 300 * 100)));
        bool added = false;
        std::wstring problem;
        printerReady = qz410host::InstallPrinter(kPrinter, &added, &problem);
        // The Version page's clicks go on to the HTML program's command.
        html.Register(L"C:\\browser.exe \"%1\"");
        guard::Enable(true);
    }
    void TearDown() override {
        guard::Enable(false);
        for (const std::wstring& name : files.Names()) DeleteFileW(files.Path(name.c_str()).c_str());
        RemoveDirectoryW(files.folder.c_str());
    }

    // One run of `scenario` with the failAt-th call of `kind` failing (none
    // for kKinds); reports every fault and gives the calls it counted.
    Injection RunOnce(const Scenario& scenario, Kind kind, size_t failAt, const Leftovers& baseline) {
        injection = Injection{};
        injection.kind = kind == kAllocation ? kKinds : kind;
        injection.failAt = failAt;
        opened.clear();
        messages.clear();
        dialogAnswer.clear();
        guard::ResetCounts();
        if (kind == kAllocation) guard::FailAllocation(failAt);
        std::vector<std::string> broken, unusual;
        {
            ScenarioRun run(files);
            scenario.drive(run);
            run.Close(PSBTN_CANCEL);
            broken = run.broken;
            unusual = run.unusual;
        }
        Injection seen = injection;
        seen.calls[kAllocation] = guard::AllocationCalls();
        seen.fired = kind == kAllocation ? guard::InjectedFailure() : injection.fired;
        guard::ResetCounts();
        const std::string trace = std::string(scenario.name) + ", " +
                                  (kind == kKinds ? std::string("no failure")
                                                  : "call " + std::to_string(failAt) + " of " + kKindNames[kind] +
                                                        " failing");
        SCOPED_TRACE(trace);
        for (const std::string& problem : broken) ADD_FAILURE() << problem;
        if (!seen.fired) {
            for (const std::string& problem : unusual) ADD_FAILURE() << problem;
        }
        for (const auto& entry : opened) ADD_FAILURE() << "a " << entry.second << " is left open";
        const Leftovers after = Leftovers::Now();
        EXPECT_EQ(after.blocks, baseline.blocks) << "heap blocks left behind";
        EXPECT_EQ(after.user, baseline.user) << "windows left behind";
        return seen;
    }

    Files files;
    HtmlClass html;
    bool printerReady = false;
};

TEST_F(FaultInjection, EveryFailureOneAtATimeLeavesNothingBehindAndIsAnswered) {
    ASSERT_TRUE(printerReady);
    size_t runs = 0;
    for (const Scenario& scenario : kScenarios) {
        // A first run warms up what the system makes once per process and
        // tells which calls the scenario makes.
        RunOnce(scenario, kKinds, 0, Leftovers::Now());
        const Leftovers baseline = Leftovers::Now();
        const Injection reference = RunOnce(scenario, kKinds, 0, baseline);
        for (int kind = 0; kind < kKinds; ++kind) {
            // Every scenario allocates; one that seems not to ran unguarded.
            if (kind != kAllocation && reference.calls[kind] == 0) continue;
            // A run may make more calls than the reference when a failure
            // sends it another way; it ends when a run sees no failure.
            size_t kindRuns = 0;
            const size_t taken = guard::BlocksTaken();
            for (size_t failAt = 1;; failAt = NextFailure(static_cast<Kind>(kind), failAt)) {
                ++kindRuns;
                const Injection seen = RunOnce(scenario, static_cast<Kind>(kind), failAt, baseline);
                if (!seen.fired || HasFatalFailure()) break;
            }
            EXPECT_GT(guard::BlocksTaken(), taken)
                << scenario.name << ", " << kKindNames[kind] << ": the guard took no block, nothing was tested";
            std::printf("fault injection: %s: %lu calls of %s, %lu runs\n", scenario.name,
                        static_cast<unsigned long>(reference.calls[kind]), kKindNames[kind],
                        static_cast<unsigned long>(kindRuns));
            runs += kindRuns;
        }
    }
    std::printf("fault injection: %lu runs\n", static_cast<unsigned long>(runs));
}

}  // namespace
}  // namespace qz410test
