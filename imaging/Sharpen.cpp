#include "imaging/Sharpen.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/FilterSteps.h"
#include "imaging/HeapArray.h"

namespace qz410 {

constexpr SharpenKernel SharpenKernels[8] = {
    {0, 0, 0},     {224, 12, 7}, {240, 14, 7}, {256, 16, 7},
    {144, 10, 6},  {168, 13, 6}, {208, 18, 6}, {320, 32, 6},
};

namespace {

// ApplyToneTables takes a 16-bit count; a row of a user's picture may be
// wider, and must still be corrected whole.
constexpr int32_t kMaxToneRun = 32767;

// A*c - B*N with c <= 255 and N (the eight neighbours) <= 8*255 lies in
// -2040*B .. 255*A, which every kernel's shift takes into kLowest ..
// kHighest: a look-up clamps it to a byte, where compares and moves would
// cost registers the 32-bit build does not have.
constexpr int32_t kLowest = -1020;
constexpr int32_t kHighest = 1275;

constexpr bool KernelsStayInClampRange() {
    for (const SharpenKernel& k : SharpenKernels) {
        if (((-2040 * k.neighbourWeight) >> k.shift) < kLowest) return false;
        if (((255 * k.centreWeight) >> k.shift) > kHighest) return false;
    }
    return true;
}
static_assert(KernelsStayInClampRange());

struct ClampTable {
    uint8_t bytes[kHighest - kLowest + 1];
};

constexpr ClampTable MakeClampTable() {
    ClampTable table{};
    for (int32_t v = kLowest; v <= kHighest; ++v)
        table.bytes[v - kLowest] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    return table;
}

constexpr ClampTable kClampTable = MakeClampTable();

// Per channel the 3 x 3 total moves a pixel at a time: one column sum comes
// in, one goes out. The kernel's weights and shift are constants, so that
// they need no register.
template <unsigned Kernel>
void KernelChannels(const uint8_t* row, const uint16_t* columns, size_t first, size_t n, uint8_t* out) noexcept {
    constexpr int32_t centre = SharpenKernels[Kernel].centreWeight + SharpenKernels[Kernel].neighbourWeight;
    constexpr int32_t neighbour = SharpenKernels[Kernel].neighbourWeight;
    constexpr int shift = SharpenKernels[Kernel].shift;
    const uint8_t* clamp = kClampTable.bytes - kLowest;
    for (size_t channel = 0; channel < 3 && first + channel < n; ++channel) {
        size_t i = first + channel;
        int32_t total = columns[i] + columns[i + 3] + columns[i + 6];
        for (;; i += 3) {
            out[i] = clamp[(centre * row[i + 3] - neighbour * total) >> shift];
            if (i + 3 >= n) break;
            // The next total from this one by a single add: the difference
            // does not wait for it.
            total += columns[i + 9] - columns[i];
        }
    }
}

#if defined(__SSE2__)
// Which of a pixel's other channels a lane takes, for a group of sixteen
// elements whose first is channel `phase`: the one after it (channels 0 and
// 1), two after (0), the one before (1 and 2), two before (2).
struct NeighbourMasks {
    int16_t next[16], nextButOne[16], previous[16], previousButOne[16];
};

constexpr NeighbourMasks MakeNeighbourMasks(int phase) {
    NeighbourMasks m{};
    for (int i = 0; i < 16; ++i) {
        const int channel = (phase + i) % 3;
        m.next[i] = channel <= 1 ? -1 : 0;
        m.nextButOne[i] = channel == 0 ? -1 : 0;
        m.previous[i] = channel >= 1 ? -1 : 0;
        m.previousButOne[i] = channel == 2 ? -1 : 0;
    }
    return m;
}

// Groups at elements 0, 16 and 32 of every 48 start at channels 0, 1 and 2.
constexpr NeighbourMasks kNeighbourMasks[3] = {MakeNeighbourMasks(0), MakeNeighbourMasks(1), MakeNeighbourMasks(2)};

// The tone tables over pixels 1 onwards of a row, sixteen channel values at
// a time, while a pixel follows the group; returns the first pixel not done.
// Each value's index, value + trunc(saturation * d / 15), comes from
// arithmetic (the offsets have been checked to follow it): the mean of the
// other two is their sum halved, d in -255 .. 255 and |saturation| <= 15
// keep the product within 16 bits, and floor(|p| / 15) =
// (|p| * 0x8889) >> 19 for every |p| < 2^16, as 0x8889 * 15 exceeds 2^19 by
// only 7. The unsigned pack clamps the index to 0 .. 255 as ApplyToneTables
// does; the channel tables then take one look-up each. A pixel's values are
// read only by lanes of that pixel, and every group of a stretch is indexed
// before the stretch is written, so each index sees the values as read.
int32_t ToneRowFromPixelOne(uint8_t* row, int32_t width, int16_t saturation, const uint8_t* channelTables) noexcept {
    constexpr size_t kStretch = 240;  // elements, a multiple of 48
    const size_t n = 3 * static_cast<size_t>(width);
    const __m128i zero = _mm_setzero_si128();
    const __m128i factor = _mm_set1_epi16(saturation);
    const __m128i fifteenth = _mm_set1_epi16(static_cast<int16_t>(0x8889));
    auto indexOf = [&](__m128i value, __m128i others) noexcept {
        const __m128i product = _mm_mullo_epi16(_mm_sub_epi16(value, _mm_srli_epi16(others, 1)), factor);
        const __m128i sign = _mm_srai_epi16(product, 15);
        const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(product, sign), sign);
        const __m128i quotient = _mm_srli_epi16(_mm_mulhi_epu16(magnitude, fifteenth), 3);
        return _mm_add_epi16(value, _mm_sub_epi16(_mm_xor_si128(quotient, sign), sign));
    };
    alignas(16) uint8_t indices[kStretch];
    size_t e = 3;
    // A group of sixteen at g reads g - 2 .. g + 17.
    while (e + 2 + 48 <= n) {
        const size_t left = (n - 2 - e) / 48 * 48;
        const size_t length = left < kStretch ? left : kStretch;
        for (size_t g = 0, group = 0; g < length; g += 16, group = group == 2 ? 0 : group + 1) {
            const NeighbourMasks& m = kNeighbourMasks[group];
            const uint8_t* p = row + e + g;
            const __m128i before2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 2));
            const __m128i before1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
            const __m128i at = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i after1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
            const __m128i after2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
            auto others = [&](int half) noexcept {
                auto lanes = [&](__m128i bytes, const int16_t (&mask)[16]) noexcept {
                    const __m128i wide = half == 0 ? _mm_unpacklo_epi8(bytes, zero) : _mm_unpackhi_epi8(bytes, zero);
                    return _mm_and_si128(wide, _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + 8 * half)));
                };
                return _mm_add_epi16(_mm_add_epi16(lanes(after1, m.next), lanes(after2, m.nextButOne)),
                                     _mm_add_epi16(lanes(before1, m.previous), lanes(before2, m.previousButOne)));
            };
            const __m128i low = indexOf(_mm_unpacklo_epi8(at, zero), others(0));
            const __m128i high = indexOf(_mm_unpackhi_epi8(at, zero), others(1));
            _mm_store_si128(reinterpret_cast<__m128i*>(indices + g), _mm_packus_epi16(low, high));
        }
        uint8_t* out = row + e;
        for (size_t k = 0; k < length; k += 3) {
            out[k] = channelTables[indices[k]];
            out[k + 1] = channelTables[256 + indices[k + 1]];
            out[k + 2] = channelTables[512 + indices[k + 2]];
        }
        e += length;
    }
    return static_cast<int32_t>(e / 3);
}
#endif

}  // namespace

