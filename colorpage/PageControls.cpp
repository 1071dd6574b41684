#include "colorpage/PageControls.h"

#include <commctrl.h>
#include <prsht.h>

#include "colorpage/ColorPage.h"
#include "resources/resource.h"

namespace qz410 {

namespace {

// A control of the page, from the record's table once there is one (before
// WM_INITDIALOG has stored the record, by id).
HWND PageControl(HWND hDlg, int id) {
    const ColorPageContext* context = PageContext(hDlg);
    if (context != nullptr && id >= kFirstControlId && id < kFirstControlId + kControlCount) {
        return context->controls[id - kFirstControlId];
    }
    return GetDlgItem(hDlg, id);
}

void SetRange(HWND hDlg, int slider, SettingRange range) {
    SendMessageW(PageControl(hDlg, slider), TBM_SETRANGE, TRUE,
                 MAKELPARAM(static_cast<WORD>(range.minimum), static_cast<WORD>(range.maximum)));
}

// The low 16 bits of a slider's position.
uint16_t Position(HWND hDlg, int slider) {
    return static_cast<uint16_t>(SendMessageW(PageControl(hDlg, slider), TBM_GETPOS, 0, 0));
}

void SetPosition(HWND hDlg, int slider, LONG value) {
    SendMessageW(PageControl(hDlg, slider), TBM_SETPOS, TRUE, static_cast<LPARAM>(value));
}

// A value box shows `text`. Setting a window's text costs a round trip to the
// window server, and a slider step changes one box of eleven, so a box is
// only written when its text changes.
void Show(HWND hDlg, int box, const wchar_t* text) {
    const HWND control = PageControl(hDlg, box);
    wchar_t shown[16];
    const LRESULT length = SendMessageW(control, WM_GETTEXT, 16, reinterpret_cast<LPARAM>(shown));
    if (length >= 0 && length < 15 && lstrcmpW(shown, text) == 0) return;
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

int16_t ReadSigned(HWND hDlg, int slider, int box, bool refresh) {
    const int16_t value = static_cast<int16_t>(Position(hDlg, slider));
    if (refresh) {
        wchar_t text[16];
        wsprintfW(text, L"%d", static_cast<int>(value));
        Show(hDlg, box, text);
    }
    return value;
}

uint16_t ReadUnsigned(HWND hDlg, int slider, int box, bool refresh) {
    const uint16_t value = Position(hDlg, slider);
    if (refresh) {
        wchar_t text[16];
        wsprintfW(text, L"%u", static_cast<unsigned>(value));
        Show(hDlg, box, text);
    }
    return value;
}

void ReadControls(HWND hDlg, ColorSettings& out, bool refresh) {
    out.brightness = ReadSigned(hDlg, IDC_BRIGHTNESS, IDC_BRIGHTNESS_VALUE, refresh);
    out.contrast = ReadSigned(hDlg, IDC_CONTRAST, IDC_CONTRAST_VALUE, refresh);
    out.saturation = ReadSigned(hDlg, IDC_SATURATION, IDC_SATURATION_VALUE, refresh);
    out.cyanRed = ReadSigned(hDlg, IDC_CYAN_RED, IDC_CYAN_RED_VALUE, refresh);
    out.magentaGreen = ReadSigned(hDlg, IDC_MAGENTA_GREEN, IDC_MAGENTA_GREEN_VALUE, refresh);
    out.yellowBlue = ReadSigned(hDlg, IDC_YELLOW_BLUE, IDC_YELLOW_BLUE_VALUE, refresh);
    out.sharpness = ReadUnsigned(hDlg, IDC_SHARPNESS, IDC_SHARPNESS_VALUE, refresh);
    out.unsharpEnabled =
        SendMessageW(PageControl(hDlg, IDC_UNSHARP_MASK), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;

    wchar_t text[16];
    out.unsharpAmount = static_cast<int16_t>(Position(hDlg, IDC_UNSHARP_AMOUNT));
    if (refresh) {
        // Shown in percent: 25 % a step from 25 % at the left end.
        wsprintfW(text, L"%d", static_cast<int>(static_cast<int16_t>(25 * (out.unsharpAmount + 1))));
        Show(hDlg, IDC_UNSHARP_AMOUNT_VALUE, text);
    }
    out.unsharpRadius = static_cast<int16_t>(Position(hDlg, IDC_UNSHARP_RADIUS));
    if (refresh) {
        // Stored in tenths of a pixel.
        wsprintfW(text, L"%d.%d", out.unsharpRadius / 10, out.unsharpRadius % 10);
        Show(hDlg, IDC_UNSHARP_RADIUS_VALUE, text);
    }
    out.unsharpThreshold = static_cast<int16_t>(ReadUnsigned(hDlg, IDC_UNSHARP_THRESHOLD,
                                                             IDC_UNSHARP_THRESHOLD_VALUE, refresh));
}

bool SameValues(const ColorSettings& a, const ColorSettings& b) {
    return a.brightness == b.brightness && a.contrast == b.contrast && a.saturation == b.saturation &&
           a.cyanRed == b.cyanRed && a.magentaGreen == b.magentaGreen && a.yellowBlue == b.yellowBlue &&
           a.sharpness == b.sharpness && a.unsharpEnabled == b.unsharpEnabled &&
           a.unsharpAmount == b.unsharpAmount && a.unsharpRadius == b.unsharpRadius &&
           a.unsharpThreshold == b.unsharpThreshold;
}

}  // namespace

void SetSliderRanges(HWND hDlg) noexcept {
    SetRange(hDlg, IDC_BRIGHTNESS, kBalanceRange);
    SetRange(hDlg, IDC_CONTRAST, kBalanceRange);
    SetRange(hDlg, IDC_SATURATION, kBalanceRange);
    SetRange(hDlg, IDC_CYAN_RED, kBalanceRange);
    SetRange(hDlg, IDC_MAGENTA_GREEN, kBalanceRange);
    SetRange(hDlg, IDC_YELLOW_BLUE, kBalanceRange);
    SetRange(hDlg, IDC_SHARPNESS, kSharpnessRange);
    SetRange(hDlg, IDC_UNSHARP_AMOUNT, kUnsharpAmountRange);
    SetRange(hDlg, IDC_UNSHARP_RADIUS, kUnsharpRadiusRange);
    SetRange(hDlg, IDC_UNSHARP_THRESHOLD, kUnsharpThresholdRange);
}

void ReadPageControls(HWND hDlg, ColorSettings& out) noexcept { ReadControls(hDlg, out, true); }

void ReadPageControlsQuietly(HWND hDlg, ColorSettings& out) noexcept { ReadControls(hDlg, out, false); }

void WritePageControls(HWND hDlg, const ColorSettings& in) noexcept {
    SetPosition(hDlg, IDC_BRIGHTNESS, in.brightness);
    SetPosition(hDlg, IDC_CONTRAST, in.contrast);
    SetPosition(hDlg, IDC_SATURATION, in.saturation);
    SetPosition(hDlg, IDC_CYAN_RED, in.cyanRed);
    SetPosition(hDlg, IDC_MAGENTA_GREEN, in.magentaGreen);
    SetPosition(hDlg, IDC_YELLOW_BLUE, in.yellowBlue);
    SetPosition(hDlg, IDC_SHARPNESS, in.sharpness);
    SendMessageW(PageControl(hDlg, IDC_UNSHARP_MASK), BM_SETCHECK,
                 in.unsharpEnabled == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    SetPosition(hDlg, IDC_UNSHARP_AMOUNT, in.unsharpAmount);
    SetPosition(hDlg, IDC_UNSHARP_RADIUS, in.unsharpRadius);
    SetPosition(hDlg, IDC_UNSHARP_THRESHOLD, in.unsharpThreshold);
}

void DetectPageChange(HWND hDlg, const ColorSettings& reference) noexcept {
    ColorSettings shown{};
    ReadPageControls(hDlg, shown);
    SendMessageW(GetParent(hDlg), SameValues(shown, reference) ? PSM_UNCHANGED : PSM_CHANGED,
                 reinterpret_cast<WPARAM>(hDlg), 0);
}

void InvalidatePreview(HWND hDlg) noexcept {
    const RECT preview{5, 5, 197, 197};
    InvalidateRect(hDlg, &preview, FALSE);
}

}  // namespace qz410
