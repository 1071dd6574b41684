// The Version page of the printer's device sheet, in the sheet the host
// shows: its template, the host's requests, the driver files' time stamps
// read from real files, the links' colours and cursor as drawn, and what a
// click hands to the shell or, failing that, to the HTML program.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "TestHost.h"
#include "tests/win/HtmlClass.h"
#include "tests/win/ImportPatch.h"
#include "tools/qz410host/HostSession.h"

namespace qz410test {
namespace {

constexpr DWORD kSentinelError = 0xC0DE;
const wchar_t kZeroStamp[] = L"   0/00/00 00:00";
const wchar_t kWebLink[] = L"http://www.brantwell.example";
const wchar_t kMailLink[] = L"mailto:help@brantwell.example";
constexpr int kUrlLink = 1029;
constexpr int kMailLinkId = 1030;

// --- The template as the resource holds it.

struct TemplateItem {
    WORD id;
    DWORD style;
    short x, y, cx, cy;
    const wchar_t* text;
};

constexpr DWORD kText = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;

const WORD* SkipText(const WORD* at) {
    if (*at == 0xFFFF) return at + 2;
    while (*at != 0) ++at;
    return at + 1;
}

class VersionPageModule : public PluginHost {};

TEST_F(VersionPageModule, TemplateHoldsItsSeventeenStatics) {
    const TemplateItem expected[] = {
        {0xFFFF, kText, 29, 12, 152, 12, L"Brantwell"},
        {0xFFFF, kText, 29, 24, 152, 12, L"Ardix QZ410 Printer Driver Ver 2.103"},
        {kUrlLink, kText, 59, 39, 110, 9, kWebLink},
        {kMailLinkId, kText, 59, 51, 110, 9, kMailLink},
        {0xFFFF, kText, 30, 39, 23, 10, L"URL"},
        {0xFFFF, kText, 30, 51, 23, 10, L"Mail"},
        {0xFFFF, WS_CHILD | WS_VISIBLE | SS_GRAYRECT, 27, 64, 160, 2, L""},
        {0xFFFF, kText, 29, 70, 79, 12, L"Windows (R) 2000/XP"},
        {0xFFFF, kText, 29, 82, 78, 12, L"Printer Driver"},
        {0xFFFF, kText, 29, 98, 60, 12, L"QZ410.GPD"},
        {111, kText, 89, 98, 64, 12, L""},
        {0xFFFF, kText, 29, 110, 60, 12, L"QZ410UI.DLL"},
        {112, kText, 89, 110, 64, 12, L""},
        {0xFFFF, kText, 29, 122, 60, 12, L"QZ410UD.DLL"},
        {113, kText, 89, 122, 64, 12, L""},
        {0xFFFF, kText, 29, 134, 60, 12, L"QZ410LM.DLL"},
        {114, kText, 89, 134, 64, 12, L""},
    };
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(106), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    ASSERT_NE(found, nullptr);
    const auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found)));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->style, static_cast<DWORD>(WS_CHILD | WS_CAPTION | DS_SETFONT));
    EXPECT_EQ(dialog->dwExtendedStyle, 0u);
    ASSERT_EQ(dialog->cdit, 17);
    EXPECT_EQ(dialog->cx, 239);
    EXPECT_EQ(dialog->cy, 158);
    const WORD* at = reinterpret_cast<const WORD*>(dialog + 0) + 9;  // past the 18-byte header
    EXPECT_EQ(*at, 0) << "no menu";
    at = SkipText(at);
    EXPECT_EQ(*at, 0) << "standard dialog class";
    at = SkipText(at);
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(at), L"Version");
    at = SkipText(at);
    EXPECT_EQ(*at, 10) << "points";
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(at + 1), L"MS Shell Dlg");
    at = SkipText(at + 1);
    for (const TemplateItem& want : expected) {
        at = reinterpret_cast<const WORD*>((reinterpret_cast<UINT_PTR>(at) + 3) & ~UINT_PTR{3});
        const auto* item = reinterpret_cast<const DLGITEMTEMPLATE*>(at);
        SCOPED_TRACE(testing::Message() << "item " << (&want - expected));
        EXPECT_EQ(item->style, want.style);
        EXPECT_EQ(item->dwExtendedStyle, 0u);
        EXPECT_EQ(item->x, want.x);
        EXPECT_EQ(item->y, want.y);
        EXPECT_EQ(item->cx, want.cx);
        EXPECT_EQ(item->cy, want.cy);
        EXPECT_EQ(item->id, want.id);
        at = reinterpret_cast<const WORD*>(at) + 9;
        EXPECT_TRUE(at[0] == 0xFFFF && at[1] == 0x0082) << "a static";
        at = SkipText(at);
        EXPECT_STREQ(reinterpret_cast<const wchar_t*>(at), want.text);
        at = SkipText(at);
        at += 1 + *at / sizeof(WORD);  // creation data
    }
}

