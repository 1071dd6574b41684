#include "oracle/TestPicture.h"

#include <algorithm>
#include <cmath>

namespace qz410::oracle {
namespace {

// mt19937's output is fixed by the standard; the library's distributions are
// not, so every tree derives the same pictures from plain remainders.
int Uniform(std::mt19937& rng, int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); }

uint8_t Clip(double v) { return uint8_t(std::clamp(v, 0.0, 255.0)); }

}  // namespace

TestPicture::TestPicture(int32_t w, int32_t h)
    : width(w), height(h), stride(int32_t((3 * int64_t{w} + 3) / 4 * 4)),
      bytes(size_t(stride) * size_t(h), 0) {}

void TestPicture::FillPadding(uint8_t sentinel) {
    for (int32_t y = 0; y < height; ++y)
        for (int32_t p = 3 * width; p < stride; ++p) bytes[size_t(y) * stride + p] = sentinel;
}

bool TestPicture::PaddingIs(uint8_t sentinel) const {
    for (int32_t y = 0; y < height; ++y)
        for (int32_t p = 3 * width; p < stride; ++p)
            if (bytes[size_t(y) * stride + p] != sentinel) return false;
    return true;
}

void TestPicture::Flat(uint8_t value) {
    for (int32_t y = 0; y < height; ++y)
        for (int32_t p = 0; p < 3 * width; ++p) bytes[size_t(y) * stride + p] = value;
}

void TestPicture::Noise(std::mt19937& rng) {
    for (int32_t y = 0; y < height; ++y)
        for (int32_t p = 0; p < 3 * width; ++p) bytes[size_t(y) * stride + p] = uint8_t(rng());
}

void TestPicture::Natural(std::mt19937& rng) {
    const double phase[3] = {Uniform(rng, 0, 628) / 100.0, Uniform(rng, 0, 628) / 100.0,
                             Uniform(rng, 0, 628) / 100.0};
    const double scale = 6.0 / std::max(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const double smooth = 128 + 100 * std::sin(x * scale + phase[c]) * std::cos(y * scale * 0.7 + c);
                At(x, y, c) = Clip(smooth + Uniform(rng, -6, 6));
            }
    const int flats = 3;
    for (int i = 0; i < flats; ++i) {
        const int32_t w = std::max(1, width / Uniform(rng, 3, 6));
        const int32_t h = std::max(1, height / Uniform(rng, 3, 6));
        const int32_t x0 = Uniform(rng, 0, std::max(0, width - w));
        const int32_t y0 = Uniform(rng, 0, std::max(0, height - h));
        const uint8_t colour[3] = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
        for (int32_t y = y0; y < y0 + h && y < height; ++y)
            for (int32_t x = x0; x < x0 + w && x < width; ++x)
                for (int c = 0; c < 3; ++c) At(x, y, c) = colour[c];
    }
}

void TestPicture::Blocks(std::mt19937& rng, int count) {
    for (int i = 0; i < count; ++i) {
        const int32_t x0 = Uniform(rng, 0, width - 1);
        const int32_t y0 = Uniform(rng, 0, height - 1);
        const int32_t x1 = std::min(width, x0 + Uniform(rng, 1, std::max(1, width / 2)));
        const int32_t y1 = std::min(height, y0 + Uniform(rng, 1, std::max(1, height / 2)));
        const uint8_t v = uint8_t(rng());
        const bool grey = rng() % 2 == 0;
        const uint8_t colour[3] = {v, grey ? v : uint8_t(rng()), grey ? v : uint8_t(rng())};
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x)
                for (int c = 0; c < 3; ++c) At(x, y, c) = colour[c];
    }
}

}  // namespace qz410::oracle
