// Brightness, contrast, balance and saturation through the lookup block:
// the values a user sees at the ends of each slider, and the pixel path.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/ToneTables.h"
#include "oracle/FilterOracle.h"

namespace qz410 {
namespace {

ToneTables Build(const ColorSettings& s) {
    ToneTables t;
    BuildToneTables(s, t);
    return t;
}

ColorSettings Contrast(int c) {
    ColorSettings s{};
    s.contrast = int16_t(c);
    return s;
}

ColorSettings Balance(int cyanRed, int magentaGreen, int yellowBlue) {
    ColorSettings s{};
    s.cyanRed = int16_t(cyanRed);
    s.magentaGreen = int16_t(magentaGreen);
    s.yellowBlue = int16_t(yellowBlue);
    return s;
}

ColorSettings Saturation(int v) {
    ColorSettings s{};
    s.saturation = int16_t(v);
    return s;
}

// At contrast 0 entry 128 is 128 plus the channel's offset.
struct Offsets {
    int blue, green, red;
};
Offsets OffsetsOf(const ColorSettings& s) {
    const ToneTables t = Build(s);
    return {t.bytes[ToneTables::kBlueTable + 128] - 128, t.bytes[ToneTables::kGreenTable + 128] - 128,
            t.bytes[ToneTables::kRedTable + 128] - 128};
}

std::vector<uint8_t> Apply(const ColorSettings& s, std::vector<uint8_t> pixels) {
    const ToneTables t = Build(s);
    ApplyToneTables(pixels.data(), int16_t(pixels.size() / 3), t);
    return pixels;
}

TEST(ToneTables, NeutralSettingsAreTheIdentity) {
    const ToneTables t = Build(ColorSettings{});
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(t.bytes[ToneTables::kBlueTable + i], i);
        EXPECT_EQ(t.bytes[ToneTables::kGreenTable + i], i);
        EXPECT_EQ(t.bytes[ToneTables::kRedTable + i], i);
    }
    for (int d = -255; d <= 255; ++d) EXPECT_EQ(t.SaturationOffset(d), 0);
    std::vector<uint8_t> pixels;
    for (int i = 0; i < 300; ++i) pixels.push_back(uint8_t(i * 7));
    EXPECT_EQ(Apply(ColorSettings{}, pixels), pixels);
}

TEST(ToneTables, ContrastCurveAtTheSliderEnds) {
    // {contrast, input, stored output}
    const int cases[][3] = {{10, 0, 0},    {10, 50, 0},    {10, 100, 82},  {10, 128, 128},
                            {10, 200, 246}, {10, 255, 255}, {-10, 0, 35},   {-10, 100, 107},
                            {-10, 128, 128}, {-10, 129, 128}, {-10, 255, 219}, {1, 0, 0},
                            {1, 255, 255},  {-1, 0, 4},     {-1, 255, 250}};
    for (auto [contrast, input, output] : cases) {
        const ToneTables t = Build(Contrast(contrast));
        EXPECT_EQ(t.bytes[ToneTables::kRedTable + input], output) << contrast << " " << input;
        EXPECT_EQ(t.bytes[ToneTables::kBlueTable + input], output) << contrast << " " << input;
    }
    for (int c = -10; c <= 10; ++c) EXPECT_EQ(Build(Contrast(c)).bytes[ToneTables::kGreenTable + 128], 128);
}

TEST(ToneTables, BrightnessShiftsAndClampsOnce) {
    ColorSettings up{}, down{};
    up.brightness = 10;
    down.brightness = -10;
    const ToneTables u = Build(up), d = Build(down);
    EXPECT_EQ(u.bytes[ToneTables::kGreenTable + 0], 50);
    for (int i = 205; i < 256; ++i) EXPECT_EQ(u.bytes[ToneTables::kGreenTable + i], 255);
    EXPECT_EQ(u.bytes[ToneTables::kGreenTable + 204], 254);
    for (int i = 0; i <= 50; ++i) EXPECT_EQ(d.bytes[ToneTables::kRedTable + i], 0);
    EXPECT_EQ(d.bytes[ToneTables::kRedTable + 51], 1);
    EXPECT_EQ(d.bytes[ToneTables::kRedTable + 255], 205);
}

TEST(ToneTables, BalanceOffsetsTruncateTowardZero) {
    const struct {
        ColorSettings s;
        int blue, green, red;
    } cases[] = {
        {Balance(10, 0, 0), -15, -15, 30},  {Balance(1, 0, 0), -1, -1, 3},
        {Balance(-1, 0, 0), 1, 1, -3},      {Balance(3, 0, 0), -4, -4, 9},
        {Balance(0, 10, 0), -15, 30, -15},  {Balance(0, 0, 10), 30, -15, -15},
        {Balance(10, 10, 10), 0, 0, 0},     {Balance(10, -10, 0), 0, -45, 45},
    };
    for (const auto& c : cases) {
        const Offsets o = OffsetsOf(c.s);
        EXPECT_EQ(o.blue, c.blue) << c.s.cyanRed << " " << c.s.magentaGreen << " " << c.s.yellowBlue;
        EXPECT_EQ(o.green, c.green) << c.s.cyanRed << " " << c.s.magentaGreen << " " << c.s.yellowBlue;
        EXPECT_EQ(o.red, c.red) << c.s.cyanRed << " " << c.s.magentaGreen << " " << c.s.yellowBlue;
    }
}

TEST(ToneTables, SaturationOffsetsAreOddAndTruncated) {
    const ToneTables plus10 = Build(Saturation(10)), minus10 = Build(Saturation(-10));
    const int d10[][2] = {{1, 0},   {2, 1},    {3, 2},     {15, 10},    {100, 66},  {255, 170},
                          {-2, -1}, {-3, -2},  {-100, -66}, {-255, -170}, {0, 0}};
    for (auto [d, offset] : d10) {
        EXPECT_EQ(plus10.SaturationOffset(d), offset) << d;
        EXPECT_EQ(minus10.SaturationOffset(d), -offset) << d;
    }
    const ToneTables plus1 = Build(Saturation(1)), plus5 = Build(Saturation(5));
    EXPECT_EQ(plus1.SaturationOffset(15), 1);
    EXPECT_EQ(plus1.SaturationOffset(100), 6);
    EXPECT_EQ(plus1.SaturationOffset(255), 17);
    EXPECT_EQ(plus5.SaturationOffset(3), 1);
    EXPECT_EQ(plus5.SaturationOffset(255), 85);
    // Stored little-endian at byte 1280 + 2d.
    EXPECT_EQ(plus10.bytes[1280 + 2 * 255], 170);
    EXPECT_EQ(plus10.bytes[1280 + 2 * 255 + 1], 0);
    EXPECT_EQ(plus10.bytes[1280 - 2 * 255], uint8_t(-170 & 0xFF));
    EXPECT_EQ(plus10.bytes[1280 - 2 * 255 + 1], 0xFF);
}

TEST(ToneTables, PixelsReadBeforeAnyByteIsWritten) {
    EXPECT_EQ(Apply(Saturation(10), {50, 100, 200}), (std::vector<uint8_t>{0, 84, 255}));
    EXPECT_EQ(Apply(Saturation(-10), {50, 100, 200}), (std::vector<uint8_t>{116, 116, 117}));
    EXPECT_EQ(Apply(Saturation(10), {10, 11, 12}), (std::vector<uint8_t>{10, 11, 13}));
    for (int v : {-10, -3, 4, 10})
        for (int grey : {0, 1, 127, 254, 255})
            EXPECT_EQ(Apply(Saturation(v), {uint8_t(grey), uint8_t(grey), uint8_t(grey)}),
                      (std::vector<uint8_t>(3, uint8_t(grey))));

    ColorSettings mixed{};
    mixed.brightness = 2;
    mixed.contrast = 4;
    mixed.saturation = 3;
    mixed.cyanRed = 1;
    mixed.magentaGreen = -2;
    mixed.yellowBlue = 5;
    const ToneTables t = Build(mixed);
    // At contrast 4, k(128) = 128 still, so entry 128 shows each offset.
    EXPECT_EQ(t.bytes[ToneTables::kBlueTable + 128], 128 + 26);
    EXPECT_EQ(t.bytes[ToneTables::kGreenTable + 128], 128 - 5);
    EXPECT_EQ(t.bytes[ToneTables::kRedTable + 128], 128 + 9);
    EXPECT_EQ(Apply(mixed, {30, 60, 90}), (std::vector<uint8_t>{27, 42, 102}));
}

TEST(ToneTables, CountBoundsTheBytesTouched) {
    ColorSettings bright{};
    bright.brightness = 10;
    const ToneTables t = Build(bright);
    std::vector<uint8_t> pixels(30, 7);
    ApplyToneTables(pixels.data(), 0, t);
    ApplyToneTables(pixels.data(), -1, t);
    ApplyToneTables(pixels.data(), -32768, t);
    EXPECT_EQ(pixels, std::vector<uint8_t>(30, 7));
    ApplyToneTables(pixels.data() + 3, 4, t);
    for (size_t i = 0; i < pixels.size(); ++i) EXPECT_EQ(pixels[i], i >= 3 && i < 15 ? 57 : 7) << i;
}

// A settings file from elsewhere may hold any 16-bit value: the block is
// still built without overflow (the sanitizer tree checks) and as defined.
TEST(ToneTables, ExtremeFieldValues) {
    for (int v : {-32768, -11, 11, 25, 26, 32767}) {
        int16_t ColorSettings::*fields[] = {&ColorSettings::brightness, &ColorSettings::contrast,
                                            &ColorSettings::saturation, &ColorSettings::cyanRed,
                                            &ColorSettings::magentaGreen, &ColorSettings::yellowBlue};
        for (auto field : fields) {
            ColorSettings s{};
            s.*field = int16_t(v);
            ToneTables product{}, expected{};
            BuildToneTables(s, product);
            oracle::BuildToneTables(s, expected);
            EXPECT_EQ(std::vector<uint8_t>(product.bytes, product.bytes + ToneTables::kSize),
                      std::vector<uint8_t>(expected.bytes, expected.bytes + ToneTables::kSize));
            std::vector<uint8_t> pixels{0, 128, 255, 255, 0, 128, 9, 9, 9};
            std::vector<uint8_t> want = pixels;
            ApplyToneTables(pixels.data(), 3, product);
            oracle::ApplyToneTables(want.data(), 3, expected);
            EXPECT_EQ(pixels, want);
        }
    }
}

}  // namespace
}  // namespace qz410
