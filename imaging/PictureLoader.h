// Loading of the preview picture from a 24-bit BMP file, free of any platform
// call: the Win32 renderer supplies the file reads and the DIB section, the
// command-line tool a file stream and plain memory. Both therefore show the same
// bytes for the same file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/HeapArray.h"

namespace qz410 {

inline constexpr int32_t kPreviewSide = 192;
inline constexpr int64_t kPreviewCropStride = 3 * kPreviewSide;                     // 576
inline constexpr size_t kPreviewCropBytes = kPreviewCropStride * kPreviewSide;      // 110,592
inline constexpr size_t kPreviewCropBufferSize = 4 * kPreviewSide * kPreviewSide;   // 147,456

inline constexpr size_t kBitmapFileHeaderSize = 14;
inline constexpr size_t kBitmapInfoHeaderSize = 40;

// The largest working picture (stride times height) of a picture that is used
// whole: room for every sane picture with a side of 192 or less, and a bound
// on what a file's header can make the preview allocate.
inline constexpr int64_t kMaxWholePictureBytes = int64_t{256} << 20;

// The most pixel bytes of a whole picture that the file may leave out (they
// are shown black): one 192 x 192 picture's worth. Every repaint creates and
// filters the whole picture, so a file that announces more than it holds
// would otherwise cost a repaint of the size it announces, not of the size
// it has: a 54-byte file can announce 259 MB. With this bound no file costs
// more than its own pixel bytes plus one normal preview, while real pictures
// (complete, cut short by a few rows, or without the two padding bytes that
// bfSize leaves unread) keep working.
inline constexpr int64_t kMaxUnsuppliedPixelBytes = kPreviewCropBytes;

// The file, read front to back. Read returns fewer bytes than asked only at
// the end of the file or on a read error; after that nothing more is read.
class ByteSource {
public:
    virtual size_t Read(void* destination, size_t count) noexcept = 0;

    // Passes over `count` bytes. The default reads them into a small buffer
    // and drops them, so memory stays constant; a file can move its position
    // forward instead and make it cost nothing. Returns how many bytes were
    // passed over; fewer than `count` means the end was reached (a seeking
    // source may report all of them and let the next Read find the end).
    virtual uint64_t Skip(uint64_t count) noexcept;

    // How many bytes are left from the current position, when the source can
    // tell without reading them (a file on disk knows its size);
    // kUnknownLength when it cannot, and then only reading finds the end.
    static constexpr uint64_t kUnknownLength = UINT64_MAX;
    virtual uint64_t Remaining() noexcept { return kUnknownLength; }

protected:
    ~ByteSource() = default;
};

// Makes the working picture once its size is known: on Windows a DIB section
// created from the info block, elsewhere plain memory. Returns the first byte
// of `pixelBytes` bytes of pixel memory owned by the allocator, or null when
// the picture cannot be created. The memory need not be cleared.
class PictureAllocator {
public:
    virtual uint8_t* AllocatePicture(const uint8_t* infoBlock, size_t infoSize, int32_t width, int32_t height,
                                     size_t pixelBytes) noexcept = 0;

protected:
    ~PictureAllocator() = default;
};

// The working picture in plain memory, for everything that is not a DIB
// section.
class HeapPictureAllocator final : public PictureAllocator {
public:
    uint8_t* AllocatePicture(const uint8_t* infoBlock, size_t infoSize, int32_t width, int32_t height,
                             size_t pixelBytes) noexcept override;

    HeapArray<uint8_t> pixels;
};

// Why a file cannot be shown; the renderer then falls back to its built-in
// picture.
enum class PictureProblem {
    none,
    notBitmap,            // does not start with "BM"
    truncatedFileHeader,  // ends inside the 14-byte file header
    infoBlockTooSmall,    // bfOffBits leaves no room for a BITMAPINFOHEADER
    truncatedInfoBlock,   // ends before bfOffBits
    notTrueColor,         // biBitCount is not 24
    compressed,           // biCompression is not BI_RGB
    badHeaderSize,        // biSize below 40 or beyond the info block (whole picture)
    badWidth,             // biWidth of zero or less
    badHeight,            // biHeight of zero
    pictureTooLarge,      // whole picture over kMaxWholePictureBytes
    pixelDataMissing,     // whole picture lacking over kMaxUnsuppliedPixelBytes
    noCropBuffer,         // the page has no crop buffer
    noMemory,             // the info block could not be allocated
    pictureNotCreated,    // the allocator gave no working picture
};

// English text of a problem, for messages and logs of the tools.
const char* DescribePictureProblem(PictureProblem problem) noexcept;

struct LoadedPicture {
    PictureProblem problem = PictureProblem::none;
    // As read from the file; for a centre crop biWidth and biHeight are 192
    // and biSize 40. Empty when the file was refused before it was read.
    HeapArray<uint8_t> infoBlock;
    uint8_t* pixels = nullptr;  // the allocator's memory
    int32_t width = 0;          // W
    int32_t height = 0;         // H: negative for a top-down picture
    int32_t stride = 0;         // S = (3W + 3) & ~3
    bool cropped = false;       // the centre 192 x 192 of a larger picture

    bool Usable() const noexcept { return problem == PictureProblem::none; }
};

// Reads a preview picture file. A picture with a side of 192 or less is used
// whole, its pixel bytes read straight into the working picture; a larger
// one is cut to its centre 192 x 192 through `cropBuffer` (the page's
// 147,456-byte buffer; 110,592 bytes are used), reading only the bytes the
// crop shows, so time and memory do not depend on the picture's size when
// the source skips cheaply.
//
// Of the pixel data, bfSize - bfOffBits - 2 bytes are read (the last two
// bytes the header announces never are), and never more than the picture
// holds. A bfSize below bfOffBits + 2 (writers often leave it at 0) announces
// nothing, and the picture's size alone bounds the read. Whatever the file
// does not supply is zero; a whole picture that lacks more than
// kMaxUnsuppliedPixelBytes is refused (pixelDataMissing), before its working
// picture is made when bfSize or the source's Remaining() tell, otherwise
// once the read has found the end. A crop costs the same whatever the file
// lacks, so it is shown with its missing rows black.
//
// The info block (bfOffBits - 14 bytes) is taken whole, whatever its size;
// its memory grows with what the file actually supplies, so a header that
// announces more than the file holds costs no more than the file's length.
LoadedPicture LoadPreviewPicture(ByteSource& file, PictureAllocator& allocator,
                                 std::span<uint8_t> cropBuffer) noexcept;

}  // namespace qz410
