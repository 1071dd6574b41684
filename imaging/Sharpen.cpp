#include "imaging/Sharpen.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/HeapArray.h"

namespace qz410 {

const SharpenKernel SharpenKernels[8] = {
    {0, 0, 0},     {224, 12, 7}, {240, 14, 7}, {256, 16, 7},
    {144, 10, 6},  {168, 13, 6}, {208, 18, 6}, {320, 32, 6},
};

namespace {

// ApplyToneTables takes a 16-bit count; a row of a user's picture may be
// wider, and must still be corrected whole.
constexpr int32_t kMaxToneRun = 32767;

// The tone tables as SharpenImage applies them to every row: the same
// look-ups as ApplyToneTables, with the saturation offsets decoded once and
// the clamp folded into channel tables that take any index a channel value
// plus an offset can reach. Offsets beyond +-255 (saturation far outside its
// slider) do not fit, and those rows go through ApplyToneTables itself.
class ToneMapper {
public:
    explicit ToneMapper(const ToneTables& tables) noexcept : tables_(tables) {
        folded_ = true;
        for (int d = -255; d <= 255; ++d) {
            offsets_[d + 255] = tables.SaturationOffset(d);
            if (offsets_[d + 255] < -255 || offsets_[d + 255] > 255) folded_ = false;
        }
        for (int c = 0; c < 3; ++c) {
            const uint8_t* table = tables.bytes + 256 * c;
            for (int i = 0; i < kFoldedSize; ++i) {
                const int index = i - 255;
                folded_tables_[c][i] = table[index < 0 ? 0 : (index > 255 ? 255 : index)];
            }
        }
    }

    void Row(uint8_t* row, int32_t width) const noexcept {
        if (!folded_) {
            for (int32_t left = width; left > 0;
                 left -= kMaxToneRun, row += 3 * static_cast<ptrdiff_t>(kMaxToneRun)) {
                const int32_t run = left < kMaxToneRun ? left : kMaxToneRun;
                ApplyToneTables(row, static_cast<int16_t>(run), tables_);
            }
            return;
        }
        const int16_t* offset = offsets_ + 255;
        const uint8_t* blue = folded_tables_[0] + 255;
        const uint8_t* green = folded_tables_[1] + 255;
        const uint8_t* red = folded_tables_[2] + 255;
        for (int32_t x = 0; x < width; ++x, row += 3) {
            const int b0 = row[0];
            const int g0 = row[1];
            const int r0 = row[2];
            const int blueIndex = b0 + offset[b0 - ((g0 + r0) >> 1)];
            const int greenIndex = g0 + offset[g0 - ((r0 + b0) >> 1)];
            const int redIndex = r0 + offset[r0 - ((b0 + g0) >> 1)];
            row[0] = blue[blueIndex];
            row[1] = green[greenIndex];
            row[2] = red[redIndex];
        }
    }

private:
    static constexpr int kFoldedSize = 256 + 2 * 255;
    const ToneTables& tables_;
    bool folded_;
    int16_t offsets_[511];
    uint8_t folded_tables_[3][kFoldedSize];
};

// One inner row: (A*c - B*(sum of the 8 neighbours)) >> s, clamped. The
// neighbour sum is taken as the 3 x 3 total less the centre, from column sums,
// so the loops stay simple enough to be vectorised.
void FilterRow(const uint8_t* above, const uint8_t* row, const uint8_t* below, size_t n,
               int32_t centre, int32_t neighbour, int32_t shift, uint16_t* columns,
               uint8_t* out) noexcept {
    const size_t count = n + 6;  // byte offsets 0 .. n + 5 of the three rows
    for (size_t i = 0; i < count; ++i)
        columns[i] = static_cast<uint16_t>(above[i] + row[i] + below[i]);
    const int32_t a = centre + neighbour;
    for (size_t i = 0; i < n; ++i) {
        const int32_t c = row[i + 3];
        const int32_t total = columns[i] + columns[i + 3] + columns[i + 6];
        int32_t v = (a * c - neighbour * total) >> shift;
        v = v < 0 ? 0 : v;
        v = v > 255 ? 255 : v;
        out[i] = static_cast<uint8_t>(v);
    }
}

}  // namespace

void SharpenImage(uint8_t* picture, int32_t width, int32_t height, int32_t stride,
                  const ToneTables& tables, unsigned kernel) noexcept {
    if (picture == nullptr || width <= 0 || height <= 0) return;
    const ptrdiff_t rowStep = stride;
    auto rowAt = [picture, rowStep](int32_t r) noexcept { return picture + r * rowStep; };
    kernel &= 7;
    const ToneMapper tone(tables);

    if (kernel == 0 || width <= 2 || height <= 2) {
        for (int32_t r = 0; r < height; ++r) tone.Row(rowAt(r), width);
        return;
    }

    const uint64_t bytes = 3 * (static_cast<uint64_t>(width) - 2);
    if (bytes > SIZE_MAX / 2 - 6) return;  // cannot be had, as a failed allocation
    const auto n = static_cast<size_t>(bytes);
    const auto scratch = HeapArray<uint8_t>::Allocate(2 * uint64_t{n});
    const auto columns = HeapArray<uint16_t>::Allocate(uint64_t{n} + 6);
    if (!scratch || !columns) return;
    uint8_t* results[2] = {scratch.get(), scratch.get() + n};

    const SharpenKernel& k = SharpenKernels[kernel];
    tone.Row(rowAt(0), width);
    tone.Row(rowAt(1), width);
    for (int32_t i = 0; i + 2 < height; ++i) {
        tone.Row(rowAt(i + 2), width);
        FilterRow(rowAt(i), rowAt(i + 1), rowAt(i + 2), n, k.centreWeight, k.neighbourWeight,
                  k.shift, columns.get(), results[i & 1]);
        // Row i has served as a neighbour for the last time: only now may its
        // sharpened bytes replace the ones the kernel read.
        if (i > 0) std::memcpy(rowAt(i) + 3, results[(i - 1) & 1], n);
    }
    std::memcpy(rowAt(height - 2) + 3, results[(height - 3) & 1], n);
}

}  // namespace qz410
