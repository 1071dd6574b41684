#include "versionpage/VersionPage.h"

#include <utility>

#include "plugin/SheetPage.h"
#include "plugin/UniqueResource.h"
#include "resources/resource.h"
#include "versionpage/CommandTemplate.h"

namespace qz410 {

// Whether the mouse was last seen over the web link and over the mail link.
// Module-wide, shared by every Version page of the process; only the sheet's
// window thread touches them.
LONG urlLinkHovered = 0;
LONG mailLinkHovered = 0;

namespace {

const wchar_t kSheetTitle[] = L"OEM UI Page";
constexpr COLORREF kLinkColor = 0xEE0000;  // blue 238

// A 64-bit system keeps its driver files under the x64 environment's folder;
// the language monitor lies in the system directory itself.
#if defined(_WIN64)
#define QZ410_DRIVER_FOLDER L"\\spool\\drivers\\x64\\3\\"
#else
#define QZ410_DRIVER_FOLDER L"\\spool\\drivers\\w32x86\\3\\"
#endif

struct DriverFile {
    int control;
    const wchar_t* suffix;
};
constexpr DriverFile kDriverFiles[] = {
    {IDC_VERSION_GPD_TIME, QZ410_DRIVER_FOLDER L"qz410.gpd"},
    {IDC_VERSION_UI_TIME, QZ410_DRIVER_FOLDER L"qz410ui.dll"},
    {IDC_VERSION_UD_TIME, QZ410_DRIVER_FOLDER L"qz410ud.dll"},
    {IDC_VERSION_LM_TIME, L"\\qz410lm.dll"},
};

struct Link {
    int control;
    LONG* hovered;
};
constexpr Link kLinks[] = {
    {IDC_VERSION_URL_LINK, &urlLinkHovered},
    {IDC_VERSION_MAIL_LINK, &mailLinkHovered},
};

// What a page owns from WM_INITDIALOG to WM_DESTROY: the underlined copies of
// the page font on its two links, in kLinks order. Kept at DWLP_USER.
struct VersionPageState {
    UniqueGdiObject linkFonts[2];
};

void UnderlineLinks(HWND hDlg) noexcept {
    UniqueHeapObject<VersionPageState> state = MakeHeapObject<VersionPageState>();
    // Without a place to own them the fonts would leak: the links then keep
    // the plain page font.
    if (!state) return;
    for (size_t i = 0; i < 2; ++i) {
        const HWND link = GetDlgItem(hDlg, kLinks[i].control);
        const auto pageFont = reinterpret_cast<HFONT>(SendMessageW(link, WM_GETFONT, 0, 0));
        LOGFONTW description;
        if (pageFont == nullptr || GetObjectW(pageFont, sizeof description, &description) != sizeof description) {
            continue;
        }
        description.lfUnderline = TRUE;
        UniqueGdiObject font(CreateFontIndirectW(&description));
        if (!font) continue;
        SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
        state.Get()->linkFonts[i] = std::move(font);
    }
    SetWindowLongPtrW(hDlg, DWLP_USER, reinterpret_cast<LONG_PTR>(state.Release()));
}

void ReleaseLinkFonts(HWND hDlg) noexcept {
    UniqueHeapObject<VersionPageState> state(
        reinterpret_cast<VersionPageState*>(SetWindowLongPtrW(hDlg, DWLP_USER, 0)));
    if (!state) return;
    // The links go back to the page font before theirs is deleted, so that no
    // control is left holding a deleted font.
    const WPARAM pageFont = static_cast<WPARAM>(SendMessageW(hDlg, WM_GETFONT, 0, 0));
    for (size_t i = 0; i < 2; ++i) {
        if (state.Get()->linkFonts[i]) {
            SendDlgItemMessageW(hDlg, kLinks[i].control, WM_SETFONT, pageFont, FALSE);
        }
    }
}

void ShowTimeStamps(HWND hDlg) noexcept {
    wchar_t text[kVersionTextUnits];
    for (const DriverFile& file : kDriverFiles) {
        FormatFileTimeStamp(file.suffix, text);
        SetDlgItemTextW(hDlg, file.control, text);
    }
}

bool OverWindow(HWND window, const POINT* point) noexcept {
    RECT area;
    return point != nullptr && GetWindowRect(window, &area) && PtInRect(&area, *point);
}

void TrackLinks(HWND hDlg) noexcept {
    POINT cursor;
    const POINT* point = GetCursorPos(&cursor) ? &cursor : nullptr;
    for (const Link& link : kLinks) {
        const HWND control = GetDlgItem(hDlg, link.control);
        *link.hovered = OverWindow(control, point) ? 1 : 0;
        // Redrawn whether it changed or not; the repaint's WM_CTLCOLORSTATIC
        // colours it and, while hovered, shows the hand.
        RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
}

void OpenClickedLink(HWND hDlg) noexcept {
    POINT cursor;
    if (!GetCursorPos(&cursor)) return;
    for (const Link& link : kLinks) {
        const HWND control = GetDlgItem(hDlg, link.control);
        if (!OverWindow(control, &cursor)) continue;
        // The link's text is its target.
        wchar_t target[kVersionTextUnits] = {};
        GetWindowTextW(control, target, kVersionTextUnits);
        OpenLink(target, SW_SHOW);
    }
}

// The page's own background under a link, painted into the link's drawing
// context before its text. A link is drawn again on every mouse move with a
// transparent background and no brush (so that the page's background, a
// themed texture included, shows through), and smoothed text (ClearType)
// drawn over its own earlier drawing grows darker and fringed. The page
// erases as it always does, with the viewport moved so that the page's
// origin lies where it lies on the page: a themed page fills its erase from
// the viewport origin (DrawThemeParentBackground moves the viewport too), so
// a moved window origin would show the texture's top rows under each link.
void PaintPageBackground(HWND hDlg, HWND control, HDC dc) noexcept {
    POINT origin{0, 0};
    MapWindowPoints(control, hDlg, &origin, 1);
    POINT viewportOrigin, brushOrigin;
    if (!OffsetViewportOrgEx(dc, -origin.x, -origin.y, &viewportOrigin)) return;
    SetBrushOrgEx(dc, -origin.x, -origin.y, &brushOrigin);
    SendMessageW(hDlg, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    SetBrushOrgEx(dc, brushOrigin.x, brushOrigin.y, nullptr);
    SetViewportOrgEx(dc, viewportOrigin.x, viewportOrigin.y, nullptr);
}

INT_PTR ColorStatic(HWND hDlg, HDC dc, HWND control) noexcept {
    const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    const int id = GetDlgCtrlID(control);
    for (const Link& link : kLinks) {
        if (id != link.control) continue;
        PaintPageBackground(hDlg, control, dc);
        if (*link.hovered != 0) {
            SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
            if (hand != nullptr) SetCursor(hand);
        } else {
            SetTextColor(dc, kLinkColor);
        }
    }
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
}

}  // namespace

HRESULT HandleDeviceSheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) noexcept {
    if (pPSUIInfo == nullptr || pPSUIInfo->Version != PROPSHEETUI_INFO_VERSION) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    switch (pPSUIInfo->Reason) {
    case PROPSHEETUI_REASON_INIT: {
        if (pPSUIInfo->pfnComPropSheet == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return E_FAIL;
        }
        pPSUIInfo->Result =
            static_cast<ULONG_PTR>(AddModulePage(pPSUIInfo, IDD_VERSION_PAGE, VersionPageDlgProc, 0));
        break;
    }
    case PROPSHEETUI_REASON_GET_INFO_HEADER: {
        auto* header = reinterpret_cast<PPROPSHEETUI_INFO_HEADER>(lParam);
        if (header == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return E_FAIL;
        }
        header->pTitle = const_cast<LPWSTR>(kSheetTitle);
        pPSUIInfo->Result = 1;
        break;
    }
    case PROPSHEETUI_REASON_DESTROY:
        pPSUIInfo->Result = 1;
        break;
    case PROPSHEETUI_REASON_SET_RESULT: {
        const auto* result = reinterpret_cast<const SETRESULT_INFO*>(lParam);
        if (result == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return E_FAIL;
        }
        pPSUIInfo->Result = static_cast<ULONG_PTR>(result->Result);
        break;
    }
    default:
        pPSUIInfo->Result = 0;
        break;
    }
    return S_OK;
}

INT_PTR CALLBACK VersionPageDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
    case WM_INITDIALOG:
        urlLinkHovered = 0;
        mailLinkHovered = 0;
        UnderlineLinks(hDlg);
        break;
    case WM_DESTROY:
        ReleaseLinkFonts(hDlg);
        break;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header != nullptr && header->code == static_cast<UINT>(PSN_SETACTIVE)) ShowTimeStamps(hDlg);
        break;
    }
    case WM_CTLCOLORSTATIC:
        return ColorStatic(hDlg, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_MOUSEMOVE:
        TrackLinks(hDlg);
        break;
    case WM_LBUTTONDOWN:
        OpenClickedLink(hDlg);
        break;
    default:
        break;
    }
    return 0;
}

void FormatFileTimeStamp(const wchar_t* suffix, wchar_t (&text)[kVersionTextUnits]) noexcept {
    SYSTEMTIME time{};
    // A system directory that leaves no room for the suffix names no file
    // that could be opened here: the stamp stays zero.
    const UINT directoryLength = GetSystemDirectoryW(text, kVersionTextUnits);
    bool named = directoryLength != 0 && directoryLength < kVersionTextUnits;
    if (named) {
        text[directoryLength] = 0;
        named = AppendBounded(text + directoryLength, kVersionTextUnits - directoryLength, suffix);
    }
    if (named) {
        FILETIME written;
        bool read = false;
        {
            // No sharing: a file that someone is writing shows no time.
            UniqueFile file(CreateFileW(text, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            read = file && GetFileTime(file.Get(), nullptr, nullptr, &written);
        }
        FILETIME local;
        SYSTEMTIME converted;
        if (read && FileTimeToLocalFileTime(&written, &local) && FileTimeToSystemTime(&local, &converted)) {
            time = converted;
        }
    }
    wsprintfW(text, L"%4d/%02d/%02d %02d:%02d", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute);
}

}  // namespace qz410
