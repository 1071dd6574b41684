// The "Color correction" document page: the host's document-sheet requests,
// the page's record and its dialog procedure.
#pragma once

#include <windows.h>

#include <span>

#include "colorpage/PictureDecoding.h"
#include "plugin/HostContract.h"
#include "plugin/UniqueResource.h"
#include "settings/ColorSettings.h"
#include "settings/PrivateDevMode.h"

namespace qz410 {

inline constexpr int kFirstControlId = 1004;  // slider "Brightness"
inline constexpr int kControlCount = 25;      // up to the "Unsharp mask" box, 1028

// One per added page, in the host's heap (it goes with that heap; nothing
// here frees it). Reached from the page window through its DWLP_USER slot.
struct ColorPageContext {
    HANDLE hComPropSheet;
    HANDLE pageHandle;
    POEMUIPSPARAM uiParam;  // pOEMDM is the live PrivateDevMode
    PFNCOMPROPSHEET pfnComPropSheet;
    ColorSettings appliedSettings;  // at page creation, then at every apply
    // The page window's scratch for cutting the centre out of a large preview
    // picture, from WM_INITDIALOG to WM_DESTROY; empty when it could not be
    // had, and the page then goes on without it.
    UniqueHeapBlock previewCropBuffer;
    // The user's picture as its decoder gave it, for as long as its file
    // stays as it was (a plain 24-bit BMP is never kept); from the first
    // repaint or choice that decodes it to WM_DESTROY.
    KeptPicture keptPicture;
    // The page's controls by id (kFirstControlId on), looked up once: every
    // repaint and every slider step reads and writes them, and a lookup by
    // id costs a round trip to the window server each time.
    HWND controls[kControlCount];
};

HRESULT HandleDocumentSheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) noexcept;

INT_PTR CALLBACK ColorPageProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

// The record of a page window; null before its WM_INITDIALOG.
ColorPageContext* PageContext(HWND hDlg) noexcept;

// The page's crop buffer, empty when the page could not have one.
inline std::span<uint8_t> CropBuffer(const ColorPageContext* context) noexcept {
    if (!context->previewCropBuffer) return {};
    return {static_cast<uint8_t*>(context->previewCropBuffer.Get()), kPreviewCropBufferSize};
}

// The host's live block, which the page edits in place.
inline PrivateDevMode* LiveDevMode(const ColorPageContext* context) noexcept {
    return static_cast<PrivateDevMode*>(context->uiParam->pOEMDM);
}
ColorSettings LiveSettings(const ColorPageContext* context) noexcept;
void StoreLiveSettings(const ColorPageContext* context, const ColorSettings& settings) noexcept;

// The handlers of "Save configuration" and "Load configuration".
void SaveSettingsFile(HWND hDlg) noexcept;
void LoadSettingsFile(HWND hDlg) noexcept;

// The page's WM_PAINT: the corrected preview picture in its frame.
void RenderPreview(HWND hDlg) noexcept;

}  // namespace qz410
