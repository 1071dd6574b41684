// "Save configuration" and "Load configuration": the values the controls
// show, to and from a ".COL" file.
#include <windows.h>
#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "colorpage/ColorPage.h"
#include "colorpage/PageControls.h"
#include "settings/ColorSettingsFile.h"

namespace qz410 {

namespace {

// A file of the save's own beside the target, created new (never one that is
// there already): the target's path with "~", `tag` and a digit behind it,
// the file name cut short where the whole would not fit the 260 units. The
// names come from the target alone, so nothing is asked of the system that
// could write past the buffer, and they lie in the target's folder, where a
// rename into its place cannot fail for want of a shared volume. Empty when
// the folder leaves no room or no such file can be created.
UniqueFile CreateSibling(const wchar_t* path, wchar_t tag, wchar_t (&sibling)[kPathUnits]) {
    constexpr size_t kSuffixUnits = 3;
    const size_t length = std::wcslen(path);
    size_t nameStart = 0;
    for (size_t i = 0; i < length; ++i) {
        if (path[i] == L'\\' || path[i] == L'/' || path[i] == L':') nameStart = i + 1;
    }
    size_t keep = std::min(length, kPathUnits - 1 - kSuffixUnits);
    // A name is not cut between the two halves of a surrogate pair.
    if (keep < length && keep > nameStart && IS_HIGH_SURROGATE(path[keep - 1])) --keep;
    if (keep < nameStart) return UniqueFile();
    std::wmemcpy(sibling, path, keep);
    sibling[keep] = L'~';
    sibling[keep + 1] = tag;
    sibling[keep + 3] = 0;
    for (wchar_t digit = L'0'; digit <= L'9'; ++digit) {
        sibling[keep + 2] = digit;
        UniqueFile file(CreateFileW(sibling, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)) return file;
    }
    return UniqueFile();
}

// Puts the complete record (`replacement`) in place of the existing target,
// which passes its attributes and security on to it. The target waits under
// a backup name (a file reserved here first, which the replace overwrites)
// until the record has its name, so that a replace that fails half-way can
// give it back; on success the backup goes.
bool ReplaceTarget(const wchar_t* path, const wchar_t* replacement) {
    wchar_t backupPath[kPathUnits];
    UniqueTemporaryFile backup;
    if (!CreateSibling(path, L'b', backupPath)) return false;
    backup.Reset(backupPath);
    if (ReplaceFileW(path, replacement, backupPath, 0, nullptr, nullptr)) return true;
    // Only here may the target have left its name: it is moved back unless
    // it is still there. Should even that fail, the backup is the user's
    // file and stays.
    if (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 && !MoveFileExW(backupPath, path, 0) &&
        GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) {
        backup.Release();
    }
    return false;
}

// A read-only file is not written over, also where the file system would let
// this process write it all the same (a Unix root under Wine), and the
// replace would refuse it then, after the record was written.
bool IsReadOnly(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    return !GetFileInformationByHandle(file, &information) ||
           (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace

void SaveSettingsFile(HWND hDlg) noexcept {
    wchar_t path[kPathUnits];
    OPENFILENAMEW dialog;
    PrepareFileDialog(dialog, hDlg, path);
    dialog.lpstrFilter = L"Color correction data file\0*.COL\0All\0*.*\0";
    dialog.lpstrDefExt = L"COL";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (GetSaveFileNameW(&dialog) != 1) return;
    path[kPathUnits - 1] = 0;

    // The target is opened for writing, and for the delete access that the
    // replace needs, without being truncated: a file that is held by another
    // program, read-only or not ours to change is refused here, untouched.
    // A path the user typed may name a pipe or a device, which is no place
    // for a settings file.
    UniqueTemporaryFile createdTarget;  // declared first: goes after the handle
    UniqueFile target(CreateFileW(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool existed = target && GetLastError() == ERROR_ALREADY_EXISTS;
    if (target && !existed) createdTarget.Reset(path);
    if (!target || !IsDiskFile(target.Get()) || IsReadOnly(target.Get())) {
        target.Reset();
        ShowMessage(L"Could not open file.");
        return;
    }

    // The record goes to a new file beside the target, which it replaces only
    // once it is complete: a failed write never leaves a short file behind
    // nor costs the user the file they had.
    wchar_t temporaryPath[kPathUnits];
    UniqueTemporaryFile temporary;
    UniqueFile file = CreateSibling(path, L't', temporaryPath);
    if (file) temporary.Reset(temporaryPath);
    ColorSettings settings{};
    ReadPageControls(hDlg, settings);
    const auto bytes = SerializeColorSettingsFile(settings);
    DWORD written = 0;
    bool complete = file &&
                    WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && FlushFileBuffers(file.Get());
    complete = file && CloseHandle(file.Release()) && complete;
    target.Reset();  // the replace opens the target itself
    if (complete) {
        complete = existed ? ReplaceTarget(path, temporaryPath)
                           : MoveFileExW(temporaryPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!complete) {
        ShowMessage(L"Could not write file.");
        return;
    }
    temporary.Release();
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
    if (GetOpenFileNameW(&dialog) != 1) return;
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
