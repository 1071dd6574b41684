// How the plug-in's pages reach the host's sheet.
#pragma once

#include "plugin/HostContract.h"
#include "plugin/Module.h"

namespace qz410 {

// Adds one of the module's dialog templates as a page of the host's sheet,
// with `proc` as its dialog procedure and `lParam` as the page's own value.
// The host copies the description during the call. Returns what the host
// answers: the new page's handle, or 0 when it refused the page.
inline LONG_PTR AddModulePage(const PROPSHEETUI_INFO* info, WORD templateId, DLGPROC proc, LPARAM lParam) noexcept {
    PROPSHEETPAGEW page{};
    page.dwSize = sizeof page;
    page.dwFlags = 0;
    page.hInstance = moduleInstance;
    page.pszTemplate = MAKEINTRESOURCEW(templateId);
    page.pfnDlgProc = proc;
    page.lParam = lParam;
    return info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_ADD_PROPSHEETPAGEW, reinterpret_cast<LPARAM>(&page), 0);
}

}  // namespace qz410