namespace steps {

// The same look-ups as ApplyToneTables, with the saturation offsets decoded
// once and the clamp folded into channel tables that take any index a
// channel value plus an offset can reach. Offsets beyond +-255 (saturation
// far outside its slider) do not fit, and those rows go through
// ApplyToneTables itself.
RowToneMapper::RowToneMapper(const ToneTables& tables) noexcept : tables_(tables) {
    folded_ = true;
    for (int d = -255; d <= 255; ++d) {
        offsets_[d + 255] = tables.SaturationOffset(d);
        if (offsets_[d + 255] < -255 || offsets_[d + 255] > 255) folded_ = false;
    }
    // BuildToneTables gives trunc(saturation * 2 * d / 30) for d, and so
    // the saturation itself for d = 15.
    saturation_ = offsets_[15 + 255];
    arithmetic_ = saturation_ >= -15 && saturation_ <= 15;
    for (int d = -255; d <= 255 && arithmetic_; ++d) arithmetic_ = offsets_[d + 255] == saturation_ * d / 15;
    for (int c = 0; c < 3; ++c) {
        const uint8_t* table = tables.bytes + 256 * c;
        for (int i = 0; i < kFoldedSize; ++i) {
            const int index = i - 255;
            foldedTables_[c][i] = table[index < 0 ? 0 : (index > 255 ? 255 : index)];
        }
    }
}

void RowToneMapper::Row(uint8_t* row, int32_t width) const noexcept {
    if (!folded_) {
        for (int32_t left = width; left > 0; left -= kMaxToneRun, row += 3 * static_cast<ptrdiff_t>(kMaxToneRun)) {
            const int32_t run = left < kMaxToneRun ? left : kMaxToneRun;
            ApplyToneTables(row, static_cast<int16_t>(run), tables_);
        }
        return;
    }
    const int16_t* offset = offsets_ + 255;
    const uint8_t* blue = foldedTables_[0] + 255;
    const uint8_t* green = foldedTables_[1] + 255;
    const uint8_t* red = foldedTables_[2] + 255;
    auto pixel = [&](uint8_t* p) noexcept {
        const int b0 = p[0];
        const int g0 = p[1];
        const int r0 = p[2];
        const int blueIndex = b0 + offset[b0 - ((g0 + r0) >> 1)];
        const int greenIndex = g0 + offset[g0 - ((r0 + b0) >> 1)];
        const int redIndex = r0 + offset[r0 - ((b0 + g0) >> 1)];
        p[0] = blue[blueIndex];
        p[1] = green[greenIndex];
        p[2] = red[redIndex];
    };
    int32_t x = 0;
#if defined(__SSE2__)
    if (arithmetic_ && width > 1) {
        pixel(row);
        x = ToneRowFromPixelOne(row, width, saturation_, tables_.bytes);
    }
#endif
    for (; x < width; ++x) pixel(row + 3 * static_cast<ptrdiff_t>(x));
}

// (A*c - B*(sum of the 8 neighbours)) >> s, clamped, taken as
// ((A + B)*c - B*(3 x 3 total)) >> s with the total from column sums.
void SharpenRow(const uint8_t* above, const uint8_t* row, const uint8_t* below, size_t n, unsigned kernel,
                uint16_t* columns, uint8_t* out) noexcept {
    const size_t count = n + 6;  // byte offsets 0 .. n + 5 of the three rows
    size_t i = 0;
#if defined(__SSE2__)
    // Column sums up to 3 * 255 and totals up to 9 * 255 fit 16 bits; the
    // weights (at most 352 and 32) too, so pmaddwd forms A*c - B*total of
    // each (c, total) pair exactly in 32 bits. The shifted results lie within
    // kLowest .. kHighest, kept by the signed 16-bit pack, and the unsigned
    // byte pack clamps them to 0 .. 255.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(below + i));
        const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(r, zero)),
                                         _mm_unpacklo_epi8(b, zero));
        const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(r, zero)),
                                         _mm_unpackhi_epi8(b, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(columns + i), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(columns + i + 8), hi);
    }
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Four column sums from one 32-bit load of each row: its even and its odd
    // bytes spread to 16-bit fields, where three bytes' sums cannot carry
    // into the next field.
    constexpr uint32_t kFields = 0x00FF00FF;
    for (; i + 4 <= count; i += 4) {
        uint32_t a, r, b;
        std::memcpy(&a, above + i, 4);
        std::memcpy(&r, row + i, 4);
        std::memcpy(&b, below + i, 4);
        const uint32_t even = (a & kFields) + (r & kFields) + (b & kFields);
        const uint32_t odd = ((a >> 8) & kFields) + ((r >> 8) & kFields) + ((b >> 8) & kFields);
        const uint32_t low = (even & 0xFFFF) | (odd << 16);
        const uint32_t high = (even >> 16) | (odd & 0xFFFF0000);
        std::memcpy(columns + i, &low, 4);
        std::memcpy(columns + i + 2, &high, 4);
    }
