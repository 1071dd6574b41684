#include "imaging/PictureHeader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qz410 {

namespace {

// The file seen through a small window. The header's fields come a few bytes
// at a time, and each Read of the renderer's file is a system call; the
// window turns the walk over a JPEG's or GIF's many small pieces into a few
// reads, and Skip still moves the file past the large ones unread.
class HeaderBytes {
public:
    explicit HeaderBytes(ByteSource& source) : source_(source) {}

    // The next `count` bytes (at most kWindow), left unread; null when the
    // file ends before them.
    const uint8_t* Peek(size_t count) {
        if (end_ - next_ < count) {
            std::memmove(window_, window_ + next_, end_ - next_);
            end_ -= next_;
            next_ = 0;
            while (end_ < count && !ended_) {
                const size_t want = kWindow - end_;
                const size_t got = source_.Read(window_ + end_, want);
                end_ += std::min(got, want);
                ended_ = got < want;
            }
            if (end_ < count) return nullptr;
        }
        return window_ + next_;
    }

    // The next `count` bytes (at most kWindow), valid until the next call;
    // null when the file ends before them.
    const uint8_t* Take(size_t count) {
        const uint8_t* bytes = Peek(count);
        if (bytes != nullptr) next_ += count;
        return bytes;
    }

    // Passes over `count` bytes; false when the file is known to end before.
    // A seeking source may move past its end: the next Take finds it.
    bool Skip(uint64_t count) {
        const size_t held = end_ - next_;
        if (count <= held) {
            next_ += static_cast<size_t>(count);
            return true;
        }
        count -= held;
        next_ = end_ = 0;
        if (ended_) return false;
        if (source_.Skip(count) < count) {
            ended_ = true;
            return false;
        }
        return true;
    }

private:
    static constexpr size_t kWindow = 4096;

    ByteSource& source_;
    size_t next_ = 0;
    size_t end_ = 0;
    bool ended_ = false;
    uint8_t window_[kWindow];
};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t{Le16(p)} | uint32_t{Le16(p + 2)} << 16; }
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) { return uint32_t{Be16(p)} << 16 | Be16(p + 2); }

// The byte order a TIFF structure (a TIFF file, a JPEG's EXIF block) names
// in its first two bytes.
struct TiffOrder {
    bool big = false;

    uint16_t U16(const uint8_t* p) const { return big ? Be16(p) : Le16(p); }
    uint32_t U32(const uint8_t* p) const { return big ? Be32(p) : Le32(p); }
};

// The 8-byte TIFF header: byte order, 42, first IFD offset. False for
// anything else, BigTIFF's 43 included.
bool ReadTiffHeader(const uint8_t* p, TiffOrder& order, uint32_t& firstIfd) {
    if (p[0] == 'I' && p[1] == 'I') {
        order.big = false;
    } else if (p[0] == 'M' && p[1] == 'M') {
        order.big = true;
    } else {
        return false;
    }
    if (order.U16(p + 2) != 42) return false;
    firstIfd = order.U32(p + 4);
    return true;
}

constexpr size_t kIfdEntrySize = 12;
constexpr uint16_t kTiffShort = 3;
constexpr uint16_t kTiffLong = 4;

PictureHeader Judge(PictureHeader header, uint32_t width, uint32_t height) {
    header.width = width;
    header.height = height;
    if (width == 0 || height == 0) {
        header.verdict = HeaderVerdict::notPicture;
    } else if (width > kMaxPictureSide || height > kMaxPictureSide ||
               uint64_t{width} * height > kMaxPicturePixels) {
        header.verdict = HeaderVerdict::tooLarge;
    } else {
        header.verdict = HeaderVerdict::usable;
    }
    return header;
}

