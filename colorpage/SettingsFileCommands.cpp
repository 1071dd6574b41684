// "Save configuration" and "Load configuration": the values the controls
// show, to and from a ".COL" file.
#include <windows.h>
#include <commdlg.h>

#include <cstring>
#include <cwchar>

#include "colorpage/ColorPage.h"
#include "colorpage/PageControls.h"
#include "settings/ColorSettingsFile.h"

namespace qz410 {

namespace {

// The folder part of a full path ("C:\a\b.COL" gives "C:\a"); "." when the
// path names none.
void FolderOf(const wchar_t* path, wchar_t* folder) {
    std::wcscpy(folder, path);
    wchar_t* cut = nullptr;
    for (wchar_t* c = folder; *c != 0; ++c) {
        if (*c == L'\\' || *c == L'/') cut = c;
    }
    if (cut == nullptr) {
        std::wcscpy(folder, L".");
    } else {
        // Keep the separator of a drive's root ("C:\"), where the folder
        // name without it would mean the drive's current folder.
        cut[cut > folder && cut[-1] == L':' ? 1 : 0] = 0;
    }
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

    // The record goes to a new file beside the chosen one, which replaces it
    // only once it is complete: a failed write never leaves a short file
    // behind nor costs the user a file they had.
    wchar_t folder[kPathUnits];
    wchar_t temporaryPath[MAX_PATH];
    FolderOf(path, folder);
    if (GetTempFileNameW(folder, L"COL", 0, temporaryPath) == 0) {
        ShowMessage(L"Could not open file.");
        return;
    }
    UniqueTemporaryFile temporary(temporaryPath);
    UniqueFile file(CreateFileW(temporaryPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        ShowMessage(L"Could not open file.");
        return;
    }
    ColorSettings settings{};
    ReadPageControls(hDlg, settings);
    const auto bytes = SerializeColorSettingsFile(settings);
    DWORD written = 0;
    bool complete = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && FlushFileBuffers(file.Get());
    complete = CloseHandle(file.Release()) && complete;
    if (!complete || !MoveFileExW(temporaryPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        temporary.Reset();
        ShowMessage(L"Could not write file.");
        return;
    }
    temporary.Release();
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
