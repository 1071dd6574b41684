// Pictures for the filter tests and benchmarks: 24-bit DIB rows with their
// filler bytes, held in a buffer of exactly the picture's size so that the
// sanitizer tree catches any access past it.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "settings/ColorSettings.h"

namespace qz410::oracle {

struct TestPicture {
    TestPicture(int32_t width, int32_t height);

    int32_t width;
    int32_t height;
    int32_t stride;
    std::vector<uint8_t> bytes;

    uint8_t* Data() { return bytes.data(); }
    uint8_t& At(int32_t x, int32_t y, int channel) {
        return bytes[size_t(y) * stride + 3 * size_t(x) + channel];
    }

    // The filler bytes at the row ends get `sentinel`; PaddingIs tells whether
    // they all still hold it.
    void FillPadding(uint8_t sentinel);
    bool PaddingIs(uint8_t sentinel) const;

    void Flat(uint8_t value);
    void Noise(std::mt19937& rng);
    // Smooth gradients with a little noise and a few flat rectangles, like a
    // photograph with sky.
    void Natural(std::mt19937& rng);
    // Rectangles of random flat values, touching each other and the border.
    void Blocks(std::mt19937& rng, int count);
};

// The unsharp mask switched on with the given values, everything else 0.
inline ColorSettings Unsharp(int amount, int radius, int threshold) {
    ColorSettings s{};
    s.unsharpEnabled = 1;
    s.unsharpAmount = static_cast<int16_t>(amount);
    s.unsharpRadius = static_cast<int16_t>(radius);
    s.unsharpThreshold = static_cast<int16_t>(threshold);
    return s;
}

// The preview's most expensive settings: the unsharp mask at its strongest
// (radius 30 unless given), the strongest 3 x 3 kernel and every tone field
// set.
inline ColorSettings WorstCaseSettings(int radius = 30) {
    ColorSettings s = Unsharp(12, radius, 0);
    s.brightness = 3;
    s.contrast = 4;
    s.saturation = 5;
    s.cyanRed = 2;
    s.magentaGreen = -3;
    s.yellowBlue = 4;
    s.sharpness = 7;
    return s;
}

}  // namespace qz410::oracle