// BITMAPFILEHEADER (14 bytes), then BITMAPCOREHEADER (12 bytes, 16-bit
// sizes) or an info header of 40 bytes or more (signed 32-bit sizes).
PictureHeader ReadBitmap(HeaderBytes& bytes, PictureHeader header) {
    // The loader's own test, word for word, so that whatever it takes goes
    // to it and whatever it refuses for its depth or compression does not;
    // a pixel offset that leaves no room for the bit count leaves nothing
    // for the loader to test.
    const uint8_t* loaderFields = bytes.Peek(34);
    if (loaderFields != nullptr && Le32(loaderFields + 10) >= 30 && Le16(loaderFields + 28) == 24 &&
        Le32(loaderFields + 30) == 0) {
        header.plainBitmap = true;
        return header;
    }
    const uint8_t* core = bytes.Peek(14 + 12);
    if (core == nullptr) return header;
    const uint32_t headerSize = Le32(core + 14);
    // Pixels that would begin inside the headers are no bitmap's: decoders
    // differ in what they make of them (Windows' may read the header as
    // pixels).
    if (Le32(core + 10) < 14 + uint64_t{headerSize}) return header;
    if (headerSize == 12) return Judge(header, Le16(core + 18), Le16(core + 20));
    if (headerSize < 40) return header;
    const uint8_t* info = bytes.Peek(14 + 40);
    if (info == nullptr) return header;
    const auto width = static_cast<int32_t>(Le32(info + 18));
    const auto height = static_cast<int32_t>(Le32(info + 22));
    if (width <= 0) return header;
    // A negative height is a top-down picture of as many rows.
    const int64_t rows = height < 0 ? -int64_t{height} : height;
    return Judge(header, static_cast<uint32_t>(width), static_cast<uint32_t>(rows));
}

// The orientation (tag 274) in IFD0 of an EXIF block of `length` bytes
// (after "Exif\0\0"), read front to back: IFD0 lies after the 8-byte header
// in every real file, and the tag's one SHORT is held in its entry. Leaves
// `orientation` alone unless the tag is well formed and in range. Returns
// how many bytes of the block it passed over.
uint32_t ReadExifOrientation(HeaderBytes& bytes, uint32_t length, uint8_t& orientation) {
    if (length < 8) return 0;
    const uint8_t* tiff = bytes.Take(8);
    if (tiff == nullptr) return 0;
    TiffOrder order;
    uint32_t ifd = 0;
    if (!ReadTiffHeader(tiff, order, ifd) || ifd < 8 || ifd > length - 2) return 8;
    if (!bytes.Skip(ifd - 8)) return 8;
    const uint8_t* countBytes = bytes.Take(2);
    if (countBytes == nullptr) return ifd;
    const uint32_t entries = order.U16(countBytes);
    uint32_t used = ifd + 2;
    for (uint32_t i = 0; i < entries && length - used >= kIfdEntrySize; ++i) {
        const uint8_t* entry = bytes.Take(kIfdEntrySize);
        if (entry == nullptr) break;
        used += kIfdEntrySize;
        if (order.U16(entry) != 274) continue;
        if (order.U16(entry + 2) == kTiffShort && order.U32(entry + 4) == 1) {
            const uint16_t value = order.U16(entry + 8);
            if (value >= 1 && value <= 8) orientation = static_cast<uint8_t>(value);
        }
        break;
    }
    return used;
}

