// The unsharp mask: a fractional box blur in double precision, then each
// channel pushed away from its blurred value.
//
// The bytes are defined by a particular sequence of double operations (sum
// over the window row by row, corner terms (v*f)*f, ring terms v*f, inner
// terms v, times q = 1/D, truncated). Doing that per pixel costs (2h+1)^2
// operations per channel, far too slow for a preview redrawn on every slider
// step, so the blur is computed exactly in integers instead and the double
// sequence is run only where it can give a different byte:
//
// With m = radius mod 10 and the 1-D weights W = [m, 10, ..., 10, m]
// (2h+1 of them), the window's weights are W[dy]*W[dx] / 100, so the exact
// sum is N / 100 with the integer N = sum W[dy]*W[dx]*v, and the exact
// blurred value is N / M with M = (2*radius + 10)^2. N comes from separable
// sliding sums, O(1) per pixel whatever the radius.
//
// Error bound, rounding to nearest, u = 2^-53: fl(0.1), f and each corner or
// ring term carry a relative error of at most 6u, the recursive sum of n
// non-negative terms adds at most (n - 1)u, D and q = fl(1/D) together at most
// 8u, the final product u. So the double quotient is N/M * (1 + e) with
// |e| <= (n + 14)u (plus second-order terms), and N/M <= 255. For
// radius <= kFastRadiusLimit: n <= (2h+1)^2 <= 203^2, giving an absolute
// error below 1.2e-9, while M <= 2010^2 makes any non-integer N/M at least
// 1/M >= 2.4e-7 away from an integer. So wherever M does not divide N the
// byte is floor(N/M); where it does (N/M = k), the double result is k or
// k - 1 and the double sequence decides. That happens in flat areas all the
// time: a flat window wholly inside the picture gives a result that depends
// on the value alone, so it is computed once per value and remembered.
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/FilterSteps.h"
#include "imaging/FloatingPointGuard.h"
#include "imaging/HeapArray.h"
#include "imaging/Sharpen.h"
#include "imaging/UnsharpParts.h"

