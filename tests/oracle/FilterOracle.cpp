#include "oracle/FilterOracle.h"

#include <vector>

namespace qz410::oracle {
namespace {

int Clamp(int v) {
    if (v < 0) return 0;
    if (v > 255) return 255;
    return v;
}

// centre weight, neighbour weight, shift
const int kKernels[8][3] = {{0, 0, 0},    {224, 12, 7}, {240, 14, 7}, {256, 16, 7},
                            {144, 10, 6}, {168, 13, 6}, {208, 18, 6}, {320, 32, 6}};

int64_t Stride(int32_t width) { return (3 * int64_t{width} + 3) / 4 * 4; }

}  // namespace

int32_t TruncateToInt(double x) {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(x);
}

void BuildToneTables(const ColorSettings& s, ToneTables& tables) {
    int base = 5 * s.brightness;
    int redOffset = base + ((2 * s.cyanRed - s.magentaGreen - s.yellowBlue) * 3) / 2;
    int greenOffset = base + ((2 * s.magentaGreen - s.cyanRed - s.yellowBlue) * 3) / 2;
    int blueOffset = base + ((2 * s.yellowBlue - s.cyanRed - s.magentaGreen) * 3) / 2;
    for (int i = 0; i <= 255; i++) {
        int sat = (s.saturation * i * 2) / 30;
        uint16_t plus = static_cast<uint16_t>(sat);
        uint16_t minus = static_cast<uint16_t>(-sat);
        tables.bytes[1280 + 2 * i] = plus & 0xFF;
        tables.bytes[1280 + 2 * i + 1] = plus >> 8;
        tables.bytes[1280 - 2 * i] = minus & 0xFF;
        tables.bytes[1280 - 2 * i + 1] = minus >> 8;
        int k = ((i - 5 * s.contrast) * 128) / (128 - 5 * s.contrast);
        tables.bytes[0 + i] = Clamp(k + blueOffset);
        tables.bytes[256 + i] = Clamp(k + greenOffset);
        tables.bytes[512 + i] = Clamp(k + redOffset);
    }
}

void ApplyToneTables(uint8_t* pixels, int64_t count, const ToneTables& t) {
    for (int64_t p = 0; p < count; p++) {
        uint8_t* px = pixels + 3 * p;
        int b0 = px[0], g0 = px[1], r0 = px[2];
        int blueIndex = Clamp(b0 + t.SaturationOffset(b0 - ((g0 + r0) >> 1)));
        int greenIndex = Clamp(g0 + t.SaturationOffset(g0 - ((r0 + b0) >> 1)));
        int redIndex = Clamp(r0 + t.SaturationOffset(r0 - ((b0 + g0) >> 1)));
        px[0] = t.bytes[0 + blueIndex];
        px[1] = t.bytes[256 + greenIndex];
        px[2] = t.bytes[512 + redIndex];
    }
}

void SharpenImage(uint8_t* picture, int32_t width, int32_t height, int32_t stride,
                  const ToneTables& tables, unsigned kernel) {
    if (width <= 0 || height <= 0) return;
    for (int32_t y = 0; y < height; y++) oracle::ApplyToneTables(picture + int64_t{y} * stride, width, tables);
    kernel &= 7;
    if (kernel == 0 || width <= 2 || height <= 2) return;

    // Every kernel input is a tone-corrected, not yet sharpened byte: read
    // from a copy of the whole tone-corrected picture.
    std::vector<uint8_t> toned(picture, picture + int64_t{height} * stride);
    const int a = kKernels[kernel][0];
    const int b = kKernels[kernel][1];
    const int s = kKernels[kernel][2];
    for (int32_t y = 1; y < height - 1; y++) {
        for (int32_t x = 1; x < width - 1; x++) {
            for (int c = 0; c < 3; c++) {
                auto at = [&](int32_t yy, int32_t xx) {
                    return int{toned[int64_t{yy} * stride + 3 * int64_t{xx} + c]};
                };
                int sum = 0;
                for (int dy = -1; dy <= 1; dy++)
                    for (int dx = -1; dx <= 1; dx++)
                        if (dy != 0 || dx != 0) sum += at(y + dy, x + dx);
                int v = (a * at(y, x) - b * sum) >> s;
                picture[int64_t{y} * stride + 3 * int64_t{x} + c] = Clamp(v);
            }
        }
    }
}

void ApplyUnsharpMask(const ColorSettings& settings, int32_t width, int32_t height,
                      uint8_t* picture) {
    if (width <= 0 || height <= 0) return;
    const int64_t stride = Stride(width);
    int radius = settings.unsharpRadius;
    int amount = settings.unsharpAmount;
    int t = settings.unsharpThreshold;

    int h = radius / 10 + 1;
    double f = (radius % 10) * 0.1;
    double R = radius * 0.1;
    double u = R + R;
    u = u + 1.0;
    double D = u * u;
    double q = 1.0 / D;
    double g = ((amount + 1) * 25) * 0.01;

    std::vector<uint8_t> blurred(3 * size_t(width) * size_t(height));
    for (int32_t y = 0; y < height; y++) {
        for (int32_t x = 0; x < width; x++) {
            for (int c = 0; c < 3; c++) {
                double sum = 0.0;
                for (int dy = -h; dy <= h; dy++) {
                    for (int dx = -h; dx <= h; dx++) {
                        int64_t yy = int64_t{y} + dy, xx = int64_t{x} + dx;
                        if (yy < 0 || yy >= height || xx < 0 || xx >= width) continue;
                        double value = picture[yy * stride + 3 * xx + c];
                        bool cornerX = dx == -h || dx == h;
                        bool cornerY = dy == -h || dy == h;
                        if (cornerX && cornerY)
                            sum += (value * f) * f;
                        else if (cornerX || cornerY)
                            sum += value * f;
                        else
                            sum += value;
                    }
                }
                blurred[(size_t(y) * width + x) * 3 + c] = static_cast<uint8_t>(TruncateToInt(sum * q));
            }
        }
    }
    for (int32_t y = 0; y < height; y++) {
        for (int32_t x = 0; x < width; x++) {
            for (int c = 0; c < 3; c++) {
                uint8_t& px = picture[y * stride + 3 * x + c];
                int value = px;
                int d = value - blurred[(size_t(y) * width + x) * 3 + c];
                if (d < -t || d > t) px = Clamp(TruncateToInt(g * d + value));
            }
        }
    }
}

}  // namespace qz410::oracle
