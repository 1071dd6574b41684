// The input is the start of a picture file, read as the preview reads its
// header before any decoder sees the file: once from a source that seeks
// and once through the default read-and-drop Skip, which must agree. A
// usable header's size and orientation then go through the preview's cut
// and the upright turn of a small block made of the input's bytes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/FuzzTarget.h"
#include "fuzz/InputFile.h"
#include "imaging/Dib.h"
#include "imaging/PictureHeader.h"

namespace {

using namespace qz410;
using fuzz::InputFile;

bool Same(const PictureHeader& a, const PictureHeader& b) {
    return a.format == b.format && a.verdict == b.verdict && a.plainBitmap == b.plainBitmap && a.width == b.width &&
           a.height == b.height && a.orientation == b.orientation;
}

bool Inside(const PixelRect& r, int64_t width, int64_t height) {
    return r.x >= 0 && r.y >= 0 && r.width > 0 && r.height > 0 && r.x + int64_t{r.width} <= width &&
           r.y + int64_t{r.height} <= height;
}

constexpr uint8_t kUntouched = 0xD5;

// The shown part of a small picture, from a stored block of the input's
// bytes placed a few rows at a time: every pixel the stored one StoredRect
// names, laid over white unless opaque, and nothing written beyond a row.
void CheckPlacedRows(const uint8_t* data, size_t size, const PictureHeader& h, const PixelRect& part,
                     const PixelRect& rect) {
    const size_t blockStride = 4 * size_t(rect.width) + data[0] % 8;
    std::vector<uint8_t> block(blockStride * rect.height);
    for (size_t i = 0; i < block.size(); ++i) block[i] = data[i % size];
    const bool opaque = data[size - 1] & 1;
    const int32_t strip = data[size - 1] / 2 % 7 + 1;
    const int64_t stride = DibStride(part.width);
    std::vector<uint8_t> shown(stride * part.height, kUntouched);
    for (int32_t first = 0; first < rect.height; first += strip) {
        PlaceStoredRows(block.data() + first * blockStride, blockStride, rect.width, rect.height, first,
                        std::min(strip, rect.height - first), h.orientation, opaque, shown.data(), stride);
    }
    for (int32_t y = 0; y < part.height; ++y) {
        const uint8_t* row = shown.data() + (part.height - 1 - y) * stride;
        for (int32_t x = 0; x < part.width; ++x) {
            const PixelRect from = StoredRect(h.orientation, h.width, h.height, {part.x + x, part.y + y, 1, 1});
            QZ410_FUZZ_CHECK(from.width == 1 && from.height == 1);
            QZ410_FUZZ_CHECK(from.x >= rect.x && from.x < rect.x + rect.width);
            QZ410_FUZZ_CHECK(from.y >= rect.y && from.y < rect.y + rect.height);
            const uint8_t* in = block.data() + (from.y - rect.y) * blockStride + 4 * (from.x - rect.x);
            for (int c = 0; c < 3; ++c) {
                const int want = opaque ? in[c] : (in[c] * in[3] + 255 * (255 - in[3]) + 127) / 255;
                QZ410_FUZZ_CHECK(row[3 * x + c] == want);
            }
        }
        QZ410_FUZZ_CHECK(std::all_of(row + 3 * part.width, row + stride, [](uint8_t b) { return b == kUntouched; }));
    }
}

}  // namespace

QZ410_FUZZ_TARGET(PictureHeader) {
    InputFile seeking(data, size, true);
    InputFile streaming(data, size, false);
    const PictureHeader h = ReadPictureHeader(seeking);
    QZ410_FUZZ_CHECK(Same(h, ReadPictureHeader(streaming)));

    QZ410_FUZZ_CHECK(h.orientation >= 1 && h.orientation <= 8);
    QZ410_FUZZ_CHECK(h.orientation == 1 || h.format == PictureFormat::jpeg);
    if (h.format == PictureFormat::unknown) QZ410_FUZZ_CHECK(h.verdict == HeaderVerdict::notPicture);
    if (h.plainBitmap) {
        QZ410_FUZZ_CHECK(h.format == PictureFormat::bitmap && h.verdict == HeaderVerdict::notPicture);
        QZ410_FUZZ_CHECK(h.width == 0 && h.height == 0 && size >= 34);
    }
    const bool overLimits = h.width > kMaxPictureSide || h.height > kMaxPictureSide ||
                            uint64_t{h.width} * h.height > kMaxPicturePixels;
    if (h.verdict == HeaderVerdict::tooLarge) {
        // A GIF's screen may be what is too large.
        QZ410_FUZZ_CHECK(h.width != 0 && h.height != 0 && (overLimits || h.format == PictureFormat::gif));
    }
    if (h.verdict != HeaderVerdict::usable) return 0;
    QZ410_FUZZ_CHECK(h.format != PictureFormat::unknown && !h.plainBitmap);
    QZ410_FUZZ_CHECK(h.width != 0 && h.height != 0 && !overLimits);

    // The part shown is the whole upright picture or its centre 192 x 192,
    // and the stored rectangle holding it lies inside the stored picture.
    const bool swaps = SwapsSides(h.orientation);
    const uint32_t shownWidth = swaps ? h.height : h.width;
    const uint32_t shownHeight = swaps ? h.width : h.height;
    const PixelRect part = ShownPart(shownWidth, shownHeight);
    QZ410_FUZZ_CHECK(Inside(part, shownWidth, shownHeight));
    const bool cut = shownWidth > kPreviewSide && shownHeight > kPreviewSide;
    QZ410_FUZZ_CHECK(cut ? part.width == kPreviewSide && part.height == kPreviewSide
                         : part.width == int64_t{shownWidth} && part.height == int64_t{shownHeight});
    const PixelRect rect = StoredRect(h.orientation, h.width, h.height, part);
    QZ410_FUZZ_CHECK(Inside(rect, h.width, h.height));
    QZ410_FUZZ_CHECK((swaps ? rect.height : rect.width) == part.width);
    QZ410_FUZZ_CHECK((swaps ? rect.width : rect.height) == part.height);

    if (int64_t{part.width} * part.height <= 4096) CheckPlacedRows(data, size, h, part, rect);
    return 0;
}
