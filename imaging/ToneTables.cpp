#include "imaging/ToneTables.h"

#include <cstring>

namespace qz410 {
namespace {

inline int ClampByte(int value) noexcept { return value < 0 ? 0 : (value > 255 ? 255 : value); }

inline void StoreOffset(ToneTables& tables, int difference, int value) noexcept {
    // Modular narrowing: only settings outside the sliders' ranges get here
    // with values that do not fit, and they must not be undefined behaviour.
    const auto bits = static_cast<uint16_t>(value);
    uint8_t* p = tables.bytes + ToneTables::kSaturationZero + 2 * difference;
    p[0] = static_cast<uint8_t>(bits);
    p[1] = static_cast<uint8_t>(bits >> 8);
}

}  // namespace

void BuildToneTables(const ColorSettings& settings, ToneTables& tables) noexcept {
    // Every field is a 16-bit value, so even outside the sliders' ranges no
    // intermediate below leaves 32 bits.
    const int brightness = settings.brightness;
    const int contrast = settings.contrast;
    const int saturation = settings.saturation;
    const int cyanRed = settings.cyanRed;
    const int magentaGreen = settings.magentaGreen;
    const int yellowBlue = settings.yellowBlue;

    const int base = 5 * brightness;
    const int redOffset = base + ((2 * cyanRed - magentaGreen - yellowBlue) * 3) / 2;
    const int greenOffset = base + ((2 * magentaGreen - cyanRed - yellowBlue) * 3) / 2;
    const int blueOffset = base + ((2 * yellowBlue - cyanRed - magentaGreen) * 3) / 2;
    // 128 is no multiple of 5, so the divisor is never zero.
    const int divisor = 128 - 5 * contrast;

    for (int i = 0; i < 256; ++i) {
        const int s = (saturation * i * 2) / 30;
        StoreOffset(tables, i, s);
        StoreOffset(tables, -i, -s);

        const int k = ((i - 5 * contrast) * 128) / divisor;
        tables.bytes[ToneTables::kBlueTable + i] = static_cast<uint8_t>(ClampByte(k + blueOffset));
        tables.bytes[ToneTables::kGreenTable + i] = static_cast<uint8_t>(ClampByte(k + greenOffset));
        tables.bytes[ToneTables::kRedTable + i] = static_cast<uint8_t>(ClampByte(k + redOffset));
    }
}

void ApplyToneTables(uint8_t* pixels, int16_t count, const ToneTables& tables) noexcept {
    const uint8_t* blue = tables.bytes + ToneTables::kBlueTable;
    const uint8_t* green = tables.bytes + ToneTables::kGreenTable;
    const uint8_t* red = tables.bytes + ToneTables::kRedTable;
    const uint8_t* zero = tables.bytes + ToneTables::kSaturationZero;
    auto offset = [zero](int difference) noexcept {
        int16_t value;  // little-endian, as the block is laid out
        std::memcpy(&value, zero + 2 * difference, sizeof value);
        return static_cast<int>(value);
    };

    for (int n = count; n > 0; --n, pixels += 3) {
        const int b0 = pixels[0];
        const int g0 = pixels[1];
        const int r0 = pixels[2];
        const int blueIndex = ClampByte(b0 + offset(b0 - ((g0 + r0) >> 1)));
        const int greenIndex = ClampByte(g0 + offset(g0 - ((r0 + b0) >> 1)));
        const int redIndex = ClampByte(r0 + offset(r0 - ((b0 + g0) >> 1)));
        pixels[0] = blue[blueIndex];
        pixels[1] = green[greenIndex];
        pixels[2] = red[redIndex];
    }
}

}  // namespace qz410