namespace qz410 {

using namespace unsharp;

namespace {

constexpr int32_t kFastRadiusLimit = 1000;

// The sharpen step for one channel. Branch-free so that it vectorises;
// clamping before the truncation gives the same byte as after it and keeps
// the conversion defined: g * d + value is finite for every 16-bit amount.
inline uint8_t SharpenedValue(int32_t value, int32_t blurred, double g, int32_t threshold) noexcept {
    const int32_t difference = value - blurred;
    double x = g * difference + value;
    x = x < 0.0 ? 0.0 : x;
    x = x > 255.0 ? 255.0 : x;
    const auto sharpened = static_cast<uint8_t>(TruncateNonNegative(x));
    const bool beyond = difference < -threshold || difference > threshold;
    return beyond ? sharpened : static_cast<uint8_t>(value);
}

// The sharpen step without a double-to-integer conversion per element (each
// one costs two control-word loads on the x87 unit). For a difference d =
// value - blurred beyond the threshold, with gd = g * d and c = value +
// floor(gd), the exact sum gd + value lies in [c, c + 1) and rounds to c + 1
// only if gd lies within half a unit in the last place of the sum below the
// next integer. |c| < 2^22 for every 16-bit amount, so that unit is at most
// 2^-30, and for any gd farther from it than 2^-20 the byte is c clamped to
// [0, 255] (which the truncation of the clamped sum also gives). Fills
// floors[d + 255] with floor(gd), or 0 where d is within the threshold, and
// tells whether every gd is that far; g = (amount + 1) / 4 exactly for every
// 16-bit amount, so gd is a multiple of 1/4 and it always is. The integers
// here are far below 2^52, so the doubles that count them are exact, and so
// is the gap from gd to the next integer wherever it is small.
bool FillDifferenceFloors(double g, int32_t threshold, int32_t* floors) noexcept {
    for (int32_t d = -255; d <= 255; ++d) {
        int32_t& floorGd = floors[d + 255];
        floorGd = 0;
        if (d >= -threshold && d <= threshold) continue;
        const double gd = g * d;
        floorGd = TruncateToInt(gd);
        if (static_cast<double>(floorGd) > gd) --floorGd;
        if (static_cast<double>(floorGd) + 1.0 - gd <= 0x1p-20) return false;
    }
    return true;
}

// The defining double sequence for one channel of one pixel. Pixels outside
// the picture are skipped by bounding the loops, which adds the same terms
// in the same order.
int32_t BlurSample(const Picture& pic, int32_t x, int32_t y, int32_t channel,
                   const Window& w) noexcept {
    const int64_t h = w.h;
    const int64_t dyFirst = -h > -int64_t{y} ? -h : -int64_t{y};
    const int64_t dyLast = h < int64_t{pic.height} - 1 - y ? h : int64_t{pic.height} - 1 - y;
    const int64_t dxFirst = -h > -int64_t{x} ? -h : -int64_t{x};
    const int64_t dxLast = h < int64_t{pic.width} - 1 - x ? h : int64_t{pic.width} - 1 - x;
    const double f = w.f;
    double sum = 0.0;
    for (int64_t dy = dyFirst; dy <= dyLast; ++dy) {
        const uint8_t* row = pic.Row(static_cast<int32_t>(y + dy)) + channel;
        const bool edgeY = dy == -h || dy == h;
        for (int64_t dx = dxFirst; dx <= dxLast; ++dx) {
            const double v = row[3 * (x + dx)];
            const bool edgeX = dx == -h || dx == h;
            if (edgeX && edgeY)
                sum += (v * f) * f;
            else if (edgeX || edgeY)
                sum += v * f;
            else
                sum += v;
        }
    }
    return TruncateToInt(sum * w.q);
}

void BlurPlain(const Picture& pic, const Window& w, uint8_t* blurred) noexcept {
    for (int32_t y = 0; y < pic.height; ++y)
        for (int32_t x = 0; x < pic.width; ++x)
            for (int32_t c = 0; c < 3; ++c)
                *blurred++ = static_cast<uint8_t>(BlurSample(pic, x, y, c, w));
}

// Integer sliding-sum blur for 1 <= radius <= kFastRadiusLimit, proven equal
// to BlurPlain (see the top of this file). Radii 10, 20 and 30 have a blur of
// their own (WholeSumBlur.cpp).
//
// When radius mod 10 is 0 the ring weighs exactly 0.0, every ring term adds
// +0.0 and every inner term is an integer, so the double sum is the exact
// integer sum of the inner square and only the final product rounds: then
// the sums are kept unscaled and the defining product is done for every
// element, with no exception and no flat-area bookkeeping.
class FastBlur {
public:
    FastBlur(const Picture& pic, int32_t radius, const Window& w) noexcept
        : pic_(pic), window_(w), h_(w.h), rowLength_(3 * static_cast<size_t>(pic.width)),
          ringRows_(2 * w.h + 1) {
        const auto m = static_cast<uint32_t>(radius % 10);
        wholeSums_ = m == 0;
        innerWeight_ = wholeSums_ ? 1 : 10;
        ringWeight_ = m;
        divisor_ = static_cast<uint32_t>((2 * radius + 10) * (2 * radius + 10));
        // floor(N / M) = (N * magic) >> shift for every N < 2^b, b the bit
        // width of 255 * M, with l = ceil(log2 M) and magic = ceil(2^(b+l) / M):
        // the rounding up adds less than 2^b * M / (M * 2^(b+l)) = 2^-l <= 1/M.
        int l = 0;
        while ((uint64_t{1} << l) < divisor_) ++l;
        int b = 0;
        while ((uint64_t{1} << b) <= uint64_t{255} * divisor_) ++b;
        shift_ = b + l;
        magic_ = static_cast<uint32_t>(((uint64_t{1} << shift_) + divisor_ - 1) / divisor_);
        flatPossible_ = !wholeSums_ && pic.width >= ringRows_ && pic.height >= ringRows_;
    }

