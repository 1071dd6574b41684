// The unsharp mask's blur for the radii that are multiples of 10: sums of
// whole pixels in integers, and the exact quotients that the defining double
// product settles.
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/FilterSteps.h"
#include "imaging/FloatingPointGuard.h"
#include "imaging/UnsharpParts.h"

namespace qz410 {

using namespace unsharp;

namespace {

// The blur for radii that are multiples of 10 (10, 20 and 30 on the slider):
// the ring weighs 0.0, so the defining double sum is the exact integer sum S
// of the inner square of side 2h - 1 and only the final product S * q
// rounds. Wherever the square's area D does not divide S, S / D lies at
// least 1 / D from an integer and S * q within S / D * 10u of it (see the
// top of UnsharpMask.cpp), so the byte is floor(S / D); where S = k * D the
// product lands on k or just below it, and which one depends on k alone:
// `down[k]` holds that step, taken from the defining product once per call.
//
// For h <= 4, S <= 255 * 49 fits 16 bits, which lets x64 add eight sums per
// instruction and divide them with a 16-bit magic = ceil(2^shift / D):
// floor(S / D) = (S * magic) >> shift, since with e = magic * D - 2^shift < D
// the product is S / D + S * e / (D * 2^shift), whose excess stays below the
// 1 / D that separates S / D from the next integer whenever
// 255 * D * e < 2^shift. The 32-bit build looks every S up in a table of
// the bytes instead, as small as the sums are few.
//
// False when the radius is not one of those multiples of 10 (then FastBlur
// does the work).
bool FillWholeSums(int32_t radius, const Window& w, steps::WholeSums& sums) noexcept {
    if (radius < 10 || radius % 10 != 0 || w.h > steps::WholeSums::kLargestHalfWidth) return false;
    const uint32_t side = 2 * static_cast<uint32_t>(w.h) - 1;
    const uint32_t divisor = side * side;
    const uint32_t largest = 255 * divisor;
    sums.h = w.h;
    sums.divisor = divisor;
    for (int shift = 16; shift < 32 && sums.magic == 0; ++shift) {
        const uint64_t scale = uint64_t{1} << shift;
        const uint64_t magic = (scale + divisor - 1) / divisor;
        if (magic > 0xFFFF) return false;
        if (uint64_t{largest} * (magic * divisor - scale) < scale) {
            sums.magic = static_cast<uint32_t>(magic);
            sums.shift = shift;
        }
    }
    if (sums.magic == 0) return false;
    for (uint32_t k = 0; k < 256; ++k) {
        const int32_t byte = TruncateNonNegative(static_cast<double>(k * divisor) * w.q);
        if (byte != static_cast<int32_t>(k) && byte + 1 != static_cast<int32_t>(k)) return false;
        sums.down[k] = static_cast<uint8_t>(static_cast<int32_t>(k) - byte);
        uint8_t* run = sums.quotients + k * divisor;
        std::memset(run, static_cast<int>(k), k < 255 ? divisor : 1);
        run[0] = static_cast<uint8_t>(byte);
    }
    return true;
}

// The rows' sums move down a row: `add` comes in, `subtract` goes out
// (either may be missing at the picture's top and bottom). Modular 16-bit
// arithmetic keeps the true sums, which never leave 16 bits.
template <bool Add, bool Subtract>
void SlideColumns(uint16_t* columns, const uint8_t* add, const uint8_t* subtract, size_t n) noexcept {
    size_t e = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; e + 16 <= n; e += 16) {
        __m128i* lo = reinterpret_cast<__m128i*>(columns + e);
        __m128i* hi = reinterpret_cast<__m128i*>(columns + e + 8);
        __m128i a = _mm_loadu_si128(lo), b = _mm_loadu_si128(hi);
        if (Add) {
            const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(add + e));
            a = _mm_add_epi16(a, _mm_unpacklo_epi8(in, zero));
            b = _mm_add_epi16(b, _mm_unpackhi_epi8(in, zero));
        }
        if (Subtract) {
            const __m128i out = _mm_loadu_si128(reinterpret_cast<const __m128i*>(subtract + e));
            a = _mm_sub_epi16(a, _mm_unpacklo_epi8(out, zero));
            b = _mm_sub_epi16(b, _mm_unpackhi_epi8(out, zero));
        }
        _mm_storeu_si128(lo, a);
        _mm_storeu_si128(hi, b);
    }
#endif
    for (; e < n; ++e) {
        uint32_t sum = columns[e];
        if (Add) sum += add[e];
        if (Subtract) sum -= subtract[e];
        columns[e] = static_cast<uint16_t>(sum);
    }
}