// --- What the host asks of DevicePropertySheets.

struct HostCall {
    UINT function = 0;
    PROPSHEETPAGEW page{};
    int calls = 0;
};
HostCall hostCall;
LONG_PTR hostAnswer = 0;

LONG_PTR CALLBACK RecordingComPropSheet(HANDLE, UINT function, LPARAM lParam1, LPARAM) {
    ++hostCall.calls;
    hostCall.function = function;
    if (function == CPSFUNC_ADD_PROPSHEETPAGEW) {
        std::memcpy(&hostCall.page, reinterpret_cast<const void*>(lParam1), sizeof hostCall.page);
    }
    return hostAnswer;
}

enum class Argument { None, Header, SetResult, Null };

struct SheetCase {
    const char* what;
    bool noInfo;
    WORD version;
    WORD reason;
    Argument argument;
    LONG_PTR hostAnswer;
    HRESULT result;
    DWORD lastError;  // kSentinelError: left alone
    ULONG_PTR sheetResult;
    bool titled;
};

TEST_F(VersionPageModule, DevicePropertySheetsAnswersEveryReason) {
    constexpr ULONG_PTR kUntouched = 0x5A5A;
    const SheetCase cases[] = {
        {"init adds the page", false, 0x100, PROPSHEETUI_REASON_INIT, Argument::None, 0x1234, S_OK, kSentinelError,
         0x1234, false},
        {"init the host refuses", false, 0x100, PROPSHEETUI_REASON_INIT, Argument::None, 0, S_OK, kSentinelError, 0,
         false},
        {"info header", false, 0x100, PROPSHEETUI_REASON_GET_INFO_HEADER, Argument::Header, 0, S_OK, kSentinelError,
         1, true},
        {"destroy", false, 0x100, PROPSHEETUI_REASON_DESTROY, Argument::None, 0, S_OK, kSentinelError, 1, false},
        {"set result", false, 0x100, PROPSHEETUI_REASON_SET_RESULT, Argument::SetResult, 0, S_OK, kSentinelError, 1,
         false},
        {"icon", false, 0x100, PROPSHEETUI_REASON_GET_ICON, Argument::None, 0, S_OK, kSentinelError, 0, false},
        {"unknown reason", false, 0x100, 9, Argument::None, 0, S_OK, kSentinelError, 0, false},
        {"version 0x101", false, 0x101, PROPSHEETUI_REASON_GET_INFO_HEADER, Argument::Header, 0, E_FAIL,
         ERROR_INVALID_PARAMETER, kUntouched, false},
        {"no record", true, 0x100, PROPSHEETUI_REASON_INIT, Argument::None, 0, E_FAIL, ERROR_INVALID_PARAMETER,
         kUntouched, false},
        {"info header without header", false, 0x100, PROPSHEETUI_REASON_GET_INFO_HEADER, Argument::Null, 0, E_FAIL,
         ERROR_INVALID_PARAMETER, kUntouched, false},
        {"set result without record", false, 0x100, PROPSHEETUI_REASON_SET_RESULT, Argument::Null, 0, E_FAIL,
         ERROR_INVALID_PARAMETER, kUntouched, false},
    };
    IPrintOemUI* plugin = CreatePlugin();
    ASSERT_NE(plugin, nullptr);
    for (const SheetCase& c : cases) {
        SCOPED_TRACE(c.what);
        hostCall = HostCall{};
        hostAnswer = c.hostAnswer;
        PROPSHEETUI_INFO info{};
        info.cbSize = sizeof info;
        info.Version = c.version;
        info.Reason = c.reason;
        info.hComPropSheet = reinterpret_cast<HANDLE>(0x77);
        info.pfnComPropSheet = RecordingComPropSheet;
        info.Result = kUntouched;
        PROPSHEETUI_INFO_HEADER header{};
        header.cbSize = sizeof header;
        SETRESULT_INFO setResult{};
        setResult.cbSize = sizeof setResult;
        setResult.Result = CPSUI_OK;
        LPARAM argument = 0;
        if (c.argument == Argument::Header) argument = reinterpret_cast<LPARAM>(&header);
        if (c.argument == Argument::SetResult) argument = reinterpret_cast<LPARAM>(&setResult);
        SetLastError(kSentinelError);
        EXPECT_EQ(plugin->DevicePropertySheets(c.noInfo ? nullptr : &info, argument), c.result);
        EXPECT_EQ(GetLastError(), c.lastError);
        EXPECT_EQ(info.Result, c.sheetResult);
        if (c.titled) {
            EXPECT_STREQ(header.pTitle, L"OEM UI Page");
        } else {
            EXPECT_EQ(header.pTitle, nullptr);
        }
        const bool adds = c.reason == PROPSHEETUI_REASON_INIT && c.result == S_OK;
        EXPECT_EQ(hostCall.calls, adds ? 1 : 0);
        if (adds) {
            EXPECT_EQ(hostCall.function, static_cast<UINT>(CPSFUNC_ADD_PROPSHEETPAGEW));
            EXPECT_EQ(hostCall.page.dwSize, sizeof(PROPSHEETPAGEW));
            EXPECT_EQ(hostCall.page.dwFlags, 0u);
            EXPECT_EQ(hostCall.page.hInstance, module);
            EXPECT_EQ(hostCall.page.pszTemplate, MAKEINTRESOURCEW(106));
            EXPECT_NE(hostCall.page.pfnDlgProc, nullptr);
            EXPECT_EQ(hostCall.page.lParam, 0);
            EXPECT_EQ(hostCall.page.pszTitle, nullptr);
            EXPECT_EQ(hostCall.page.pfnCallback, nullptr);
        }
    }
    EXPECT_EQ(plugin->Release(), 0u);
}