    bool Allocate() noexcept {
        const uint64_t row = rowLength_;
        ring_ = TryAllocate<uint32_t>(row * static_cast<uint64_t>(ringRows_));
        inner_ = TryAllocate<uint32_t>(row);
        zero_ = TryAllocate<uint32_t>(row);
        sums_ = TryAllocate<uint32_t>(row);
        padded_ = TryAllocate<uint8_t>(row + 6 * static_cast<uint64_t>(h_));
        runs_ = TryAllocate<uint8_t>(row);
        flatRows_ = TryAllocate<uint8_t>(row);
        if (!ring_ || !inner_ || !zero_ || !sums_ || !padded_ || !runs_ || !flatRows_) return false;
        std::memset(zero_.get(), 0, rowLength_ * sizeof(uint32_t));
        std::memset(padded_.get(), 0, rowLength_ + 6 * static_cast<size_t>(h_));
        std::memset(flatRows_.get(), 0, rowLength_);
        if (wholeSums_) FillQuotientTable();
        return true;
    }

    void Run(uint8_t* blurred) noexcept {
        const int32_t height = pic_.height;
        const int32_t h = h_;
        const size_t n = rowLength_;
        for (int32_t r = 0; r <= h && r < height; ++r) EnterRow(r);
        uint32_t* inner = inner_.get();
        std::memset(inner, 0, n * sizeof(uint32_t));
        for (int32_t r = 0; r < h && r < height; ++r) Accumulate(inner, SumRow(r), zero_.get());

        uint32_t* sums = sums_.get();
        for (int32_t y = 0; y < height; ++y, blurred += n) {
            if (y > 0 && y + h < height) EnterRow(y + h);
            if (wholeSums_ && quotients_) {
                const uint8_t* quotient = quotients_.get();
                const double q = window_.q;
                for (size_t e = 0; e < n; ++e) {
                    const uint32_t sum = inner[e];
                    blurred[e] = sum <= largestSum_ ? quotient[sum]
                                                    : static_cast<uint8_t>(TruncateNonNegative(sum * q));
                }
            } else if (wholeSums_) {
                const double q = window_.q;
                for (size_t e = 0; e < n; ++e)
                    blurred[e] = static_cast<uint8_t>(TruncateNonNegative(static_cast<double>(inner[e]) * q));
            } else {
                const uint32_t* top = SumRow(y - h);
                const uint32_t* bottom = SumRow(y + h);
                const uint32_t wi = innerWeight_, wr = ringWeight_;
                for (size_t e = 0; e < n; ++e) sums[e] = wi * inner[e] + wr * (top[e] + bottom[e]);
                const uint64_t magic = magic_;
                const int shift = shift_;
                const uint32_t divisor = divisor_;
                for (size_t e = 0; e < n; ++e) {
                    const uint32_t total = sums[e];
                    const auto k = static_cast<uint32_t>((total * magic) >> shift);
                    blurred[e] = static_cast<uint8_t>(k);
                    if (total == k * divisor && total != 0) blurred[e] = ExactQuotientSample(y, e);
                }
            }
            Accumulate(inner, SumRow(y + h), SumRow(y - h + 1));
        }
    }

private:
    const uint32_t* SumRow(int32_t r) const noexcept {
        if (r < 0 || r >= pic_.height) return zero_.get();
        return ring_.get() + static_cast<size_t>(r % ringRows_) * rowLength_;
    }

    void Accumulate(uint32_t* inner, const uint32_t* add, const uint32_t* subtract) noexcept {
        const size_t n = rowLength_;
        // Unsigned wrap-around keeps the true (non-negative) sums exact.
        for (size_t e = 0; e < n; ++e) inner[e] += add[e] - subtract[e];
    }