void SlideColumns(uint16_t* columns, const uint8_t* add, const uint8_t* subtract, size_t n) noexcept {
    if (add != nullptr && subtract != nullptr)
        SlideColumns<true, true>(columns, add, subtract, n);
    else if (add != nullptr)
        SlideColumns<true, false>(columns, add, subtract, n);
    else if (subtract != nullptr)
        SlideColumns<false, true>(columns, add, subtract, n);
}

// One blurred row from the column sums: the 2h - 1 column sums of the
// element's channel around it, then the quotient. `columns` has 3h zero
// sums before and after the row, the pixels outside the picture.
void WholeSumRow(const uint16_t* columns, size_t n, const steps::WholeSums& sums, uint8_t* out) noexcept {
    const ptrdiff_t reach = 3 * static_cast<ptrdiff_t>(sums.h - 1);
    size_t e = 0;
#if defined(__SSE2__)
    const __m128i magic = _mm_set1_epi16(static_cast<int16_t>(sums.magic));
    const __m128i divisor = _mm_set1_epi16(static_cast<int16_t>(sums.divisor));
    const __m128i shift = _mm_cvtsi32_si128(sums.shift - 16);
    auto quotients = [&](__m128i s) noexcept {
        const __m128i k = _mm_srl_epi16(_mm_mulhi_epu16(s, magic), shift);
        const __m128i exact = _mm_cmpeq_epi16(_mm_mullo_epi16(k, divisor), s);
        const int hits = _mm_movemask_epi8(exact);
        if (hits == 0) return k;
        // Flat areas give eight equal sums, all exact: one step for all.
        const __m128i first = _mm_shuffle_epi32(_mm_shufflelo_epi16(s, 0), 0);
        if (hits == 0xFFFF && _mm_movemask_epi8(_mm_cmpeq_epi16(s, first)) == 0xFFFF)
            return _mm_sub_epi16(k, _mm_set1_epi16(sums.down[_mm_cvtsi128_si32(k) & 0xFFFF]));
        alignas(16) uint16_t lanes[8], exactLanes[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), k);
        _mm_store_si128(reinterpret_cast<__m128i*>(exactLanes), exact);
        for (int i = 0; i < 8; ++i) lanes[i] = static_cast<uint16_t>(lanes[i] - (sums.down[lanes[i]] & exactLanes[i]));
        return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes));
    };
    for (; e + 16 <= n; e += 16) {
        __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
        for (ptrdiff_t d = -reach; d <= reach; d += 3) {
            lo = _mm_add_epi16(lo, _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + e + d)));
            hi = _mm_add_epi16(hi, _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + e + 8 + d)));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + e), _mm_packus_epi16(quotients(lo), quotients(hi)));
    }
#endif
    // One running sum per channel, moved a pixel at a time.
    const size_t first = e;
    for (size_t c = 0; c < 3 && first + c < n; ++c) {
        e = first + c;
        uint32_t s = 0;
        for (ptrdiff_t d = -reach; d <= reach; d += 3) s += columns[static_cast<ptrdiff_t>(e) + d];
        for (; e < n; e += 3) {
            out[e] = sums.quotients[s];
            s += static_cast<uint32_t>(columns[static_cast<ptrdiff_t>(e) + reach + 3] -
                                       columns[static_cast<ptrdiff_t>(e) - reach]);
        }
    }
}

}  // namespace

namespace unsharp {

// Row y's inner square covers rows y - h + 1 .. y + h - 1: one sum per
// element over those rows, moved down a row at a time.
bool BlurWholeSums(const Picture& pic, const steps::WholeSums& sums, uint8_t* blurred) noexcept {
    const size_t n = 3 * static_cast<size_t>(pic.width);
    const size_t margin = 3 * static_cast<size_t>(sums.h);
    const auto held = TryAllocate<uint16_t>(uint64_t{n} + 2 * uint64_t{margin});
    if (!held) return false;
    std::memset(held.get(), 0, (n + 2 * margin) * sizeof(uint16_t));
    uint16_t* columns = held.get() + margin;
    const int32_t h = sums.h;
    for (int32_t r = 0; r < h && r < pic.height; ++r) SlideColumns(columns, pic.Row(r), nullptr, n);
    for (int32_t y = 0; y < pic.height; ++y, blurred += n) {
        WholeSumRow(columns, n, sums, blurred);
        SlideColumns(columns, y + h < pic.height ? pic.Row(y + h) : nullptr,
                     y - h + 1 >= 0 ? pic.Row(y - h + 1) : nullptr, n);
    }
    return true;
}

}  // namespace unsharp

namespace steps {

bool PrepareWholeSums(const ColorSettings& settings, WholeSums& sums) noexcept {
    FloatingPointGuard guard;
    if (!guard.Ready()) return false;
    const UnsharpParameters p = ParametersOf(settings);
    return FillWholeSums(p.radius, p.window, sums);
}

}  // namespace steps

}  // namespace qz410
