// The Version page of the printer's device property sheet: the driver's
// product line, the time stamps of the installed driver files, and two links
// (the maker's web site and the support mail address) that open in the
// user's browser or mail program.
#pragma once

#include "plugin/HostContract.h"

namespace qz410 {

// Texts built for the page and for the links use buffers of this many units.
inline constexpr size_t kVersionTextUnits = 260;

// Whether the mouse was last seen over the web link (1) or the mail link (1);
// module-wide, shared by all Version pages of the process.
extern LONG urlLinkHovered;
extern LONG mailLinkHovered;

// IPrintOemUI::DevicePropertySheets: adds the Version page to the device
// sheet at PROPSHEETUI_REASON_INIT and answers the host's other requests.
HRESULT HandleDeviceSheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) noexcept;

INT_PTR CALLBACK VersionPageDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// Writes into `text` the last-write time (local time) of the file named by
// the system directory followed by `suffix`, as "yyyy/mm/dd hh:mm"; a file
// that cannot be opened or read shows "   0/00/00 00:00".
void FormatFileTimeStamp(const wchar_t* suffix, wchar_t (&text)[kVersionTextUnits]) noexcept;

// Opens `target` (a URL or "mailto:" address) through the shell or, when the
// shell cannot, with the program registered for HTML files. Returns the
// shell's result, or WinExec's when the HTML program was started.
UINT_PTR OpenLink(const wchar_t* target, int showCommand) noexcept;

// Reads the default value of `subKey` under `root` into `out` (`outUnits`
// units). 0, or the registry's error code; ERROR_MORE_DATA when the value
// with its terminator does not fit 260 units or `out`.
LONG ReadClassesRootDefault(HKEY root, const wchar_t* subKey, wchar_t* out, size_t outUnits) noexcept;

}  // namespace qz410