#endif
    for (; i < count; ++i) columns[i] = static_cast<uint16_t>(above[i] + row[i] + below[i]);

    i = 0;
#if defined(__SSE2__)
    const SharpenKernel& k = SharpenKernels[kernel];
    const int32_t centre = k.centreWeight + k.neighbourWeight;
    const __m128i weights = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(-k.neighbourWeight) << 16) |
                                                                static_cast<uint16_t>(centre)));
    const __m128i bits = _mm_cvtsi32_si128(k.shift);
    auto filter = [&](__m128i c, size_t at) noexcept {
        const __m128i total =
            _mm_add_epi16(_mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + at)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + at + 3))),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + at + 6)));
        const __m128i lo = _mm_sra_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(c, total), weights), bits);
        const __m128i hi = _mm_sra_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(c, total), weights), bits);
        return _mm_packs_epi32(lo, hi);
    };
    for (; i + 16 <= n; i += 16) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i + 3));
        const __m128i lo = filter(_mm_unpacklo_epi8(c, zero), i);
        const __m128i hi = filter(_mm_unpackhi_epi8(c, zero), i + 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    }
#endif
    switch (kernel) {
        case 1: KernelChannels<1>(row, columns, i, n, out); break;
        case 2: KernelChannels<2>(row, columns, i, n, out); break;
        case 3: KernelChannels<3>(row, columns, i, n, out); break;
        case 4: KernelChannels<4>(row, columns, i, n, out); break;
        case 5: KernelChannels<5>(row, columns, i, n, out); break;
        case 6: KernelChannels<6>(row, columns, i, n, out); break;
        default: KernelChannels<7>(row, columns, i, n, out); break;
    }
}

}  // namespace steps

void SharpenImage(uint8_t* picture, int32_t width, int32_t height, int32_t stride,
                  const ToneTables& tables, unsigned kernel) noexcept {
    if (picture == nullptr || width <= 0 || height <= 0) return;
    const ptrdiff_t rowStep = stride;
    auto rowAt = [picture, rowStep](int32_t r) noexcept { return picture + r * rowStep; };
    kernel &= 7;
    const steps::RowToneMapper tone(tables);

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

    tone.Row(rowAt(0), width);
    tone.Row(rowAt(1), width);
    for (int32_t i = 0; i + 2 < height; ++i) {
        tone.Row(rowAt(i + 2), width);
        steps::SharpenRow(rowAt(i), rowAt(i + 1), rowAt(i + 2), n, kernel, columns.get(), results[i & 1]);
        // Row i has served as a neighbour for the last time: only now may its
        // sharpened bytes replace the ones the kernel read.
        if (i > 0) std::memcpy(rowAt(i) + 3, results[(i - 1) & 1], n);
    }
    std::memcpy(rowAt(height - 2) + 3, results[(height - 3) & 1], n);
}

}  // namespace qz410
