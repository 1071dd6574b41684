// The input is a small picture, a settings record of any 28 bytes and the
// pixels, run through the preview's correction chain. Inside the sliders'
// ranges the bytes must be the reference versions' own.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/FuzzTarget.h"
#include "imaging/PreviewCorrection.h"
#include "imaging/ToneTables.h"
#include "oracle/FilterOracle.h"
#include "oracle/TestPicture.h"

namespace {

using namespace qz410;

constexpr int32_t kLargestSide = 64;  // of the usual pictures

// Sides 1..64 mostly. A few larger ones: from about 148 x 148 on, the
// mask's last step changes its method. And a few sizes no picture has,
// which must change nothing.
int32_t Side(uint8_t b) {
    static constexpr int32_t kLarger[] = {65, 96, 128, 147, 148, 149, 150, 160};
    static constexpr int32_t kNoPicture[] = {0, -1, -2, -3, -64, -65536, INT32_MIN, -INT32_MAX};
    if (b >= 0xF8) return kNoPicture[b - 0xF8];
    if (b >= 0xF0) return kLarger[b - 0xF0];
    return 1 + b % kLargestSide;
}

bool Inside(int value, SettingRange range) { return value >= range.minimum && value <= range.maximum; }

bool InSliderRanges(const ColorSettings& s) {
    for (int v : {s.brightness, s.contrast, s.saturation, s.cyanRed, s.magentaGreen, s.yellowBlue})
        if (!Inside(v, kBalanceRange)) return false;
    return Inside(s.sharpness, kSharpnessRange) && Inside(s.unsharpAmount, kUnsharpAmountRange) &&
           Inside(s.unsharpRadius, kUnsharpRadiusRange) && Inside(s.unsharpThreshold, kUnsharpThresholdRange);
}

}  // namespace

QZ410_FUZZ_TARGET(Filter) {
    fuzz::InputReader input(data, size);
    int32_t width = Side(input.Byte());
    int32_t height = Side(input.Byte());
    const uint8_t sentinel = input.Byte();
    ColorSettings s;
    input.Bytes(&s, sizeof s);

    if (width <= 0 || height <= 0) {
        // Nothing to filter: not one byte may be touched.
        uint8_t bytes[64];
        std::memset(bytes, sentinel, sizeof bytes);
        CorrectPreviewPicture(s, bytes, width, height, static_cast<int32_t>((3 * int64_t{width} + 3) & ~3));
        QZ410_FUZZ_CHECK(std::all_of(bytes, bytes + sizeof bytes, [&](uint8_t b) { return b == sentinel; }));
        return 0;
    }
    // Far beyond its slider's range the mask's radius falls back to the
    // plain blur, whose cost grows with the square of the picture.
    if (s.unsharpEnabled == 1 && s.unsharpRadius > 1000) {
        width = std::min(width, 16);
        height = std::min(height, 16);
    }

    oracle::TestPicture picture(width, height);
    // The pixels as given, repeated when the input is shorter.
    const size_t given = input.Remaining();
    for (int32_t y = 0, k = 0; y < height; ++y)
        for (int32_t p = 0; p < 3 * width; ++p, ++k)
            picture.bytes[size_t(y) * picture.stride + p] = given ? input.Rest()[size_t(k) % given] : 0;
    picture.FillPadding(sentinel);
    oracle::TestPicture expected = picture;

    CorrectPreviewPicture(s, picture.Data(), width, height, picture.stride);
    QZ410_FUZZ_CHECK(picture.PaddingIs(sentinel));

    if (!InSliderRanges(s)) return 0;
    ToneTables tables{};
    BuildToneTables(s, tables);
    ToneTables expectedTables{};
    oracle::BuildToneTables(s, expectedTables);
    QZ410_FUZZ_CHECK(std::memcmp(tables.bytes, expectedTables.bytes, sizeof tables.bytes) == 0);
    if (s.unsharpEnabled == 1) oracle::ApplyUnsharpMask(s, width, height, expected.Data());
    oracle::SharpenImage(expected.Data(), width, height, expected.stride, expectedTables, s.sharpness & 7u);
    QZ410_FUZZ_CHECK(picture.bytes == expected.bytes);
    return 0;
}
