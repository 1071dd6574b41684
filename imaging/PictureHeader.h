// What a picture file says of itself in its first bytes, read before any
// decoder of the system sees it: which of the formats the preview takes it
// is, the size it announces and, for a JPEG, the EXIF orientation. A decoder
// may make the whole picture as soon as it is created (Wine's JPEG decoder
// does), so a file that announces a picture too large to hold is refused
// here, on its header alone. Free of any platform call, like the loader.
//
// And the turning of a decoded picture upright: the stored pixels come out
// of the decoder as stored, and the preview shows them as the orientation
// says a viewer should.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/PictureLoader.h"

namespace qz410 {

enum class PictureFormat : uint8_t { unknown, bitmap, jpeg, png, gif, tiff };

// The largest picture the preview takes from a decoder: no side over 32,768
// pixels and no more than 100 megapixels, so a 40-byte PNG that announces
// 65,535 x 65,535 never reaches one.
inline constexpr uint32_t kMaxPictureSide = 32768;
inline constexpr uint64_t kMaxPicturePixels = 100'000'000;

enum class HeaderVerdict : uint8_t {
    usable,      // a format the preview takes, of a size it takes
    notPicture,  // no such format, a truncated or corrupt header, a side of 0
    tooLarge,    // over kMaxPictureSide or kMaxPicturePixels
};

struct PictureHeader {
    PictureFormat format = PictureFormat::unknown;
    HeaderVerdict verdict = HeaderVerdict::notPicture;
    // "BM" with a pixel offset that leaves room for a bit count (bfOffBits,
    // at file offset 10, of 30 or more) and a 24-bit, uncompressed info
    // header (the 16-bit value at file offset 28 is 24 and the 32-bit one at
    // 30 is 0; a file that ends before offset 34 is not plain): the loader's own
    // path (LoadPreviewPicture), which reads it afresh on every repaint and
    // decides alone whether it is usable. Nothing else is read of it: the
    // sizes stay 0 and the verdict (notPicture) does not apply.
    bool plainBitmap = false;
    // The stored size, before the orientation is applied. For a GIF the
    // first image's; the logical screen must fit the limits as well (a
    // screen of 0 x 0 is not refused here). Set as announced for a tooLarge
    // verdict too.
    uint32_t width = 0;
    uint32_t height = 0;
    // EXIF orientation, tag 274 in the first IFD of a JPEG's APP1 "Exif"
    // segment, when it holds 1..8; otherwise (and for every other format) 1.
    uint8_t orientation = 1;
};

// Reads the header from the start of `file`, front to back (Skip passes over
// what is not needed: a TIFF's first directory may lie anywhere after its
// 8-byte header, a JPEG's start of frame after segments of any length).
// Nothing is allocated: the file is read through a 4 KB window on the stack,
// so its position afterwards may lie up to 4 KB past the header, and no
// segment or directory is held whole (a JPEG's EXIF directory and a TIFF's
// are read entry by entry). The time is that of the few reads the header
// takes, but for a file that puts many small pieces before its size (JPEG
// segments or fill bytes, GIF extension blocks, TIFF entries), which are
// read through up to the file's end.
PictureHeader ReadPictureHeader(ByteSource& file) noexcept;

// Orientations 5 to 8 turn the picture a quarter, so its sides swap.
inline bool SwapsSides(uint8_t orientation) noexcept { return orientation >= 5 && orientation <= 8; }

// A rectangle of pixels, rows counted from the top.
struct PixelRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// The part of the shown (upright) picture that the preview uses, rows
// counted from the top: the whole picture when a side is 192 or less,
// otherwise its centre 192 x 192, placed as a bottom-up 24-bit BMP of the
// shown picture is cut (x0 = W / 2 - 96 and, counted from the bottom,
// y0 = H / 2 - 96), so that the same pixels give the same crop whatever
// format they came in.
PixelRect ShownPart(uint32_t shownWidth, uint32_t shownHeight) noexcept;

// The rectangle of the stored picture (storedWidth x storedHeight) that
// holds the shown rectangle `shown` of the picture turned upright by
// `orientation` (outside 1..8 as 1): a block of that rectangle, decoded as
// stored and given to PlaceStoredRows with its own size and the same
// orientation, becomes exactly the shown rectangle. A 1 x 1 `shown` gives
// the stored pixel that shows there.
PixelRect StoredRect(uint8_t orientation, uint32_t storedWidth, uint32_t storedHeight, PixelRect shown) noexcept;

// Lays rows of a stored block over white and turns them upright into the
// shown block. The stored block is `storedWidth` x `storedHeight` pixels;
// `rows` of its rows, starting at `firstRow` (from the top), are given as
// 32-bit blue-green-red-alpha pixels (straight alpha) at `bgra`, one row
// every `bgraStride` bytes. `opaque` ignores the alpha bytes (GDI leaves
// them 0). The shown block is the stored one turned by `orientation`
// (sides swapped for 5 to 8), a bottom-up 24-bit DIB at `shown` with row
// stride `shownStride` (DibStride of its width). Over white, each channel
// becomes (c * a + 255 * (255 - a) + 127) / 255. Rows given outside the
// stored block are not placed; an orientation outside 1..8 counts as 1.
// Called strip by strip (any `firstRow`, any `rows`), it fills the shown
// block the same as called once for the whole.
void PlaceStoredRows(const uint8_t* bgra, size_t bgraStride, int32_t storedWidth, int32_t storedHeight,
                     int32_t firstRow, int32_t rows, uint8_t orientation, bool opaque, uint8_t* shown,
                     int64_t shownStride) noexcept;

}  // namespace qz410