    // With whole sums every blurred element is trunc(S * q) of an inner
    // sum S <= 255 * (2h - 1)^2. Where the picture has more elements than
    // there are such sums, they are looked up in a table of every S, filled
    // with comparisons only: S * q never decreases as S grows, so its
    // truncation steps up by one wherever S * q reaches the next integer.
    // Without the table (too many sums, or no memory) each is converted.
    void FillQuotientTable() noexcept {
        const uint64_t side = 2 * static_cast<uint64_t>(h_) - 1;
        const uint64_t largest = 255 * side * side;
        const uint64_t elements = rowLength_ * static_cast<uint64_t>(pic_.height);
        if (largest >= elements || largest >= (uint64_t{1} << 24)) return;
        quotients_ = TryAllocate<uint8_t>(largest + 1);
        if (!quotients_) return;
        largestSum_ = static_cast<uint32_t>(largest);
        uint8_t* table = quotients_.get();
        const double q = window_.q;
        uint32_t k = 0;
        double next = 1.0;
        double sum = 0.0;
        for (uint32_t s = 0; s <= largestSum_; ++s, sum += 1.0) {
            const double x = sum * q;
            while (x >= next) {
                ++k;
                next += 1.0;
            }
            table[s] = static_cast<uint8_t>(k);  // k <= 255: S * q <= 255 * (1 + 2^-52)
        }
    }

    // Horizontal weighted sums of row r, and the flat-window bookkeeping.
    void EnterRow(int32_t r) noexcept {
        const uint8_t* src = pic_.Row(r);
        const size_t n = rowLength_;
        const size_t edge = 3 * static_cast<size_t>(h_);
        uint8_t* pad = padded_.get();
        std::memcpy(pad + edge, src, n);
        uint32_t* out = ring_.get() + static_cast<size_t>(r % ringRows_) * rowLength_;
        const uint32_t wi = innerWeight_, wr = ringWeight_;
        const size_t far = 2 * edge;  // from the window's first pixel to its last
        uint32_t s0 = 0, s1 = 0, s2 = 0;
        for (size_t k = 3; k < far; k += 3) {
            s0 += pad[k];
            s1 += pad[k + 1];
            s2 += pad[k + 2];
        }
        for (size_t e = 0; e < n; e += 3) {
            out[e] = wi * s0 + wr * (pad[e] + pad[e + far]);
            out[e + 1] = wi * s1 + wr * (pad[e + 1] + pad[e + 1 + far]);
            out[e + 2] = wi * s2 + wr * (pad[e + 2] + pad[e + 2 + far]);
            s0 += pad[e + far] - pad[e + 3];
            s1 += pad[e + 1 + far] - pad[e + 4];
            s2 += pad[e + 2 + far] - pad[e + 5];
        }
        if (!flatPossible_) return;

        // runs: how many pixels from here rightwards hold the same channel
        // value (capped); flatRows: for how many rows up to r the run starting
        // here spans a whole window row with the same value as the row above.
        uint8_t* runs = runs_.get();
        uint32_t r0 = 1, r1 = 1, r2 = 1;
        runs[n - 3] = runs[n - 2] = runs[n - 1] = 1;
        auto step = [](uint32_t run, bool same) noexcept {
            return same ? (run < 255 ? run + 1 : 255) : 1;
        };
        for (size_t e = n - 3; e > 0;) {
            e -= 3;
            r0 = step(r0, src[e] == src[e + 3]);
            r1 = step(r1, src[e + 1] == src[e + 4]);
            r2 = step(r2, src[e + 2] == src[e + 5]);
            runs[e] = static_cast<uint8_t>(r0);
            runs[e + 1] = static_cast<uint8_t>(r1);
            runs[e + 2] = static_cast<uint8_t>(r2);
        }
        const uint8_t* above = r > 0 ? pic_.Row(r - 1) : src;
        const uint8_t first = r == 0 ? 1 : 0;
        const auto need = static_cast<uint8_t>(ringRows_);
        uint8_t* flat = flatRows_.get();
        for (size_t e = 0; e < n; ++e) {
            const uint8_t grown = static_cast<uint8_t>((src[e] == above[e] && !first) ? flat[e] + 1 : 1);
            flat[e] = runs[e] >= need ? (grown > need ? need : grown) : 0;
        }
    }

