#include "settings/ColorSettingsFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace qz410 {
namespace {

ColorSettings Sample() {
    ColorSettings s{};
    s.brightness = -3;
    s.contrast = 4;
    s.saturation = 10;
    s.cyanRed = -10;
    s.magentaGreen = 1;
    s.yellowBlue = 2;
    s.sharpness = 6;
    s.unsharpEnabled = 1;
    s.unsharpAmount = 12;
    s.unsharpRadius = 30;
    s.unsharpThreshold = 20;
    return s;
}

bool SameFields(const ColorSettings& a, const ColorSettings& b) {
    return a.brightness == b.brightness && a.contrast == b.contrast && a.saturation == b.saturation &&
           a.cyanRed == b.cyanRed && a.magentaGreen == b.magentaGreen && a.yellowBlue == b.yellowBlue &&
           a.sharpness == b.sharpness && a.unsharpEnabled == b.unsharpEnabled &&
           a.unsharpAmount == b.unsharpAmount && a.unsharpRadius == b.unsharpRadius &&
           a.unsharpThreshold == b.unsharpThreshold;
}

TEST(ColorSettingsFileTest, SavedFileLayout) {
    ColorSettings s = Sample();
    s.reserved1 = 0xBEEF;
    s.reserved2 = 0xCAFE;
    const auto bytes = SerializeColorSettingsFile(s);
    const std::vector<uint8_t> expected = {
        0x20, 0x00, 0x64, 0x00,              // 32, 100
        0xFD, 0xFF, 0x04, 0x00, 0x0A, 0x00,  // brightness -3, contrast 4, saturation 10
        0xF6, 0xFF, 0x01, 0x00, 0x02, 0x00,  // cyanRed -10, magentaGreen 1, yellowBlue 2
        0x06, 0x00, 0x00, 0x00,              // sharpness 6, reserved written as zero
        0x01, 0x00, 0x00, 0x00,              // unsharpEnabled 1
        0x0C, 0x00, 0x1E, 0x00, 0x14, 0x00,  // amount 12, radius 30, threshold 20
        0x00, 0x00,                          // reserved
    };
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST(ColorSettingsFileTest, ReadsBackWhatWasSavedAndIgnoresTheRest) {
    const auto saved = SerializeColorSettingsFile(Sample());
    std::vector<uint8_t> longer(saved.begin(), saved.end());
    longer.insert(longer.end(), {1, 2, 3, 4, 5});
    // Reserved bytes of a foreign writer do not matter.
    longer[18] = 0x55;
    longer[31] = 0x66;
    for (const auto& bytes : {std::vector<uint8_t>(saved.begin(), saved.end()), longer}) {
        const auto parsed = ParseColorSettingsFile(bytes);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_TRUE(SameFields(*parsed, Sample()));
    }
}

TEST(ColorSettingsFileTest, RefusesShortFilesAndForeignHeaders) {
    const auto saved = SerializeColorSettingsFile(Sample());
    std::vector<uint8_t> bytes(saved.begin(), saved.end());
    EXPECT_FALSE(ParseColorSettingsFile(std::span(bytes).first(31)));
    EXPECT_FALSE(ParseColorSettingsFile({}));
    for (auto [offset, value] : {std::pair{2, 101}, {0, 33}, {0, 31}, {1, 1}, {3, 1}}) {
        auto changed = bytes;
        changed[offset] = static_cast<uint8_t>(value);
        EXPECT_FALSE(ParseColorSettingsFile(changed)) << "byte " << offset << " = " << value;
    }
}

TEST(ColorSettingsFileTest, OutOfRangeValuesEndAtTheNearerSliderEnd) {
    ColorSettings s{};
    s.brightness = 50;
    s.contrast = -11;
    s.saturation = -32768;
    s.cyanRed = 10;
    s.magentaGreen = -10;
    s.yellowBlue = 32767;
    s.sharpness = 0xFFFF;  // unsigned: far above 7, not below 0
    s.unsharpEnabled = 2;
    s.unsharpAmount = -1;
    s.unsharpRadius = 0;
    s.unsharpThreshold = 21;
    s.reserved1 = 9;
    const ColorSettings held = HoldInSliderRanges(s);
    EXPECT_EQ(held.brightness, 10);
    EXPECT_EQ(held.contrast, -10);
    EXPECT_EQ(held.saturation, -10);
    EXPECT_EQ(held.cyanRed, 10);
    EXPECT_EQ(held.magentaGreen, -10);
    EXPECT_EQ(held.yellowBlue, 10);
    EXPECT_EQ(held.sharpness, 7);
    EXPECT_EQ(held.unsharpEnabled, 0);
    EXPECT_EQ(held.unsharpAmount, 0);
    EXPECT_EQ(held.unsharpRadius, 1);
    EXPECT_EQ(held.unsharpThreshold, 20);
    EXPECT_EQ(held.reserved1, 9);

    for (int32_t enabled : {1, 0, -1, 0x101, 0x10001}) {
        s.unsharpEnabled = enabled;
        EXPECT_EQ(HoldInSliderRanges(s).unsharpEnabled, enabled == 1 ? 1 : 0) << enabled;
    }
    EXPECT_TRUE(SameFields(HoldInSliderRanges(Sample()), Sample()));
}

}  // namespace
}  // namespace qz410