// --- The page in the host's device sheet.

// A driver file that the test writes into the system directory, with the
// last-write time given in local time, and removes again.
class DriverFiles {
public:
    DriverFiles() {
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        systemDirectory = system;
    }
    ~DriverFiles() {
        for (auto it = files.rbegin(); it != files.rend(); ++it) DeleteFileW(it->c_str());
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) RemoveDirectoryW(it->c_str());
    }
    std::wstring Path(const std::wstring& suffix) const { return systemDirectory + suffix; }

    void Write(const std::wstring& suffix, WORD year, WORD month, WORD day, WORD hour, WORD minute) {
        const std::wstring path = Path(suffix);
        for (size_t slash = systemDirectory.size() + 1; (slash = path.find(L'\\', slash)) != std::wstring::npos;
             ++slash) {
            const std::wstring folder = path.substr(0, slash);
            if (CreateDirectoryW(folder.c_str(), nullptr)) folders.push_back(folder);
        }
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
        files.push_back(path);
        DWORD written = 0;
        WriteFile(file, "QZ410", 5, &written, nullptr);
        SetTime(file, year, month, day, hour, minute);
        CloseHandle(file);
    }
    static void SetTime(HANDLE file, WORD year, WORD month, WORD day, WORD hour, WORD minute) {
        SYSTEMTIME local{};
        local.wYear = year;
        local.wMonth = month;
        local.wDay = day;
        local.wHour = hour;
        local.wMinute = minute;
        local.wSecond = 41;  // not shown
        FILETIME localTime, utc;
        ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime));
        ASSERT_TRUE(LocalFileTimeToFileTime(&localTime, &utc));
        ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &utc));
    }
    void Remove(const std::wstring& suffix) { DeleteFileW(Path(suffix).c_str()); }

private:
    std::wstring systemDirectory;
    std::vector<std::wstring> files;
    std::vector<std::wstring> folders;
};

#if defined(_WIN64)
const std::wstring kDriverFolder = L"\\spool\\drivers\\x64\\3\\";
#else
const std::wstring kDriverFolder = L"\\spool\\drivers\\w32x86\\3\\";
#endif

