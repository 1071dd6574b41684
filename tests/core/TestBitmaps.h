// 24-bit BMP files made in memory for the loader and tool tests: every pixel
// byte is a known function of its column, row and channel, so a test can say
// which file pixel it expects at any place of a working picture.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace qz410::test {

inline uint8_t PatternByte(int64_t x, int64_t y, int channel) {
    return static_cast<uint8_t>((x * 7 + y * 13 + channel * 101 + ((x ^ y) & 0x30)) & 0xFF);
}

// Filler bytes at the end of a row get a value no pixel formula gives them in
// tests that check they are carried along.
inline constexpr uint8_t kRowFiller = 0xA5;

struct BmpLayout {
    int32_t width = 4;
    int32_t height = 4;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t biSize = 40;
    uint32_t infoSize = 40;  // bfOffBits - 14: header plus anything up to the pixels
    int32_t xPelsPerMeter = 2835;
    int32_t yPelsPerMeter = 2835;
    // bfSize as bfOffBits + pixel data + bfSizeExtra; the real file may still
    // be cut (`truncateTo`) or longer.
    int64_t bfSizeExtra = 0;
    bool overrideBfSize = false;
    uint32_t bfSize = 0;
    bool overrideBfOffBits = false;
    uint32_t bfOffBits = 0;
    char type[2] = {'B', 'M'};
    int64_t truncateTo = -1;  // file length; -1 = complete
};

inline int64_t Stride(int64_t width) { return (3 * width + 3) & ~int64_t{3}; }

template <typename T>
void Put(std::vector<uint8_t>& bytes, size_t at, T value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

// Rows in storage order: file row j holds PatternByte(x, j, c).
inline std::vector<uint8_t> MakeBmp(const BmpLayout& layout) {
    const int64_t rows = layout.height < 0 ? -int64_t{layout.height} : layout.height;
    const int64_t stride = Stride(layout.width > 0 ? layout.width : 0);
    const int64_t pixelBytes = stride * rows;
    std::vector<uint8_t> bytes(14 + layout.infoSize + pixelBytes, 0);
    bytes[0] = static_cast<uint8_t>(layout.type[0]);
    bytes[1] = static_cast<uint8_t>(layout.type[1]);
    const uint32_t offBits = layout.overrideBfOffBits ? layout.bfOffBits : 14 + layout.infoSize;
    Put<uint32_t>(bytes, 2, layout.overrideBfSize ? layout.bfSize
                                                : static_cast<uint32_t>(14 + layout.infoSize + pixelBytes +
                                                                        layout.bfSizeExtra));
    Put<uint32_t>(bytes, 10, offBits);
    if (layout.infoSize >= 40) {
        Put<uint32_t>(bytes, 14, layout.biSize);
        Put<int32_t>(bytes, 18, layout.width);
        Put<int32_t>(bytes, 22, layout.height);
        Put<uint16_t>(bytes, 26, 1);
        Put<uint16_t>(bytes, 28, layout.bitCount);
        Put<uint32_t>(bytes, 30, layout.compression);
        Put<uint32_t>(bytes, 34, static_cast<uint32_t>(pixelBytes));
        Put<int32_t>(bytes, 38, layout.xPelsPerMeter);
        Put<int32_t>(bytes, 42, layout.yPelsPerMeter);
        for (uint32_t i = 40; i < layout.infoSize; ++i) bytes[14 + i] = static_cast<uint8_t>(i * 3);
    }
    uint8_t* pixels = bytes.data() + 14 + layout.infoSize;
    for (int64_t y = 0; y < rows; ++y) {
        uint8_t* row = pixels + y * stride;
        for (int64_t x = 0; x < layout.width; ++x) {
            for (int c = 0; c < 3; ++c) row[3 * x + c] = PatternByte(x, y, c);
        }
        for (int64_t p = 3 * int64_t{layout.width}; p < stride; ++p) row[p] = kRowFiller;
    }
    if (layout.truncateTo >= 0 && layout.truncateTo < static_cast<int64_t>(bytes.size())) {
        bytes.resize(static_cast<size_t>(layout.truncateTo));
    }
    return bytes;
}

}  // namespace qz410::test
