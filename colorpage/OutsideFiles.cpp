#include "colorpage/OutsideFiles.h"

#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "settings/PrivateDevMode.h"

namespace qz410 {

void ShowMessage(const wchar_t* text) noexcept { MessageBoxW(nullptr, text, nullptr, MB_OK); }

void PrepareFileDialog(OPENFILENAMEW& dialog, HWND hDlg, wchar_t* path) noexcept {
    std::memset(&dialog, 0, sizeof dialog);
    std::memset(path, 0, kPathUnits * sizeof(wchar_t));
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hDlg;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = kPathUnits;
}

bool ChooseExistingFile(OPENFILENAMEW& dialog) noexcept {
    wchar_t folder[kPathUnits];
    const DWORD length = GetCurrentDirectoryW(kPathUnits, folder);
    const bool chosen = GetOpenFileNameW(&dialog) == 1;
    if (length > 0 && length < kPathUnits) SetCurrentDirectoryW(folder);
    return chosen;
}

bool IsDiskFile(HANDLE file) noexcept { return GetFileType(file) == FILE_TYPE_DISK; }

UniqueFile OpenDiskFile(const wchar_t* path) noexcept {
    UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, kOutsidePathFlags, nullptr));
    if (file && !IsDiskFile(file.Get())) file.Reset();
    return file;
}

UniqueFile OpenChosenFile(const wchar_t* path) noexcept {
    UniqueFile file = OpenDiskFile(path);
    if (!file) ShowMessage(L"Could not open file.");
    return file;
}

DWORD ReadUpTo(HANDLE file, void* buffer, DWORD count) noexcept {
    DWORD done = 0;
    while (done < count) {
        DWORD got = 0;
        if (!ReadFile(file, static_cast<BYTE*>(buffer) + done, count - done, &got, nullptr) || got == 0) break;
        done += got;
    }
    return done;
}

}  // namespace qz410
