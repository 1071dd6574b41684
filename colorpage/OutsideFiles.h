// Files named from outside the plug-in: paths typed into or chosen in the
// page's file dialogs and the preview picture's path in a device mode. Their
// opening, the dialogs that choose them and the messages about them.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include "imaging/PictureLoader.h"
#include "plugin/UniqueResource.h"

namespace qz410 {

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
inline constexpr DWORD kOutsidePathQos = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
// The same as CreateFileW's one flags word, where SECURITY_SQOS_PRESENT is
// also FILE_FLAG_OPEN_NO_RECALL: see OpenOutsidePath.
inline constexpr DWORD kOutsidePathFlags = FILE_ATTRIBUTE_NORMAL | kOutsidePathQos;

// Opens a path from outside with kOutsidePathQos and no file flag: through
// CreateFile2 where the system has it (looked up, so that the DLL still
// loads on Windows 2000), which takes the quality of service in a word of
// its own; elsewhere through CreateFileW with kOutsidePathFlags. The last
// error is the open's.
UniqueFile OpenOutsidePath(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) noexcept;

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


// A picture file as the core's loaders read it.
// Puts the file's position back at its start, for a reader that begins
// again after the header was read; false when it cannot.
bool RewindFile(HANDLE file) noexcept;

class FileSource final : public ByteSource {
public:
    explicit FileSource(HANDLE file) : file_(file) {}

    size_t Read(void* destination, size_t count) noexcept override {
        const DWORD want = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
        DWORD got = 0;
        if (!ReadFile(file_, destination, want, &got, nullptr)) return 0;
        return got;
    }

    // The crop of a large picture passes over most of its rows: moving the
    // file position costs nothing, reading them would cost the whole file.
    uint64_t Skip(uint64_t count) noexcept override {
        LONG high = static_cast<LONG>(count >> 32);
        const DWORD low = SetFilePointer(file_, static_cast<LONG>(count & 0xFFFFFFFFu), &high, FILE_CURRENT);
        if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return ByteSource::Skip(count);
        return count;
    }

    // Lets the loader refuse a file that announces more than it holds before
    // it makes a picture of the announced size.
    uint64_t Remaining() noexcept override {
        LONG high = 0;
        const DWORD low = SetFilePointer(file_, 0, &high, FILE_CURRENT);
        if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return kUnknownLength;
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file_, &size)) return kUnknownLength;
        const uint64_t position = (uint64_t{static_cast<DWORD>(high)} << 32) | low;
        const auto length = static_cast<uint64_t>(size.QuadPart);
        return length > position ? length - position : 0;
    }

private:
    HANDLE file_;
};

}  // namespace qz410
