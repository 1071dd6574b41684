// The eleven colour-correction values as stored in every device mode, in the
// page record and in ".COL" files. The layout is fixed byte for byte because
// the host keeps copies of it on disk for years.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "stored records are little-endian and are used in place");

namespace qz410 {

struct ColorSettings {
    int16_t brightness;        // -10..10
    int16_t contrast;          // -10..10
    int16_t saturation;        // -10..10
    int16_t cyanRed;           // -10..10
    int16_t magentaGreen;      // -10..10
    int16_t yellowBlue;        // -10..10
    uint16_t sharpness;        // 0..7
    uint16_t reserved1;
    int32_t unsharpEnabled;    // exactly 1 means on
    int16_t unsharpAmount;     // 0..12, shown as 25 * (value + 1) percent
    int16_t unsharpRadius;     // 1..30 tenths of a pixel
    int16_t unsharpThreshold;  // 0..20
    uint16_t reserved2;
};

static_assert(sizeof(ColorSettings) == 28);
static_assert(offsetof(ColorSettings, brightness) == 0);
static_assert(offsetof(ColorSettings, contrast) == 2);
static_assert(offsetof(ColorSettings, saturation) == 4);
static_assert(offsetof(ColorSettings, cyanRed) == 6);
static_assert(offsetof(ColorSettings, magentaGreen) == 8);
static_assert(offsetof(ColorSettings, yellowBlue) == 10);
static_assert(offsetof(ColorSettings, sharpness) == 12);
static_assert(offsetof(ColorSettings, reserved1) == 14);
static_assert(offsetof(ColorSettings, unsharpEnabled) == 16);
static_assert(offsetof(ColorSettings, unsharpAmount) == 20);
static_assert(offsetof(ColorSettings, unsharpRadius) == 22);
static_assert(offsetof(ColorSettings, unsharpThreshold) == 24);
static_assert(offsetof(ColorSettings, reserved2) == 26);

// The ranges of the page's sliders; values outside them are repaired when a
// device mode is merged and held at the nearer end when put into a slider.
struct SettingRange {
    int minimum;
    int maximum;
};
inline constexpr SettingRange kBalanceRange{-10, 10};
inline constexpr SettingRange kSharpnessRange{0, 7};
inline constexpr SettingRange kUnsharpAmountRange{0, 12};
inline constexpr SettingRange kUnsharpRadiusRange{1, 30};
inline constexpr SettingRange kUnsharpThresholdRange{0, 20};

}  // namespace qz410
