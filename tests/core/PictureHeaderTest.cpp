#include "imaging/PictureHeader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "core/MemorySource.h"
#include "core/TestBitmaps.h"
#include "imaging/Dib.h"

namespace qz410 {
namespace {

using Bytes = std::vector<uint8_t>;
using test::MemorySource;


// File builders: each appends its pieces in the order named.
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}
Bytes Be(uint32_t value, int size) {
    Bytes b;
    for (int i = size - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return b;
}
Bytes Le(uint32_t value, int size) {
    Bytes b;
    for (int i = 0; i < size; ++i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return b;
}
Bytes Text(const char* text, size_t size) { return Bytes(text, text + size); }
Bytes Part(const Bytes& bytes, size_t from, size_t to) { return Bytes(bytes.begin() + from, bytes.begin() + to); }

Bytes Segment(uint8_t marker, const Bytes& payload) { return Cat({{0xFF, marker}, Be(payload.size() + 2, 2), payload}); }
Bytes Sof(uint8_t marker, uint16_t width, uint16_t height) {
    return Segment(marker, Cat({{8}, Be(height, 2), Be(width, 2), {1, 1, 0x11, 0}}));
}
const Bytes kSoi = {0xFF, 0xD8};
const Bytes kJfif = Segment(0xE0, Cat({Text("JFIF\0", 5), {1, 1, 0, 0, 1, 0, 1, 0, 0}}));

struct IfdEntry {
    uint16_t tag, type;
    uint32_t count, value;
};
// A TIFF structure's header, `gap` bytes, then the first IFD.
Bytes Tiff(bool big, std::initializer_list<IfdEntry> entries, uint32_t gap = 0, uint32_t ifd = 0) {
    auto n = [big](uint32_t v, int size) { return big ? Be(v, size) : Le(v, size); };
    Bytes b = Cat({Text(big ? "MM" : "II", 2), n(42, 2), n(ifd != 0 ? ifd : 8 + gap, 4), Bytes(gap, 0x5C),
                   n(static_cast<uint32_t>(entries.size()), 2)});
    for (const IfdEntry& e : entries) {
        b = Cat({b, n(e.tag, 2), n(e.type, 2), n(e.count, 4), e.type == 3 ? Cat({n(e.value, 2), {0, 0}}) : n(e.value, 4)});
    }
    return Cat({b, n(0, 4)});
}
Bytes Exif(bool big, uint16_t type, uint32_t count, uint32_t value, uint32_t gap = 0, uint32_t ifd = 0) {
    // The orientation behind entries a camera writes first.
    return Segment(0xE1, Cat({Text("Exif\0\0", 6),
                              Tiff(big, {{271, 2, 4, 0}, {272, 2, 4, 0}, {274, type, count, value}}, gap, ifd)}));
}

Bytes Png(uint32_t width, uint32_t height) {
    return Cat({Text("\x89PNG\r\n\x1A\n", 8), Be(13, 4), Text("IHDR", 4), Be(width, 4), Be(height, 4),
                {8, 6, 0, 0, 0}, Be(0, 4)});
}

const Bytes kGifTail = {0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
Bytes Gif(uint16_t screenWidth, uint16_t screenHeight, uint8_t flags, const Bytes& blocks, uint16_t width,
          uint16_t height) {
    const Bytes table(flags & 0x80 ? 3u << ((flags & 7) + 1) : 0, 0x33);
    return Cat({Text("GIF89a", 6), Le(screenWidth, 2), Le(screenHeight, 2), {flags, 0, 0}, table, blocks, {0x2C},
                Le(1, 2), Le(2, 2), Le(width, 2), Le(height, 2), {0}, kGifTail});
}

Bytes CoreBmp(uint16_t width, uint16_t height) {
    return Cat({Text("BM", 2), Le(26 + 6, 4), Le(0, 4), Le(26 + 6, 4), Le(12, 4), Le(width, 2), Le(height, 2),
                Le(1, 2), Le(1, 2), Bytes(6, 0xFF)});
}
Bytes PixelsAt(uint32_t bfOffBits, const Bytes& bmp) {
    return Cat({Part(bmp, 0, 10), Le(bfOffBits, 4), Part(bmp, 14, bmp.size())});
}
// Headers only: the sizes are written over those of a 1 x 1 picture.
Bytes InfoBmp(int32_t width, int32_t height, uint16_t bitCount, uint32_t compression = 0) {
    Bytes b = test::MakeBmp({.width = 1, .height = 1, .bitCount = bitCount, .compression = compression,
                             .truncateTo = 54});
    test::Put<int32_t>(b, 18, width);
    test::Put<int32_t>(b, 22, height);
    return b;
}

struct Case {
    const char* what;
    Bytes file;
    PictureFormat format;
    HeaderVerdict verdict;
    uint32_t width = 0, height = 0;
    uint8_t orientation = 1;
    bool plain = false;
};

TEST(PictureHeaderTest, ReadsEachFormatsSizeAndOrientation) {
    using enum PictureFormat;
    using enum HeaderVerdict;
    // Segments a misreading of which gives a size: DHT, JPG and DAC are no
    // frames.
    const Bytes notFrames = Cat({Segment(0xC4, {0x00, 0x00, 0x10, 0x00, 0x20, 0x01}),
                                 Segment(0xC8, {0x00, 0x00, 0x30, 0x00, 0x40}), Segment(0xCC, {0, 0, 1, 0, 2})});
    const Bytes comment = {0x21, 0xFE, 3, 'a', 'b', 'c', 2, 'd', 'e', 0};
    const Bytes control = {0x21, 0xF9, 4, 0x01, 0, 0, 0, 0};
    const Bytes netscape = Cat({{0x21, 0xFF, 11}, Text("NETSCAPE2.0", 11), {3, 1, 0, 0, 0}});
    const Case cases[] = {
        {"plain 24-bit BMP", InfoBmp(300, 200, 24), bitmap, notPicture, 0, 0, 1, true},
        {"8-bit BMP", InfoBmp(300, 200, 8), bitmap, usable, 300, 200},
        {"top-down 32-bit BMP", InfoBmp(320, -240, 32), bitmap, usable, 320, 240},
        {"24-bit BMP with bit fields", InfoBmp(640, 480, 24, 3), bitmap, usable, 640, 480},
        {"core header BMP", CoreBmp(1000, 700), bitmap, usable, 1000, 700},
        {"BMP of the lowest height", InfoBmp(10, INT32_MIN, 8), bitmap, tooLarge, 10, 0x80000000u},
        {"BMP of width 0", InfoBmp(0, 10, 8), bitmap, notPicture},
        {"BMP whose pixels begin in its headers", PixelsAt(20, InfoBmp(10, 10, 8)), bitmap, notPicture},
        {"24-bit BMP whose pixels begin in its headers", PixelsAt(20, InfoBmp(10, 10, 24)), bitmap, notPicture},
        {"BMP of negative width", InfoBmp(-10, 10, 8), bitmap, notPicture},
        {"BMP cut in its info header", Part(InfoBmp(10, 10, 8), 0, 40), bitmap,
         notPicture},

        {"JPEG: JFIF, big-endian EXIF 6, baseline", Cat({kSoi, kJfif, Exif(true, 3, 1, 6), notFrames, Sof(0xC0, 640, 480)}),
         jpeg, usable, 640, 480, 6},
        {"JPEG: little-endian EXIF 8, fill bytes, RST, TEM, progressive",
         Cat({kSoi, Exif(false, 3, 1, 8), {0xFF, 0xFF, 0xFF, 0xD3, 0xFF, 0x01}, Sof(0xC2, 6000, 4000)}), jpeg, usable,
         6000, 4000, 8},
        {"JPEG: IFD0 after a gap", Cat({kSoi, Exif(true, 3, 1, 5, 30), Sof(0xC1, 7, 9)}), jpeg, usable, 7, 9, 5},
        {"JPEG: orientation 9", Cat({kSoi, Exif(true, 3, 1, 9), Sof(0xC0, 7, 9)}), jpeg, usable, 7, 9, 1},
        {"JPEG: orientation as LONG", Cat({kSoi, Exif(false, 4, 1, 6), Sof(0xC0, 7, 9)}), jpeg, usable, 7, 9, 1},
        {"JPEG: two orientations", Cat({kSoi, Exif(false, 3, 2, 6), Sof(0xC0, 7, 9)}), jpeg, usable, 7, 9, 1},
        {"JPEG: IFD0 before its header", Cat({kSoi, Exif(true, 3, 1, 6, 0, 4), Sof(0xC0, 7, 9)}), jpeg, usable, 7, 9, 1},
        {"JPEG: IFD0 past the segment", Cat({kSoi, Exif(true, 3, 1, 6, 0, 60), Sof(0xC0, 7, 9)}), jpeg, usable, 7, 9, 1},
        {"JPEG: orientation entry cut by the segment's end",
         Cat({kSoi, Segment(0xE1, Part(Exif(true, 3, 1, 6), 4, Exif(true, 3, 1, 6).size() - 10)),
              Sof(0xC0, 7, 9)}),
         jpeg, usable, 7, 9, 1},
        {"JPEG: height 0 (DNL)", Cat({kSoi, Sof(0xC0, 640, 0)}), jpeg, notPicture, 640, 0},
        {"JPEG: 65535 x 65535", Cat({kSoi, Sof(0xC0, 65535, 65535)}), jpeg, tooLarge, 65535, 65535},
        {"JPEG: scan before any frame", Cat({kSoi, Segment(0xDA, {1, 2, 3}), Sof(0xC0, 7, 9)}), jpeg, notPicture},
        {"JPEG: end before any frame", Cat({kSoi, {0xFF, 0xD9}, Sof(0xC0, 7, 9)}), jpeg, notPicture},
        {"JPEG: stray byte between segments", Cat({kSoi, kJfif, {0x00}, Sof(0xC0, 7, 9)}), jpeg, notPicture},
        {"JPEG: length below 2", Cat({kSoi, {0xFF, 0xE0, 0x00, 0x01}, Sof(0xC0, 7, 9)}), jpeg, notPicture},

        {"PNG", Png(800, 600), png, usable, 800, 600},
        {"PNG 32768 x 3000", Png(32768, 3000), png, usable, 32768, 3000},
        {"PNG 10000 x 10000", Png(10000, 10000), png, usable, 10000, 10000},
        {"PNG 32769 x 1", Png(32769, 1), png, tooLarge, 32769, 1},
        {"PNG 10001 x 10001", Png(10001, 10001), png, tooLarge, 10001, 10001},
        {"PNG 65535 x 65535", Png(65535, 65535), png, tooLarge, 65535, 65535},
        {"PNG 0 x 0", Png(0, 0), png, notPicture},
        {"PNG without IHDR first", Cat({Part(Png(8, 8), 0, 12), Text("gAMA", 4), Part(Png(8, 8), 16, 33)}),
         png, notPicture},

        {"GIF: colour table and extensions", Gif(500, 400, 0xF7, Cat({control, comment, netscape}), 320, 200), gif,
         usable, 320, 200},
        {"GIF: screen 0 x 0", Gif(0, 0, 0x00, {}, 16, 16), gif, usable, 16, 16},
        {"GIF: screen too large", Gif(40000, 10, 0x00, {}, 16, 16), gif, tooLarge, 16, 16},
        {"GIF: image of width 0", Gif(16, 16, 0x80, {}, 0, 16), gif, notPicture, 0, 16},
        {"GIF: trailer before any image", Cat({Text("GIF87a", 6), Le(16, 2), Le(16, 2), {0, 0, 0}, control, {0x3B},
                                               Gif(16, 16, 0, {}, 16, 16)}),
         gif, notPicture},

        {"TIFF MM, SHORT sizes after the pixels", Tiff(true, {{254, 4, 1, 0}, {256, 3, 1, 1200}, {257, 3, 1, 900}}, 9000),
         tiff, usable, 1200, 900},
        {"TIFF II, LONG sizes", Tiff(false, {{257, 4, 1, 20000}, {256, 4, 1, 3000}}, 100), tiff, usable, 3000, 20000},
        {"TIFF width too large", Tiff(false, {{256, 4, 1, 40000}, {257, 3, 1, 10}}), tiff, tooLarge, 40000, 10},
        {"TIFF without a height", Tiff(false, {{256, 3, 1, 100}, {258, 3, 1, 8}}), tiff, notPicture, 100, 0},
        {"TIFF size of two values", Tiff(true, {{256, 3, 2, 100}, {257, 3, 1, 100}}), tiff, notPicture, 0, 100},
        {"TIFF IFD inside its header", Tiff(false, {{256, 3, 1, 100}, {257, 3, 1, 100}}, 0, 4), tiff, notPicture},
        {"TIFF IFD past the end", Tiff(true, {{256, 3, 1, 100}, {257, 3, 1, 100}}, 0, 1000), tiff, notPicture},
        {"BigTIFF", Cat({Text("II+\0", 4), Le(8, 2), Le(0, 2), Le(16, 4), Le(0, 4)}), unknown, notPicture},

        {"empty", {}, unknown, notPicture},
        {"text", Text("Picture", 7), unknown, notPicture},
    };
    for (const Case& c : cases) {
        for (bool seeks : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.what << (seeks ? ", seeking" : ", read and dropped"));
            MemorySource source(c.file, seeks);
            const PictureHeader h = ReadPictureHeader(source);
            EXPECT_EQ(h.format, c.format);
            EXPECT_EQ(h.verdict, c.verdict);
            EXPECT_EQ(h.width, c.width);
            EXPECT_EQ(h.height, c.height);
            EXPECT_EQ(h.orientation, c.orientation);
            EXPECT_EQ(h.plainBitmap, c.plain);
        }
        // Cut anywhere, a file gives the same answer or none.
        for (size_t length = 0; length < c.file.size(); ++length) {
            const Bytes cut(c.file.begin(), c.file.begin() + length);
            MemorySource source(cut, true);
            const PictureHeader h = ReadPictureHeader(source);
            if (h.verdict == HeaderVerdict::notPicture && !h.plainBitmap) continue;
            ASSERT_TRUE(h.verdict == c.verdict && h.width == c.width && h.height == c.height &&
                        h.orientation == c.orientation && h.plainBitmap == c.plain)
                << c.what << " cut to " << length;
        }
    }
}

TEST(PictureHeaderTest, LargePiecesBeforeTheSizeArePassedOverUnread) {
    const Bytes jpeg = Cat({kSoi, Exif(true, 3, 1, 6), Segment(0xE1, Bytes(65000, 0x11)),
                            Segment(0xE2, Bytes(65000, 0x22)), Sof(0xC0, 4000, 3000)});
    const Bytes tiff = Tiff(false, {{256, 3, 1, 4000}, {257, 3, 1, 3000}}, 1u << 20);
    for (const Bytes* file : {&jpeg, &tiff}) {
        MemorySource source(*file, true);
        EXPECT_EQ(ReadPictureHeader(source).verdict, HeaderVerdict::usable);
        EXPECT_LE(source.bytesRead, 3 * 4096u);
    }
}

// The stored picture's pixel (x, y) from the top, as a 24-bit BMP made by
// MakeBmp holds it in its bottom-up rows.
uint8_t StoredByte(int64_t x, int64_t y, int64_t height, int channel) {
    return channel == 3 ? static_cast<uint8_t>(x * 31 + y) : test::PatternByte(x, height - 1 - y, channel);
}

TEST(PictureHeaderTest, PlacedRowsAreThePixelsTheOrientationShows) {
    // EXIF's own meaning, on a 3 x 2 picture "ABC / DEF": the shown rows.
    const char* const turned[9] = {"", "ABC DEF", "CBA FED", "FED CBA", "DEF ABC", "AD BE CF", "DA EB FC",
                                   "FC EB DA", "CF BE AD"};
    for (uint8_t o = 1; o <= 8; ++o) {
        SCOPED_TRACE(testing::Message() << "orientation " << int{o});
        const uint8_t stored[2][12] = {{'A', 0, 0, 0, 'B', 0, 0, 0, 'C', 0, 0, 0}, {'D', 0, 0, 0, 'E', 0, 0, 0, 'F', 0, 0, 0}};
        const int32_t w = SwapsSides(o) ? 2 : 3, h = SwapsSides(o) ? 3 : 2;
        Bytes shown(DibStride(w) * h, 0);
        PlaceStoredRows(&stored[0][0], 12, 3, 2, 0, 2, o, true, shown.data(), DibStride(w));
        std::string rows;
        for (int32_t y = 0; y < h; ++y) {
            if (y != 0) rows += ' ';
            for (int32_t x = 0; x < w; ++x) rows += static_cast<char>(shown[(h - 1 - y) * DibStride(w) + 3 * x]);
        }
        EXPECT_EQ(rows, turned[o]);
    }

    // Every pixel of the part shown, from a picture used whole and from one
    // cut to its centre, placed a few rows at a time: the stored pixel that
    // StoredRect names for it. Upright, the crop is the bitmap loader's.
    for (auto [width, height, strip] : {std::tuple{9, 5, 2}, std::tuple{261, 197, 50}}) {
        const Bytes bmp = test::MakeBmp({.width = width, .height = height});
        std::vector<uint8_t> cropBuffer(kPreviewCropBufferSize);
        HeapPictureAllocator allocator;
        MemorySource bmpSource(bmp, true);
        const LoadedPicture loaded = LoadPreviewPicture(bmpSource, allocator, cropBuffer);
        ASSERT_TRUE(loaded.Usable());
        for (uint8_t o = 1; o <= 8; ++o) {
            SCOPED_TRACE(testing::Message() << width << " x " << height << ", orientation " << int{o});
            const uint32_t shownWidth = SwapsSides(o) ? height : width, shownHeight = SwapsSides(o) ? width : height;
            const PixelRect part = ShownPart(shownWidth, shownHeight);
            const PixelRect rect = StoredRect(o, width, height, part);
            ASSERT_TRUE(rect.x >= 0 && rect.y >= 0 && rect.x + rect.width <= width && rect.y + rect.height <= height);
            ASSERT_EQ(SwapsSides(o) ? rect.height : rect.width, part.width);
            // The block as a decoder gives it, rows padded to show the stride.
            const size_t blockStride = 4 * rect.width + 12;
            Bytes block(blockStride * rect.height, 0xEE);
            for (int32_t y = 0; y < rect.height; ++y) {
                for (int32_t x = 0; x < rect.width; ++x) {
                    for (int c = 0; c < 4; ++c)
                        block[y * blockStride + 4 * x + c] = StoredByte(rect.x + x, rect.y + y, height, c);
                }
            }
            const int64_t shownStride = DibStride(part.width);
            Bytes shown(shownStride * part.height, 0xEE);
            for (int32_t first = 0; first < rect.height; first += strip) {
                PlaceStoredRows(block.data() + first * blockStride, blockStride, rect.width, rect.height, first,
                                std::min(strip, rect.height - first), o, true, shown.data(), shownStride);
            }
            int wrong = 0;
            for (int32_t y = 0; y < part.height; ++y) {
                for (int32_t x = 0; x < part.width; ++x) {
                    const PixelRect from = StoredRect(o, width, height, {part.x + x, part.y + y, 1, 1});
                    for (int c = 0; c < 3; ++c) {
                        wrong += shown[(part.height - 1 - y) * shownStride + 3 * x + c] !=
                                 StoredByte(from.x, from.y, height, c);
                    }
                }
            }
            EXPECT_EQ(wrong, 0);
            if (o == 1 && loaded.cropped) {
                EXPECT_TRUE(std::equal(shown.begin(), shown.end(), loaded.pixels, loaded.pixels + kPreviewCropBytes));
            }
        }
    }
}

TEST(PictureHeaderTest, AlphaIsLaidOverWhite) {
    // Blue, green, red and alpha; each channel alike.
    const uint8_t bgra[] = {200, 200, 200, 0,   200, 200, 200, 255, 0,  0,  0,  128,
                            200, 200, 200, 100, 10,  10,  10,  1,   77, 77, 77, 254};
    const uint8_t overWhite[] = {255, 200, 127, 233, 254, 78};
    for (bool opaque : {false, true}) {
        for (uint8_t o : {1, 6}) {
            uint8_t shown[6 * 3 * 4] = {};  // 6 x 1 or 1 x 6, rows of 4 bytes
            const int64_t stride = o == 1 ? 20 : 4;
            PlaceStoredRows(bgra, sizeof bgra, 6, 1, 0, 1, o, opaque, shown, stride);
            for (int i = 0; i < 6; ++i) {
                const uint8_t* pixel = o == 1 ? shown + 3 * i : shown + (5 - i) * stride;
                const uint8_t want = opaque ? bgra[4 * i] : overWhite[i];
                EXPECT_TRUE(pixel[0] == want && pixel[1] == want && pixel[2] == want)
                    << "pixel " << i << (opaque ? " opaque" : " over white") << ", orientation " << int{o};
            }
        }
    }
}

}  // namespace
}  // namespace qz410
