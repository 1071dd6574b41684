// The host's own pages of its sheets: "Layout" (the public device mode's
// orientation and paper) and "Advanced" (the plug-in's document option
// items) in the document sheet, "General" (the printer and its option items)
// in the device sheet.
#pragma once

#include "tools/qz410host/HostSession.h"

namespace qz410host {

struct HostPages {
    enum class Kind { Layout, Options, General };
    // The page, made with CreatePropertySheetPageW; its dialog template is
    // kept in the session for the sheet's life.
    static HPROPSHEETPAGE Create(HostSession& session, Kind kind);
    static INT_PTR PageProc(Kind kind, HWND page, UINT message, WPARAM wParam, LPARAM lParam);
};

// Control ids of the host's pages.
inline constexpr int kPortraitButton = 1101;
inline constexpr int kLandscapeButton = 1102;
inline constexpr int kPaperText = 1103;
inline constexpr int kPrinterText = 1201;
inline constexpr int kNoOptionsText = 1299;
// Option item i of the array: its label is kOptionLabelBase + i, its list
// kOptionListBase + i.
inline constexpr int kOptionLabelBase = 1300;
inline constexpr int kOptionListBase = 1600;

}  // namespace qz410host
