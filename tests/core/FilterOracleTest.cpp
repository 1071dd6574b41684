// The product's filters against the plain reference versions, over random
// pictures and every value of every setting the sliders offer.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "imaging/Sharpen.h"
#include "imaging/ToneTables.h"
#include "oracle/FilterOracle.h"
#include "oracle/TestPicture.h"

namespace qz410 {
namespace {

using oracle::TestPicture;
using oracle::Unsharp;

constexpr uint8_t kSentinel = 0xA5;

ColorSettings RandomTone(std::mt19937& rng) {
    ColorSettings s{};
    auto pick = [&] { return int16_t(int(rng() % 21) - 10); };
    s.brightness = pick();
    s.contrast = pick();
    s.saturation = pick();
    s.cyanRed = pick();
    s.magentaGreen = pick();
    s.yellowBlue = pick();
    return s;
}

// The bytes BuildToneTables defines (the unused ones are not written).
bool SameDefinedTableBytes(const ToneTables& a, const ToneTables& b) {
    return std::memcmp(a.bytes, b.bytes, 768) == 0 &&
           std::memcmp(a.bytes + 1280 - 510, b.bytes + 1280 - 510, 1022) == 0;
}

void ExpectUnsharpLikeOracle(const TestPicture& source, const ColorSettings& s) {
    TestPicture product = source, expected = source;
    product.FillPadding(kSentinel);
    expected.FillPadding(kSentinel);
    ApplyUnsharpMask(s, product.width, product.height, product.Data());
    oracle::ApplyUnsharpMask(s, expected.width, expected.height, expected.Data());
    ASSERT_TRUE(product.PaddingIs(kSentinel));
    ASSERT_TRUE(product.bytes == expected.bytes)
        << source.width << "x" << source.height << " radius " << s.unsharpRadius << " amount "
        << s.unsharpAmount << " threshold " << s.unsharpThreshold;
}

void ExpectSharpenLikeOracle(const TestPicture& source, const ColorSettings& tone, unsigned kernel) {
    ToneTables tables, expectedTables;
    BuildToneTables(tone, tables);
    oracle::BuildToneTables(tone, expectedTables);
    ASSERT_TRUE(SameDefinedTableBytes(tables, expectedTables));
    TestPicture product = source, expected = source;
    product.FillPadding(kSentinel);
    expected.FillPadding(kSentinel);
    SharpenImage(product.Data(), product.width, product.height, product.stride, tables, kernel);
    oracle::SharpenImage(expected.Data(), expected.width, expected.height, expected.stride,
                         expectedTables, kernel);
    ASSERT_TRUE(product.PaddingIs(kSentinel));
    ASSERT_TRUE(product.bytes == expected.bytes)
        << source.width << "x" << source.height << " kernel " << kernel;
}

TEST(FilterOracle, ToneTablesForEveryFieldValue) {
    std::mt19937 rng(11);
    int16_t ColorSettings::*fields[] = {&ColorSettings::brightness, &ColorSettings::contrast,
                                        &ColorSettings::saturation, &ColorSettings::cyanRed,
                                        &ColorSettings::magentaGreen, &ColorSettings::yellowBlue};
    std::vector<uint8_t> pixels(3 * 4096);
    for (auto field : fields) {
        for (int v = -10; v <= 10; ++v) {
            ColorSettings s = RandomTone(rng);
            s.*field = int16_t(v);
            ToneTables tables, expected;
            BuildToneTables(s, tables);
            oracle::BuildToneTables(s, expected);
            ASSERT_TRUE(SameDefinedTableBytes(tables, expected)) << v;

            for (auto& p : pixels) p = uint8_t(rng());
            std::vector<uint8_t> want = pixels;
            ApplyToneTables(pixels.data(), 4096, tables);
            oracle::ApplyToneTables(want.data(), 4096, expected);
            ASSERT_EQ(pixels, want) << v;
        }
    }
}

TEST(FilterOracle, SharpenEveryKernelOverSizes) {
    std::mt19937 rng(12);
    const int sizes[][2] = {{1, 1}, {2, 2}, {3, 3}, {3, 4}, {4, 3}, {1, 9}, {9, 1}, {2, 7},
                            {7, 2}, {5, 5}, {17, 13}, {64, 48}, {101, 3}, {3, 101}};
    for (unsigned kernel = 0; kernel < 16; ++kernel) {  // the high bits are ignored
        for (auto [w, h] : sizes) {
            TestPicture pic(w, h);
            if (rng() % 2) pic.Noise(rng); else pic.Natural(rng);
            ExpectSharpenLikeOracle(pic, RandomTone(rng), kernel);
        }
    }
    TestPicture large(600, 600);
    large.Natural(rng);
    ExpectSharpenLikeOracle(large, RandomTone(rng), 7);
    TestPicture odd(599, 401);
    odd.Noise(rng);
    ExpectSharpenLikeOracle(odd, RandomTone(rng), 5);
}

TEST(FilterOracle, UnsharpEveryRadiusOverPictureKinds) {
    std::mt19937 rng(13);
    for (int radius = 1; radius <= 30; ++radius) {
        TestPicture noise(37, 23), natural(41, 29), blocks(30, 31);
        noise.Noise(rng);
        natural.Natural(rng);
        blocks.Blocks(rng, 12);
        for (int i = 0; i < 3; ++i) {
            const ColorSettings s = Unsharp(int(rng() % 13), radius, int(rng() % 21));
            ExpectUnsharpLikeOracle(noise, s);
            ExpectUnsharpLikeOracle(natural, s);
            ExpectUnsharpLikeOracle(blocks, s);
        }
        ExpectUnsharpLikeOracle(blocks, Unsharp(12, radius, 0));
    }
}

TEST(FilterOracle, UnsharpEveryAmountAndThresholdOnSmallPictures) {
    std::mt19937 rng(14);
    for (int radius : {1, 5, 10, 15, 29, 30}) {
        TestPicture pic(7, 6);
        pic.Natural(rng);
        for (int amount = 0; amount <= 12; ++amount)
            for (int threshold = 0; threshold <= 20; ++threshold)
                ExpectUnsharpLikeOracle(pic, Unsharp(amount, radius, threshold));
    }
}

// Flat areas are where the double rounding decides the byte: the exact
// quotient is an integer there, and the double sum lands just below it or on
// it depending on level and radius. Each picture holds every level as a
// flat square, large enough for wholly flat windows and bordered by other
// levels.
TEST(FilterOracle, UnsharpFlatAreasOfEveryLevelAtEveryRadius) {
    for (int radius = 1; radius <= 30; ++radius) {
        const int h = radius / 10 + 1;
        const int side = 2 * h + 3;
        TestPicture pic(16 * side + 1, 16 * side);
        for (int32_t y = 0; y < pic.height; ++y)
            for (int32_t x = 0; x < pic.width; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int level = (y / side) * 16 + (x / side) % 16;
                    pic.At(x, y, c) = uint8_t(c == 1 ? 255 - level : level);
                }
        ExpectUnsharpLikeOracle(pic, Unsharp(12, radius, 0));
    }
}

TEST(FilterOracle, UnsharpRandomSizes) {
    std::mt19937 rng(15);
    const int sizes[][2] = {{1, 1}, {1, 2}, {2, 1}, {1, 50}, {50, 1}, {2, 2}, {3, 3},
                            {5, 4}, {9, 9}, {10, 3}, {33, 17}, {101, 67}, {250, 7}};
    for (auto [w, h] : sizes) {
        for (int i = 0; i < 4; ++i) {
            TestPicture pic(w, h);
            switch (rng() % 3) {
                case 0: pic.Noise(rng); break;
                case 1: pic.Natural(rng); break;
                default: pic.Blocks(rng, 6); break;
            }
            ExpectUnsharpLikeOracle(pic, Unsharp(int(rng() % 13), 1 + int(rng() % 30), int(rng() % 21)));
        }
    }
    TestPicture large(600, 600);
    large.Natural(rng);
    ExpectUnsharpLikeOracle(large, Unsharp(12, 30, 0));
    TestPicture odd(333, 211);
    odd.Blocks(rng, 40);
    ExpectUnsharpLikeOracle(odd, Unsharp(7, 17, 3));
}

// The sliders hold every field in range, but a settings file or a device
// mode from elsewhere may not; the filter does not validate them. It must
// still compute what the stated arithmetic gives (doubles that do not fit an
// integer converting as on x86) without crashing.
TEST(FilterOracle, UnsharpOutOfRangeSettings) {
    std::mt19937 rng(16);
    TestPicture pic(13, 11), flat(12, 9);
    pic.Natural(rng);
    flat.Flat(200);
    for (int radius : {0, -1, -4, -5, -9, -10, -11, -14, -15, -16, -19, -20, -21, -100, -32768,
                       31, 39, 40, 55, 99, 100, 101, 999, 1000, 1001, 1234}) {
        ExpectUnsharpLikeOracle(pic, Unsharp(12, radius, 0));
        ExpectUnsharpLikeOracle(flat, Unsharp(3, radius, 0));
    }
    for (int amount : {-32768, -2, -1, 13, 100, 32767})
        for (int threshold : {-32768, -1, 0, 21, 255, 32767})
            ExpectUnsharpLikeOracle(pic, Unsharp(amount, 10, threshold));
    // A picture with more elements than there are whole-window sums: at radii
    // that are multiples of 10 the mask looks their quotients up in a table.
    TestPicture large(160, 150);
    large.Natural(rng);
    const std::tuple<int, int, int> tabled[] = {{-32768, 10, -1}, {-2, 20, 21}, {100, 40, 255}, {32767, 40, 0}};
    for (auto [amount, radius, threshold] : tabled) ExpectUnsharpLikeOracle(large, Unsharp(amount, radius, threshold));
}

}  // namespace
}  // namespace qz410
