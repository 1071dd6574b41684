// The "Color correction" document page: the host's document-sheet requests,
// the page's record and its dialog procedure.
#pragma once

#include <windows.h>
#include <commdlg.h>

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

// The host's live block, which the page edits in place.
inline PrivateDevMode* LiveDevMode(const ColorPageContext* context) noexcept {
    return static_cast<PrivateDevMode*>(context->uiParam->pOEMDM);
}
ColorSettings LiveSettings(const ColorPageContext* context) noexcept;
void StoreLiveSettings(const ColorPageContext* context, const ColorSettings& settings) noexcept;

// A message to the user: no owner, the system's caption, an OK button.
void ShowMessage(const wchar_t* text) noexcept;

// The file dialog of the page's commands, zero-filled afresh each time: owned
// by the page, the 260-unit name buffer `path` (emptied), the first filter.
void PrepareFileDialog(OPENFILENAMEW& dialog, HWND hDlg, wchar_t* path) noexcept;

// GetOpenFileNameW, after which the process has its current folder back,
// whatever the dialog answered: the dialog leaves it in the folder it ended
// in (OFN_NOCHANGEDIR does not keep it on Windows 2000/XP), and that folder
// would stay busy in the printing application: a USB stick could not be
// removed safely, a folder not renamed. True when a file was chosen.
bool ChooseExistingFile(OPENFILENAMEW& dialog) noexcept;

// How a path from outside is opened. A path in a device mode comes with
// documents from any machine and a typed one may name a pipe, here or on
// another machine, whose server could otherwise act as the user (the
// default level is impersonation); identifying the user is all it gets.
inline constexpr DWORD kOutsidePathFlags = FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Whether a handle is a file on disk. A path from a device mode or typed into
// a file dialog may name a pipe, a console or another device, whose reads
// and writes may never return; the page's thread is the printing
// application's, so the page works with files on disk only.
bool IsDiskFile(HANDLE file) noexcept;

// An existing file on disk, opened for reading (shared for reading); empty
// when it cannot be opened or is no file on disk.
UniqueFile OpenDiskFile(const wchar_t* path) noexcept;

// The chosen file, opened as OpenDiskFile opens it; when it cannot be, the
// user is told ("Could not open file.") and the owner is empty.
UniqueFile OpenChosenFile(const wchar_t* path) noexcept;

// The handlers of "Save configuration" and "Load configuration".
void SaveSettingsFile(HWND hDlg) noexcept;
void LoadSettingsFile(HWND hDlg) noexcept;

// The page's WM_PAINT: the corrected preview picture in its frame.
void RenderPreview(HWND hDlg) noexcept;

}  // namespace qz410
