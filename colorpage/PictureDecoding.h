// Preview pictures in every format other than the plain 24-bit BMP, through
// the system's own decoders: the Windows Imaging Component where it is
// installed, otherwise OLE's picture loader (JPEG, GIF and BMP only).
//
// Decoding a camera's JPEG costs a third of a second, and a slider drag
// repaints on every step, so a decoded picture is kept for the page's life
// with the identity of its file and used again for as long as the file is
// unchanged.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

#include "imaging/PictureHeader.h"
#include "plugin/UniqueResource.h"
#include "settings/PrivateDevMode.h"

namespace qz410 {

// A decoded picture, upright and over white, as the preview uses it: the
// centre 192 x 192 of a larger one in the first 110,592 bytes of the page's
// crop buffer, or a picture with a side of 192 or less whole in a block of
// its own. Either way a bottom-up 24-bit DIB.
struct KeptPicture {
    bool valid = false;
    wchar_t path[kPathUnits] = {};
    // What the file was when it was decoded: a repaint asks the file system
    // for these (no open, no read) and decodes again only when they differ.
    DWORD sizeHigh = 0;
    DWORD sizeLow = 0;
    FILETIME lastWrite = {};
    int32_t width = 0;
    int32_t height = 0;
    UniqueHeapBlock whole;  // empty for a crop, which lives in the crop buffer
};

enum class DecodeOutcome {
    decoded,
    notPicture,    // no format here, or no decoder here reads it (also
                   // one that fails halfway)
    tooLarge,      // its header announces more than the preview takes
    noCropBuffer,  // the page has no crop buffer to decode through
    noMemory,      // the kept picture could not be had
};

// Decodes the disk file `file` at `path`, whose first bytes gave `header`
// (not a plain bitmap), from its start into `kept` with the file's identity,
// through `cropBuffer` (the page's 147,456 bytes). `kept` is invalid unless
// the answer is `decoded`.
DecodeOutcome DecodePicture(HANDLE file, const wchar_t* path, const PictureHeader& header,
                            std::span<uint8_t> cropBuffer, KeptPicture& kept) noexcept;

// The kept pixels, or null when nothing is kept.
const uint8_t* KeptPixels(const KeptPicture& kept, std::span<uint8_t> cropBuffer) noexcept;

// Whether the file at `kept.path` is still the one that was decoded: one
// attribute query, no open.
bool StillTheKeptFile(const KeptPicture& kept, const wchar_t* path) noexcept;

// Forgets the kept picture and frees what it held.
void ForgetKeptPicture(KeptPicture& kept) noexcept;

}  // namespace qz410