// A start of frame: C0..CF but for DHT (C4), JPG (C8) and DAC (CC).
bool IsStartOfFrame(uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// SOI, then marker segments up to the first start of frame. Only the first
// APP1 "Exif" block is read, as viewers read it.
PictureHeader ReadJpeg(HeaderBytes& bytes, PictureHeader header) {
    bytes.Skip(2);
    bool exifRead = false;
    for (;;) {
        const uint8_t* prefix = bytes.Take(1);
        if (prefix == nullptr || *prefix != 0xFF) return header;
        // Any number of FF fill bytes may come before a marker.
        const uint8_t* code;
        do {
            code = bytes.Take(1);
            if (code == nullptr) return header;
        } while (*code == 0xFF);
        const uint8_t marker = *code;
        // TEM and RSTn stand alone, without a length.
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        // A stuffed zero, a second SOI, the end or the scan before any
        // frame: no picture whose size is known.
        if (marker == 0x00 || marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return header;
        const uint8_t* lengthBytes = bytes.Take(2);
        if (lengthBytes == nullptr) return header;
        const uint16_t length = Be16(lengthBytes);
        if (length < 2) return header;
        uint32_t left = length - 2u;
        if (IsStartOfFrame(marker)) {
            // Precision, then height and width. A height of 0 is given
            // later by a DNL segment after the first scan, too late for the
            // decision made here.
            const uint8_t* frame = left >= 5 ? bytes.Take(5) : nullptr;
            if (frame == nullptr) return header;
            return Judge(header, Be16(frame + 3), Be16(frame + 1));
        }
        if (marker == 0xE1 && !exifRead && left >= 6) {
            const uint8_t* name = bytes.Peek(6);
            if (name != nullptr && std::memcmp(name, "Exif\0\0", 6) == 0) {
                exifRead = true;
                bytes.Skip(6);
                left -= 6;
                left -= ReadExifOrientation(bytes, left, header.orientation);
            }
        }
        if (!bytes.Skip(left)) return header;
    }
}

// The signature, then the IHDR chunk, which must come first.
PictureHeader ReadPng(HeaderBytes& bytes, PictureHeader header) {
    const uint8_t* start = bytes.Peek(8 + 8 + 8);
    if (start == nullptr || Be32(start + 8) != 13 || std::memcmp(start + 12, "IHDR", 4) != 0) return header;
    return Judge(header, Be32(start + 16), Be32(start + 20));
}

// The logical screen, its colour table, then extension blocks up to the
// first image descriptor: the decoder makes frames of the image's size,
// and may make the screen as well.
PictureHeader ReadGif(HeaderBytes& bytes, PictureHeader header) {
    const uint8_t* screen = bytes.Take(13);
    if (screen == nullptr) return header;
    const PictureHeader screenJudged = Judge(header, Le16(screen + 6), Le16(screen + 8));
    const uint8_t flags = screen[10];
    if ((flags & 0x80) != 0 && !bytes.Skip(uint64_t{3} << ((flags & 7) + 1))) return header;
    for (;;) {
        const uint8_t* introducer = bytes.Take(1);
        if (introducer == nullptr) return header;
        if (*introducer == 0x2C) {
            const uint8_t* image = bytes.Take(9);
            if (image == nullptr) return header;
            header = Judge(header, Le16(image + 4), Le16(image + 6));
            if (header.verdict == HeaderVerdict::usable && screenJudged.verdict == HeaderVerdict::tooLarge) {
                header.verdict = HeaderVerdict::tooLarge;
            }
            return header;
        }
        // The trailer, or anything but an extension, before any image.
        if (*introducer != 0x21 || bytes.Take(1) == nullptr) return header;
        for (;;) {
            const uint8_t* blockSize = bytes.Take(1);
            if (blockSize == nullptr) return header;
            if (*blockSize == 0) break;
            if (!bytes.Skip(*blockSize)) return header;
        }
    }
}

// The header, then the first IFD wherever it lies after it. Entries are
// taken one at a time: an IFD may announce 65,535 of them.
PictureHeader ReadTiff(HeaderBytes& bytes, PictureHeader header) {
    const uint8_t* start = bytes.Take(8);
    TiffOrder order;
    uint32_t ifd = 0;
    if (start == nullptr || !ReadTiffHeader(start, order, ifd) || ifd < 8) return header;
    if (!bytes.Skip(ifd - 8)) return header;
    const uint8_t* countBytes = bytes.Take(2);
    if (countBytes == nullptr) return header;
    const uint32_t entries = order.U16(countBytes);
    uint32_t size[2] = {0, 0};  // ImageWidth (256), ImageLength (257)
    for (uint32_t i = 0; i < entries && (size[0] == 0 || size[1] == 0); ++i) {
        const uint8_t* entry = bytes.Take(kIfdEntrySize);
        if (entry == nullptr) return header;
        const uint16_t tag = order.U16(entry);
        if ((tag != 256 && tag != 257) || size[tag - 256] != 0 || order.U32(entry + 4) != 1) continue;
        const uint16_t type = order.U16(entry + 2);
        if (type == kTiffShort) size[tag - 256] = order.U16(entry + 8);
        if (type == kTiffLong) size[tag - 256] = order.U32(entry + 8);
    }
    return Judge(header, size[0], size[1]);
}

bool StartsWith(HeaderBytes& bytes, const char* signature, size_t length) {
    const uint8_t* start = bytes.Peek(length);
    return start != nullptr && std::memcmp(start, signature, length) == 0;
}

}  // namespace

PictureHeader ReadPictureHeader(ByteSource& file) noexcept {
    HeaderBytes bytes(file);
    PictureHeader header;
    if (StartsWith(bytes, "BM", 2)) {
        header.format = PictureFormat::bitmap;
        return ReadBitmap(bytes, header);
    }
    if (StartsWith(bytes, "\xFF\xD8\xFF", 3)) {
        header.format = PictureFormat::jpeg;
        return ReadJpeg(bytes, header);
    }
    if (StartsWith(bytes, "\x89PNG\r\n\x1A\n", 8)) {
        header.format = PictureFormat::png;
        return ReadPng(bytes, header);
    }
    if (StartsWith(bytes, "GIF87a", 6) || StartsWith(bytes, "GIF89a", 6)) {
        header.format = PictureFormat::gif;
        return ReadGif(bytes, header);
    }
    if (StartsWith(bytes, "II*\0", 4) || StartsWith(bytes, "MM\0*", 4)) {
        header.format = PictureFormat::tiff;
        return ReadTiff(bytes, header);
    }
    return header;
}

PixelRect ShownPart(uint32_t shownWidth, uint32_t shownHeight) noexcept {
    const auto width = static_cast<int32_t>(std::min<uint32_t>(shownWidth, INT32_MAX));
    const auto height = static_cast<int32_t>(std::min<uint32_t>(shownHeight, INT32_MAX));
    if (width <= kPreviewSide || height <= kPreviewSide) return {0, 0, width, height};
    const int32_t fromBottom = height / 2 - kPreviewSide / 2;
    return {width / 2 - kPreviewSide / 2, height - fromBottom - kPreviewSide, kPreviewSide, kPreviewSide};
}

namespace {

struct Point {
    int64_t x;
    int64_t y;
};

// The stored pixel that shows at (x, y) of the upright picture.
Point StoredPoint(uint8_t orientation, int64_t width, int64_t height, int64_t x, int64_t y) {
    switch (orientation) {
    case 2: return {width - 1 - x, y};
    case 3: return {width - 1 - x, height - 1 - y};
    case 4: return {x, height - 1 - y};
    case 5: return {y, x};
    case 6: return {y, height - 1 - x};
    case 7: return {width - 1 - y, height - 1 - x};
    case 8: return {width - 1 - y, x};
    default: return {x, y};
    }
}

}  // namespace

PixelRect StoredRect(uint8_t orientation, uint32_t storedWidth, uint32_t storedHeight, PixelRect shown) noexcept {
    if (shown.width <= 0 || shown.height <= 0) return {};
    // Each orientation maps rectangles onto rectangles: two opposite corners
    // say where it lies.
    const Point a = StoredPoint(orientation, storedWidth, storedHeight, shown.x, shown.y);
    const Point b = StoredPoint(orientation, storedWidth, storedHeight, int64_t{shown.x} + shown.width - 1,
                                int64_t{shown.y} + shown.height - 1);
    return {static_cast<int32_t>(std::min(a.x, b.x)), static_cast<int32_t>(std::min(a.y, b.y)),
            static_cast<int32_t>((a.x > b.x ? a.x - b.x : b.x - a.x) + 1),
            static_cast<int32_t>((a.y > b.y ? a.y - b.y : b.y - a.y) + 1)};
}

namespace {

uint8_t OverWhite(uint8_t channel, uint8_t alpha) {
    return static_cast<uint8_t>((channel * alpha + 255 * (255 - alpha) + 127) / 255);
}

// One stored row of `count` pixels, each `step` bytes from the last in the
// shown block: 3 or -3 along a shown row, a row stride up or down a column.
template <bool kOverWhite>
inline void PlaceRow(const uint8_t* in, int64_t count, uint8_t* out, ptrdiff_t step) {
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* pixel = in + 4 * i;
        uint8_t* place = out + i * step;
        if constexpr (kOverWhite) {
            const uint8_t alpha = pixel[3];
            place[0] = OverWhite(pixel[0], alpha);
            place[1] = OverWhite(pixel[1], alpha);
            place[2] = OverWhite(pixel[2], alpha);
        } else {
            place[0] = pixel[0];
            place[1] = pixel[1];
            place[2] = pixel[2];
        }
    }
}

// Where stored pixel (0, row) shows, and how far each next pixel of its row
// moves: the inverse of StoredPoint.
struct RowPlace {
    int64_t x, y;    // shown position of the row's first pixel
    int64_t dx, dy;  // shown step per stored pixel
};

RowPlace PlaceOfRow(uint8_t orientation, int64_t width, int64_t height, int64_t row) {
    switch (orientation) {
    case 2: return {width - 1, row, -1, 0};
    case 3: return {width - 1, height - 1 - row, -1, 0};
    case 4: return {0, height - 1 - row, 1, 0};
    case 5: return {row, 0, 0, 1};
    case 6: return {height - 1 - row, 0, 0, 1};
    case 7: return {height - 1 - row, width - 1, 0, -1};
    case 8: return {row, width - 1, 0, -1};
    default: return {0, row, 1, 0};
    }
}

template <bool kOverWhite>
void PlaceRows(const uint8_t* bgra, size_t bgraStride, int64_t width, int64_t height, int64_t firstRow,
               int64_t endRow, uint8_t orientation, uint8_t* shown, int64_t shownStride) {
    const int64_t shownRows = SwapsSides(orientation) ? width : height;
    for (int64_t row = firstRow; row < endRow; ++row) {
        const uint8_t* in = bgra + static_cast<size_t>(row - firstRow) * bgraStride;
        const RowPlace place = PlaceOfRow(orientation, width, height, row);
        // The shown block is bottom-up.
        uint8_t* out = shown + (shownRows - 1 - place.y) * shownStride + 3 * place.x;
        const auto step = static_cast<ptrdiff_t>(3 * place.dx - place.dy * shownStride);
        // Upright rows are a plain copy the compiler can widen.
        if (step == 3) {
            PlaceRow<kOverWhite>(in, width, out, 3);
        } else {
            PlaceRow<kOverWhite>(in, width, out, step);
        }
    }
}

}  // namespace

void PlaceStoredRows(const uint8_t* bgra, size_t bgraStride, int32_t storedWidth, int32_t storedHeight,
                     int32_t firstRow, int32_t rows, uint8_t orientation, bool opaque, uint8_t* shown,
                     int64_t shownStride) noexcept {
    if (storedWidth <= 0 || storedHeight <= 0 || rows <= 0) return;
    if (orientation < 1 || orientation > 8) orientation = 1;
    // Rows outside the block are dropped, never written past it.
    const int64_t begin = std::max<int64_t>(firstRow, 0);
    const int64_t end = std::min<int64_t>(int64_t{firstRow} + rows, storedHeight);
    if (begin >= end) return;
    bgra += static_cast<size_t>(begin - firstRow) * bgraStride;
    if (opaque) {
        PlaceRows<false>(bgra, bgraStride, storedWidth, storedHeight, begin, end, orientation, shown, shownStride);
    } else {
        PlaceRows<true>(bgra, bgraStride, storedWidth, storedHeight, begin, end, orientation, shown, shownStride);
    }
}

}  // namespace qz410
