// "Save configuration" and "Load configuration": the values the controls
// show, to and from a ".COL" file.
#include <windows.h>
#include <commdlg.h>

#include "colorpage/ColorPage.h"
#include "colorpage/OutsideFiles.h"
#include "colorpage/PageControls.h"
#include "settings/ColorSettingsFile.h"

namespace qz410 {

namespace {

// A read-only file is not written over, also where the file system would let
// this process write it all the same (a Unix root under Wine).
bool IsReadOnly(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    return !GetFileInformationByHandle(file, &information) ||
           (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// The save's target, opened for writing. Only a name that holds nothing is
// created, and only then is `created` set: a failed save deletes that file
// and nothing else. What an open answers in the last error beside success
// says little (a redirector may not tell that a file was there), so a file
// counts as made here only where an open that makes nothing but new files
// made it. One made by another program between the two opens is opened as
// any existing file.
UniqueFile OpenTarget(const wchar_t* path, UniqueTemporaryFile& created) {
    UniqueFile target = OpenOutsidePath(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    if (target || GetLastError() != ERROR_FILE_NOT_FOUND) return target;
    target = OpenOutsidePath(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
    if (target) {
        created.Reset(path);
    } else if (GetLastError() == ERROR_FILE_EXISTS) {
        target = OpenOutsidePath(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    }
    return target;
}

// Cuts a file that holds more than `length` bytes to `length` and goes back
// to its start; a shorter one is left as it is.
bool CutTo(HANDLE file, DWORD length) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return false;
    if (size.QuadPart <= length) return true;
    return SetFilePointer(file, static_cast<LONG>(length), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           SetEndOfFile(file) && SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

}  // namespace

void SaveSettingsFile(HWND hDlg) noexcept {
    wchar_t path[kPathUnits];
    OPENFILENAMEW dialog;
    PrepareFileDialog(dialog, hDlg, path);
    dialog.lpstrFilter = L"Color correction data file\0*.COL\0All\0*.*\0";
    dialog.lpstrDefExt = L"COL";
    // Unlike the open dialogs, the save dialog keeps the host's current
    // folder when asked to.
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (GetSaveFileNameW(&dialog) != 1) return;
    path[kPathUnits - 1] = 0;

    // The record is written over the target in place rather than into a file
    // of the save's own that then takes the target's name: that needs no
    // right but changing the target (none to create files beside it, no
    // WRITE_DAC, which a replace asks for), no name that another program may
    // hold, and the file keeps its attributes, security, links and streams.
    // The target is opened untruncated, so that one held by another program,
    // read-only or not the user's to change is refused untouched; a typed
    // path may name a pipe or a device, which is no place for a settings file.
    UniqueTemporaryFile createdTarget;  // declared first: goes after the handle
    UniqueFile target = OpenTarget(path, createdTarget);
    if (!target || !IsDiskFile(target.Get()) || IsReadOnly(target.Get())) {
        target.Reset();
        createdTarget.Reset();
        ShowMessage(L"Could not open file.");
        return;
    }

    // A longer file is cut first, so that a cut that fails (another program
    // maps the file) leaves it as it was; a write that fails after the cut
    // leaves the old record without the tail that no reader reads. The 32
    // bytes over a settings file's 32 lie in one sector the file has
    // already, so the write needs no new space and a failed one leaves the
    // old record.
    ColorSettings settings{};
    ReadPageControls(hDlg, settings);
    const auto bytes = SerializeColorSettingsFile(settings);
    DWORD written = 0;
    bool complete = CutTo(target.Get(), static_cast<DWORD>(bytes.size())) &&
                    WriteFile(target.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && FlushFileBuffers(target.Get());
    complete = CloseHandle(target.Release()) && complete;
    if (!complete) {
        // Gone before the user is told: the message may stay open for long,
        // and an application ended meanwhile would leave an empty file
        // under the user's name.
        createdTarget.Reset();
        ShowMessage(L"Could not write file.");
        return;
    }
    createdTarget.Release();
}

void LoadSettingsFile(HWND hDlg) noexcept {
    ColorPageContext* context = PageContext(hDlg);
    if (context == nullptr) return;
    wchar_t path[kPathUnits];
    OPENFILENAMEW dialog;
    PrepareFileDialog(dialog, hDlg, path);
    dialog.lpstrFilter = L"Color compensation file.\0*.COL\0ALL\0*.*\0";
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_READONLY;
    if (!ChooseExistingFile(dialog)) return;
    path[kPathUnits - 1] = 0;

    UniqueFile file = OpenChosenFile(path);
    if (!file) return;
    uint8_t bytes[kColorSettingsFileSize];
    DWORD got = 0;
    if (!ReadFile(file.Get(), bytes, sizeof bytes, &got, nullptr)) got = 0;
    const auto loaded = ParseColorSettingsFile(std::span<const uint8_t>(bytes, got));
    if (!loaded) {
        ShowMessage(L"This is not a color correction data file.");
        return;
    }
    WritePageControls(hDlg, *loaded);
    DetectPageChange(hDlg, LiveSettings(context));
    InvalidatePreview(hDlg);
}

}  // namespace qz410
