// Brightness, contrast, colour balance and saturation as one lookup block,
// built once per repaint so that the per-pixel work is look-ups and adds.
#pragma once

#include <cstdint>

#include "settings/ColorSettings.h"

namespace qz410 {

// 1,799 bytes: three channel tables, two unused bytes, then 511 signed 16-bit
// little-endian saturation offsets for differences -255..255.
struct ToneTables {
    static constexpr int kBlueTable = 0;
    static constexpr int kGreenTable = 256;
    static constexpr int kRedTable = 512;
    static constexpr int kSaturationZero = 1280;  // byte offset of d = 0
    static constexpr int kSize = 1799;

    uint8_t bytes[kSize];

    int16_t SaturationOffset(int difference) const noexcept {
        const uint8_t* p = bytes + kSaturationZero + 2 * difference;
        return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    }
};
static_assert(sizeof(ToneTables) == ToneTables::kSize);

void BuildToneTables(const ColorSettings& settings, ToneTables& tables) noexcept;

// Converts `count` consecutive 24-bit pixels (blue, green, red) in place. The
// count is 16-bit because that is what callers have always passed; a count of
// zero or less changes nothing.
void ApplyToneTables(uint8_t* pixels, int16_t count, const ToneTables& tables) noexcept;

}  // namespace qz410