class VersionPage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.Load(L"QZ410UI.DLL"));
    }
    void Open() {
        sheet = session.OpenModeless(qz410host::HostSession::Sheet::Device);
        ASSERT_NE(sheet, nullptr);
        page = session.ShowPage(session.FirstPluginPageIndex());
        ASSERT_NE(page, nullptr);
        session.Pump();
    }
    // Makes the page current again, so that it reads the stamps afresh.
    void Reactivate() {
        session.ShowPage(0);
        page = session.ShowPage(session.FirstPluginPageIndex());
        session.Pump();
    }
    std::wstring Text(int id) {
        wchar_t text[260] = {};
        GetDlgItemTextW(page, id, text, 260);
        return text;
    }
    RECT LinkRect(int id) {  // in the page's client coordinates
        RECT area{};
        GetWindowRect(GetDlgItem(page, id), &area);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&area), 2);
        return area;
    }
    POINT LinkCentre(int id) {
        RECT area{};
        GetWindowRect(GetDlgItem(page, id), &area);
        return {(area.left + area.right) / 2, (area.top + area.bottom) / 2};
    }
    // A real mouse move (and click) at a point of the screen, as the user makes it.
    void MouseAt(POINT point, bool click = false) {
        SetCursorPos(point.x, point.y);
        INPUT input[3] = {};
        for (INPUT& i : input) i.type = INPUT_MOUSE;
        const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
        input[0].mi.dx = (point.x * 65536 + width / 2) / width;
        input[0].mi.dy = (point.y * 65536 + height / 2) / height;
        input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        input[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        input[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(click ? 3 : 1, input, sizeof(INPUT));
        for (int i = 0; i < 20; ++i) {
            Sleep(10);
            session.Pump();
        }
    }
    // Pixels of `color` inside `area` of the page as it is on screen.
    int CountColor(RECT area, COLORREF color) {
        int width = 0, height = 0;
        const std::vector<unsigned char> pixels = qz410host::CaptureClient(page, &width, &height);
        int count = 0;
        for (int y = std::max<LONG>(area.top, 0); y < std::min<LONG>(area.bottom, height); ++y) {
            for (int x = std::max<LONG>(area.left, 0); x < std::min<LONG>(area.right, width); ++x) {
                const unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
                if (RGB(p[2], p[1], p[0]) == color) ++count;
            }
        }
        return count;
    }

    qz410host::HostSession session;
    HWND sheet = nullptr;
    HWND page = nullptr;
};

wchar_t longSystemDirectory[400];
UINT WINAPI LongGetSystemDirectoryW(LPWSTR buffer, UINT size) {
    const UINT length = static_cast<UINT>(wcslen(longSystemDirectory));
    if (length >= size) return length + 1;  // too small: nothing written
    wcscpy(buffer, longSystemDirectory);
    return length;
}

TEST_F(VersionPage, ShowsTheDriverFilesLastWriteTimesAtEveryActivation) {
    DriverFiles files;
    files.Write(kDriverFolder + L"qz410.gpd", 2004, 3, 5, 9, 7);
    files.Write(kDriverFolder + L"qz410ui.dll", 1999, 12, 31, 23, 59);
    files.Remove(kDriverFolder + L"qz410ud.dll");
    files.Write(L"\\qz410lm.dll", 2010, 6, 15, 12, 0);
    // Someone holds the language monitor open without sharing.
    HANDLE held = CreateFileW(files.Path(L"\\qz410lm.dll").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(Text(111), L"2004/03/05 09:07");
    EXPECT_EQ(Text(112), L"1999/12/31 23:59");
    EXPECT_EQ(Text(113), kZeroStamp);
    EXPECT_EQ(Text(114), kZeroStamp);

    // Changed while the sheet is open: seen when the page comes back.
    CloseHandle(held);
    files.Write(kDriverFolder + L"qz410.gpd", 2026, 1, 2, 3, 4);
    Reactivate();
    EXPECT_EQ(Text(111), L"2026/01/02 03:04");
    EXPECT_EQ(Text(114), L"2010/06/15 12:00");

    // A system directory that leaves no room for the file name, or does not
    // fit the buffer at all: no file is named, every stamp stays zero.
    for (size_t length : {size_t{240}, size_t{259}, size_t{300}}) {
        SCOPED_TRACE(length);
        std::wmemset(longSystemDirectory, L'd', length);
        longSystemDirectory[0] = L'C';
        longSystemDirectory[1] = L':';
        longSystemDirectory[length] = 0;
        ImportPatch patch(session.Module(), "kernel32.dll", "GetSystemDirectoryW",
                          reinterpret_cast<void*>(&LongGetSystemDirectoryW));
        ASSERT_TRUE(patch);
        Reactivate();
        for (int id : {111, 112, 113, 114}) EXPECT_EQ(Text(id), kZeroStamp) << id;
    }
}

TEST_F(VersionPage, LinksAreUnderlinedBlueAndHighlightedWithTheHandUnderTheMouse) {
    ASSERT_NO_FATAL_FAILURE(Open());
    const COLORREF blue = RGB(0, 0, 238);
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    ASSERT_NE(highlight, blue);
    const RECT url = LinkRect(kUrlLink), mail = LinkRect(kMailLinkId);

    // Underlined copies of the page font on the links only.
    const auto pageFont = reinterpret_cast<HFONT>(SendMessageW(page, WM_GETFONT, 0, 0));
    HFONT linkFonts[2] = {};
    for (int i = 0; i < 2; ++i) {
        linkFonts[i] = reinterpret_cast<HFONT>(SendDlgItemMessageW(page, i == 0 ? kUrlLink : kMailLinkId, WM_GETFONT, 0, 0));
        LOGFONTW link{}, plain{};
        ASSERT_EQ(GetObjectW(linkFonts[i], sizeof link, &link), static_cast<int>(sizeof link));
        ASSERT_EQ(GetObjectW(pageFont, sizeof plain, &plain), static_cast<int>(sizeof plain));
        EXPECT_EQ(link.lfUnderline, 1);
        EXPECT_EQ(plain.lfUnderline, 0);
        EXPECT_EQ(link.lfHeight, plain.lfHeight);
        EXPECT_STREQ(link.lfFaceName, plain.lfFaceName);
    }

    struct HoverCase {
        const char* where;
        POINT point;
        bool urlHovered, mailHovered;
    };
    RECT pageArea;
    GetWindowRect(page, &pageArea);
    const HoverCase cases[] = {
        {"nowhere near", {pageArea.left + 5, pageArea.bottom - 5}, false, false},
        {"on the web link", LinkCentre(kUrlLink), true, false},
        {"on the mail link", LinkCentre(kMailLinkId), false, true},
        {"off again", {pageArea.left + 5, pageArea.bottom - 5}, false, false},
    };
    const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    for (const HoverCase& c : cases) {
        SCOPED_TRACE(c.where);
        MouseAt(c.point);
        EXPECT_EQ(CountColor(url, highlight) > 10, c.urlHovered);
        EXPECT_EQ(CountColor(url, blue) > 10, !c.urlHovered);
        EXPECT_EQ(CountColor(mail, highlight) > 10, c.mailHovered);
        EXPECT_EQ(CountColor(mail, blue) > 10, !c.mailHovered);
        EXPECT_EQ(GetCursor() == hand, c.urlHovered || c.mailHovered);
    }
    // Nothing but the links is coloured.
    RECT whole;
    GetClientRect(page, &whole);
    EXPECT_EQ(CountColor(whole, blue), CountColor(url, blue) + CountColor(mail, blue));

    // The page's fonts go with the page.
    session.Press(PSBTN_CANCEL);
    LOGFONTW gone;
    for (HFONT font : linkFonts) EXPECT_EQ(GetObjectW(font, sizeof gone, &gone), 0);
}

// Smoothing settings of the session, set for one test and put back on every
// way out of it: Wine keeps them for the rest of the run.
class FontSmoothing {
public:
    FontSmoothing() {
        SystemParametersInfoW(SPI_GETFONTSMOOTHING, 0, &smoothing_, 0);
        SystemParametersInfoW(SPI_GETFONTSMOOTHINGTYPE, 0, &type_, 0);
    }
    ~FontSmoothing() {
        SystemParametersInfoW(SPI_SETFONTSMOOTHING, smoothing_, nullptr, 0);
        SystemParametersInfoW(SPI_SETFONTSMOOTHINGTYPE, 0, reinterpret_cast<void*>(static_cast<UINT_PTR>(type_)), 0);
    }
    FontSmoothing(const FontSmoothing&) = delete;
    FontSmoothing& operator=(const FontSmoothing&) = delete;
    static void ClearType() {
        SystemParametersInfoW(SPI_SETFONTSMOOTHING, TRUE, nullptr, 0);
        SystemParametersInfoW(SPI_SETFONTSMOOTHINGTYPE, 0, reinterpret_cast<void*>(FE_FONTSMOOTHINGCLEARTYPE), 0);
    }

private:
    BOOL smoothing_ = FALSE;
    UINT type_ = 0;
};

// Smoothed text (ClearType) drawn over itself grows darker and fringed. The
// links are drawn again on every mouse move, and must look as first drawn:
// their text over the page's own background, as the page shows it beside
// them.
TEST_F(VersionPage, LinksLookAsFirstDrawnAfterADozenHovers) {
    FontSmoothing restored;
    FontSmoothing::ClearType();
    ASSERT_NO_FATAL_FAILURE(Open());
    RECT pageArea;
    GetWindowRect(page, &pageArea);
    const POINT away{pageArea.left + 5, pageArea.bottom - 5};
    const int ids[] = {kUrlLink, kMailLinkId};
    const RECT links[] = {LinkRect(kUrlLink), LinkRect(kMailLinkId)};
    struct Screen {
        std::vector<unsigned char> pixels;
        int width = 0, height = 0;
        COLORREF At(LONG x, LONG y) const {
            const unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
            return RGB(p[2], p[1], p[0]);
        }
    };
    auto shot = [this]() {
        Screen screen;
        screen.pixels = qz410host::CaptureClient(page, &screen.width, &screen.height);
        return screen;
    };
    auto drawn = [](const Screen& screen, const RECT& area) {
        std::vector<COLORREF> part;
        for (LONG y = area.top; y < area.bottom; ++y) {
            for (LONG x = area.left; x < area.right; ++x) part.push_back(screen.At(x, y));
        }
        return part;
    };
    MouseAt(away);
    const Screen plain = shot();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(ids[i]);
        const RECT& area = links[i];
        ASSERT_GT(area.right, area.left);
        ASSERT_LT(area.right, plain.width);
        ASSERT_LE(area.bottom, plain.height);
        MouseAt(LinkCentre(ids[i]));
        const Screen hovered = shot();
        // The glyphs are where the two text colours differ; a smoothed edge
        // so faint that both colours give one pixel lies beside a stronger
        // one, so the glyphs' neighbours count as glyphs too.
        const LONG w = area.right - area.left, h = area.bottom - area.top;
        std::vector<bool> glyph(static_cast<size_t>(w * h), false);
        size_t blended = 0;
        for (LONG y = area.top; y < area.bottom; ++y) {
            for (LONG x = area.left; x < area.right; ++x) {
                const COLORREF color = plain.At(x, y);
                if (color == hovered.At(x, y)) continue;
                for (LONG ny = std::max(y - 1, area.top); ny <= std::min(y + 1, area.bottom - 1); ++ny) {
                    for (LONG nx = std::max(x - 1, area.left); nx <= std::min(x + 1, area.right - 1); ++nx) {
                        glyph[static_cast<size_t>((ny - area.top) * w + (nx - area.left))] = true;
                    }
                }
                if (color != RGB(0, 0, 238)) ++blended;  // an edge smoothed into the page
            }
        }
        EXPECT_GT(blended, 0u) << "the text is smoothed";
        size_t background = 0, wrong = 0;
        for (LONG y = area.top; y < area.bottom; ++y) {
            const COLORREF beside = plain.At(area.right, y);
            for (LONG x = area.left; x < area.right; ++x) {
                if (glyph[static_cast<size_t>((y - area.top) * w + (x - area.left))]) continue;
                ++background;
                if (plain.At(x, y) != beside) ++wrong;
            }
        }
        EXPECT_GT(background, static_cast<size_t>(w * h / 4)) << "too few pixels beside the glyphs to judge";
        EXPECT_EQ(wrong, 0u) << "pixels around the glyphs that are not the page's beside the link";
        MouseAt(away);
    }
    const std::vector<COLORREF> first[] = {drawn(plain, links[0]), drawn(plain, links[1])};
    for (int hover = 0; hover < 12; ++hover) {
        MouseAt(hover % 2 == 0 ? LinkCentre(kUrlLink) : LinkCentre(kMailLinkId));
        MouseAt(away);
    }
    const Screen last = shot();
    EXPECT_TRUE(drawn(last, links[0]) == first[0]);
    EXPECT_TRUE(drawn(last, links[1]) == first[1]);
}

// --- Clicks: the shell is made to fail, so that the HTML program's command
// from the real registry is used; WinExec records instead of running.

struct Launches {
    std::vector<std::wstring> shellTargets;
    std::vector<std::string> commandLines;
    UINT_PTR shellAnswer = SE_ERR_NOASSOC;
    bool sound = true;  // every call had the arguments the link opener must give
};
Launches launches;

HINSTANCE WINAPI RecordingShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                        LPCWSTR directory, INT show) {
    launches.shellTargets.push_back(file != nullptr ? file : L"<null>");
    launches.sound = launches.sound && owner == nullptr && verb != nullptr && wcscmp(verb, L"open") == 0 &&
                     parameters == nullptr && directory == nullptr && show == SW_SHOW;
    return reinterpret_cast<HINSTANCE>(launches.shellAnswer);
}