    // M divides N: the double sequence decides between N/M and N/M - 1.
    uint8_t ExactQuotientSample(int32_t y, size_t e) noexcept {
        const auto x = static_cast<int32_t>(e / 3);
        const auto c = static_cast<int32_t>(e % 3);
        const int32_t h = h_;
        const bool flatWindow = flatPossible_ && x >= h && y >= h && y + h < pic_.height &&
                                flatRows_[e - 3 * static_cast<size_t>(h)] >= ringRows_;
        if (!flatWindow) return static_cast<uint8_t>(BlurSample(pic_, x, y, c, window_));
        const uint8_t v = pic_.Row(y)[e];
        if (!known_[v]) {
            flatResult_[v] = static_cast<uint8_t>(BlurSample(pic_, x, y, c, window_));
            known_[v] = true;
        }
        return flatResult_[v];
    }

    Picture pic_;
    Window window_;
    int32_t h_;
    size_t rowLength_;
    int32_t ringRows_;
    bool wholeSums_ = false;
    uint32_t innerWeight_ = 10;
    uint32_t ringWeight_ = 0;
    uint32_t divisor_ = 1;
    uint32_t magic_ = 0;
    int shift_ = 0;
    bool flatPossible_ = false;
    HeapArray<uint32_t> ring_, inner_, zero_, sums_;
    HeapArray<uint8_t> padded_, runs_, flatRows_, quotients_;
    uint32_t largestSum_ = 0;
    bool known_[256] = {};
    uint8_t flatResult_[256] = {};
};

// Bytes for the sums -255 .. 510, each clamped to 0 .. 255.
struct ClampSum {
    uint8_t bytes[766];
};

constexpr ClampSum MakeClampSum() {
    ClampSum table{};
    for (int32_t v = -255; v <= 510; ++v) table.bytes[v + 255] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    return table;
}

constexpr ClampSum kClampSum = MakeClampSum();

#if defined(__SSE2__)
// The sharpen step where g = (amount + 1) / 4 exactly (every 16-bit amount,
// checked in doubles by the caller): g * d is then a multiple of 1/4, exact,
// and so is g * d + value, so the truncation of the clamped sum is
// value + floor(a * d / 4) = value + ((a * d) >> 2) clamped, a = amount + 1.
// For |a| <= 128, a * d stays within 16 bits. A threshold below 0 lets every
// difference through and one of 255 or more none, as -1 and 255 do.
void SharpenStepQuarters(uint8_t* row, const uint8_t* blurred, size_t n, int32_t a, int32_t threshold) noexcept {
    const int32_t t = threshold < -1 ? -1 : (threshold > 255 ? 255 : threshold);
    const __m128i factor = _mm_set1_epi16(static_cast<int16_t>(a));
    const __m128i above = _mm_set1_epi16(static_cast<int16_t>(t));
    const __m128i below = _mm_set1_epi16(static_cast<int16_t>(-t));
    const __m128i zero = _mm_setzero_si128();
    auto step = [&](__m128i v, __m128i b) noexcept {
        const __m128i d = _mm_sub_epi16(v, b);
        const __m128i sharpened = _mm_add_epi16(v, _mm_srai_epi16(_mm_mullo_epi16(d, factor), 2));
        const __m128i beyond = _mm_or_si128(_mm_cmpgt_epi16(d, above), _mm_cmplt_epi16(d, below));
        return _mm_or_si128(_mm_and_si128(beyond, sharpened), _mm_andnot_si128(beyond, v));
    };
    size_t e = 0;
    for (; e + 16 <= n; e += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + e));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blurred + e));
        const __m128i lo = step(_mm_unpacklo_epi8(v, zero), _mm_unpacklo_epi8(b, zero));
        const __m128i hi = step(_mm_unpackhi_epi8(v, zero), _mm_unpackhi_epi8(b, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + e), _mm_packus_epi16(lo, hi));
    }
    for (; e < n; ++e) {
        const int32_t value = row[e];
        const int32_t d = value - blurred[e];
        if (d < -t || d > t) {
            const int32_t c = value + ((a * d) >> 2);
            row[e] = static_cast<uint8_t>(c < 0 ? 0 : (c > 255 ? 255 : c));
        }
    }
}
#endif

}  // namespace

