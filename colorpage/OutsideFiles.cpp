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

namespace {

// CREATEFILE2_EXTENDED_PARAMETERS, which the headers declare only for
// builds that need Windows 8.
struct CreateFile2Parameters {
    DWORD dwSize;
    DWORD dwFileAttributes;
    DWORD dwFileFlags;
    DWORD dwSecurityQosFlags;
    LPSECURITY_ATTRIBUTES lpSecurityAttributes;
    HANDLE hTemplateFile;
};
using CreateFile2Procedure = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, DWORD, CreateFile2Parameters*);

CreateFile2Procedure FindCreateFile2() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return nullptr;
    // Through a procedure without parameters: a procedure's address passes
    // between procedure types only so.
    return reinterpret_cast<CreateFile2Procedure>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "CreateFile2")));
}

}  // namespace

// In CreateFileW's one flags word SECURITY_SQOS_PRESENT is the bit of
// FILE_FLAG_OPEN_NO_RECALL, so every such open also asks that the file's
// data not be brought back from remote storage: a file kept offline
// (hierarchical storage) or online only (a sync client's placeholder) may
// then be refused, and the preview would drop the path of a good picture.
// CreateFile2 keeps the quality of service apart from the file flags.
// Before Windows 8 there is no such open, and keeping a pipe's server from
// acting as the user comes first.
UniqueFile OpenOutsidePath(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) noexcept {
    if (const CreateFile2Procedure createFile2 = FindCreateFile2()) {
        CreateFile2Parameters parameters{};
        parameters.dwSize = sizeof parameters;
        parameters.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
        parameters.dwSecurityQosFlags = kOutsidePathQos;
        return UniqueFile(createFile2(path, access, share, disposition, &parameters));
    }
    return UniqueFile(CreateFileW(path, access, share, nullptr, disposition, kOutsidePathFlags, nullptr));
}

bool IsDiskFile(HANDLE file) noexcept { return GetFileType(file) == FILE_TYPE_DISK; }

UniqueFile OpenDiskFile(const wchar_t* path) noexcept {
    UniqueFile file = OpenOutsidePath(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (file && !IsDiskFile(file.Get())) file.Reset();
    return file;
}

bool RewindFile(HANDLE file) noexcept {
    LONG high = 0;
    SetLastError(NO_ERROR);
    return SetFilePointer(file, 0, &high, FILE_BEGIN) != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

UniqueFile OpenChosenFile(const wchar_t* path) noexcept {
    UniqueFile file = OpenDiskFile(path);
    if (!file) ShowMessage(L"Could not open file.");
    return file;
}

}  // namespace qz410