UINT WINAPI RecordingWinExec(LPCSTR commandLine, UINT show) {
    launches.commandLines.push_back(commandLine);
    launches.sound = launches.sound && show == SW_SHOW;
    return 33;
}

struct ClickCase {
    const char* what;
    const wchar_t* openCommand;  // null: no .htm class at all
    int link;                    // 0: a click beside both links
    UINT_PTR shellAnswer;
    const char* commandLine;     // null: WinExec is not called
};

TEST_F(VersionPage, AClickOpensTheLinkThroughTheShellOrTheHtmlProgram) {
    const ClickCase cases[] = {
        {"the shell opens it", L"C:\\browser.exe \"%1\"", kUrlLink, 42, nullptr},
        {"quoted placeholder after a blank", L"\"C:\\Program Files\\Browser\\browser.exe\" -nohome \"%1\"", kUrlLink,
         SE_ERR_NOASSOC, "\"C:\\Program Files\\Browser\\browser.exe\" -nohome  http://www.brantwell.example"},
        {"bare placeholder, options after it", L"C:\\browser.exe %1 -new-window", kMailLinkId, SE_ERR_NOASSOC,
         "C:\\browser.exe  mailto:help@brantwell.example"},
        {"no placeholder", L"C:\\browser.exe", kUrlLink, 2, "C:\\browser.exe http://www.brantwell.example"},
        {"no .htm class", nullptr, kMailLinkId, SE_ERR_NOASSOC, nullptr},
        {"a click beside the links", L"C:\\browser.exe", 0, SE_ERR_NOASSOC, nullptr},
    };
    HtmlClass html;
    ASSERT_TRUE(html.Usable());
    ASSERT_NO_FATAL_FAILURE(Open());
    ImportPatch shell(session.Module(), "shell32.dll", "ShellExecuteW",
                      reinterpret_cast<void*>(&RecordingShellExecuteW));
    ImportPatch exec(session.Module(), "kernel32.dll", "WinExec", reinterpret_cast<void*>(&RecordingWinExec));
    ASSERT_TRUE(shell);
    ASSERT_TRUE(exec);
    RECT pageArea;
    GetWindowRect(page, &pageArea);
    for (const ClickCase& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.openCommand != nullptr) {
            html.Register(c.openCommand);
        } else {
            html.Remove();
        }
        launches = Launches{};
        launches.shellAnswer = c.shellAnswer;
        // A point of its own for each click, so that no two make a double-click.
        const int row = static_cast<int>(&c - cases);
        POINT at = {pageArea.left + 5 + 8 * row, pageArea.bottom - 5};
        if (c.link != 0) {
            RECT link;
            GetWindowRect(GetDlgItem(page, c.link), &link);
            at = {link.left + 10 + 25 * row, (link.top + link.bottom) / 2};
        }
        MouseAt(at, true);
        if (c.link == 0) {
            EXPECT_TRUE(launches.shellTargets.empty());
        } else {
            ASSERT_EQ(launches.shellTargets.size(), 1u);
            EXPECT_EQ(launches.shellTargets[0], c.link == kUrlLink ? kWebLink : kMailLink);
        }
        if (c.commandLine != nullptr) {
            ASSERT_EQ(launches.commandLines.size(), 1u);
            EXPECT_EQ(launches.commandLines[0], c.commandLine);
        } else {
            EXPECT_TRUE(launches.commandLines.empty());
        }
        EXPECT_TRUE(launches.sound);
    }
}

}  // namespace
}  // namespace qz410test
