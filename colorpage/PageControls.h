// The page's controls and the eleven settings they show.
#pragma once

#include <windows.h>

#include "settings/ColorSettings.h"

namespace qz410 {

// Sets the ten sliders' ranges (redrawn).
void SetSliderRanges(HWND hDlg) noexcept;

// Controls to settings, refreshing the value boxes; the reserved fields of
// `out` are left as they are.
void ReadPageControls(HWND hDlg, ColorSettings& out) noexcept;
// The same without touching the value boxes (the page being left).
void ReadPageControlsQuietly(HWND hDlg, ColorSettings& out) noexcept;

// Settings to the sliders and the check box; each slider holds a value
// outside its range at the nearer end. The value boxes are not touched.
void WritePageControls(HWND hDlg, const ColorSettings& in) noexcept;

// Tells the sheet (PSM_CHANGED / PSM_UNCHANGED) whether the controls differ
// from `reference`; refreshes the value boxes.
void DetectPageChange(HWND hDlg, const ColorSettings& reference) noexcept;

// Asks for the preview square alone to be drawn again, without erasing, so
// that a slider drag neither redraws the page nor flickers.
void InvalidatePreview(HWND hDlg) noexcept;

}  // namespace qz410