namespace steps {

bool BlurForUnsharpMask(const ColorSettings& settings, int32_t width, int32_t height, const uint8_t* picture,
                        uint8_t* blurred) noexcept {
    if (picture == nullptr || width <= 0 || height <= 0) return false;
    const Picture pic{picture, width, height, static_cast<ptrdiff_t>(DibStride(width))};
    // Past its preparation the whole-sum blur is integer work.
    WholeSums sums;
    if (PrepareWholeSums(settings, sums)) return BlurWholeSums(pic, sums, blurred);
    FloatingPointGuard guard;
    if (!guard.Ready()) return false;
    const UnsharpParameters p = ParametersOf(settings);
    if (p.radius >= 1 && p.radius <= kFastRadiusLimit) {
        FastBlur fast(pic, p.radius, p.window);
        if (!fast.Allocate()) return false;
        fast.Run(blurred);
        return true;
    }
    BlurPlain(pic, p.window, blurred);
    return true;
}

void SharpenAgainstBlur(const ColorSettings& settings, int32_t width, int32_t height, uint8_t* picture,
                        const uint8_t* blurred) noexcept {
    if (picture == nullptr || width <= 0 || height <= 0) return;
    FloatingPointGuard guard;
    if (!guard.Ready()) return;
    const UnsharpParameters p = ParametersOf(settings);
    const auto rowLength = 3 * static_cast<size_t>(width);
    const auto stride = static_cast<ptrdiff_t>(DibStride(width));
    const uint8_t* b = blurred;
#if defined(__SSE2__)
    const int32_t a = p.amount + 1;
    if (a >= -128 && a <= 128 && p.g == a * 0.25) {
        for (int32_t y = 0; y < height; ++y, b += rowLength)
            SharpenStepQuarters(picture + y * stride, b, rowLength, a, p.threshold);
        return;
    }
#endif
    int32_t floors[511];
    if (FillDifferenceFloors(p.g, p.threshold, floors)) {
        // A value is 0 .. 255, so a step beyond -255 or 255 clamps to the
        // same byte as -255 or 255 do; then value + step lies in -255 .. 510
        // and one look-up clamps it.
        for (int32_t& step : floors) step = step < -255 ? -255 : (step > 255 ? 255 : step);
        const uint8_t* clamp = kClampSum.bytes + 255;
        for (int32_t y = 0; y < height; ++y, b += rowLength) {
            uint8_t* row = picture + y * stride;
            for (size_t e = 0; e < rowLength; ++e) {
                const int32_t value = row[e];
                row[e] = clamp[value + floors[value - b[e] + 255]];
            }
        }
    } else {
        for (int32_t y = 0; y < height; ++y, b += rowLength) {
            uint8_t* row = picture + y * stride;
            for (size_t e = 0; e < rowLength; ++e) row[e] = SharpenedValue(row[e], b[e], p.g, p.threshold);
        }
    }
}

}  // namespace steps

void ApplyUnsharpMask(const ColorSettings& settings, int32_t width, int32_t height,
                      uint8_t* picture) noexcept {
    if (picture == nullptr || width <= 0 || height <= 0) return;
    const uint64_t rowBytes = 3 * static_cast<uint64_t>(width);
    if (rowBytes > PTRDIFF_MAX) return;
    auto blurred = TryAllocate<uint8_t>(rowBytes * static_cast<uint64_t>(height));
    if (!blurred) return;
    if (!steps::BlurForUnsharpMask(settings, width, height, picture, blurred.get())) return;
    steps::SharpenAgainstBlur(settings, width, height, picture, blurred.get());
}

}  // namespace qz410
