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
#include <cfenv>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/FilterSteps.h"
#include "imaging/HeapArray.h"
#include "imaging/Sharpen.h"

namespace qz410 {
namespace {

constexpr int32_t kFastRadiusLimit = 1000;

// Truncation toward zero that is defined for every double: values that do
// not fit (and NaN) give INT32_MIN, as the x86 conversion instructions do.
// Only settings outside the sliders' ranges get such values.
inline int32_t TruncateToInt(double x) noexcept {
    if (x > -2147483649.0 && x < 2147483648.0) return static_cast<int32_t>(x);
    return INT32_MIN;
}

// Truncation of a double in [0, 2^30]. On the x87 unit (the 32-bit build) a
// cast sets the rounding mode to toward-zero and back around every
// conversion, and those two control-word loads cost more than the rest of a
// pixel's work; there the value is rounded in the mode the guard set, to
// nearest, and stepped back where that rounded up.
inline int32_t TruncateNonNegative(double x) noexcept {
#if (defined(__i386__) || defined(__x86_64__)) && !defined(__SSE2_MATH__)
    int32_t n;
    __asm__("fistpl %0" : "=m"(n) : "t"(x) : "st");
    return static_cast<double>(n) > x ? n - 1 : n;
#else
    return static_cast<int32_t>(x);
#endif
}

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

// The bytes must not depend on whatever floating-point state the host
// process left behind (a host may run the x87 unit at 24 or 64 bits, in any
// rounding mode, with traps enabled). For the computation: round to nearest,
// all exceptions masked (settings out of range divide by zero), and the x87
// unit at 53-bit precision, which makes its doubles round as IEEE doubles
// (the 32-bit build computes them there); where the compiler may use SSE
// (x64), its control register is set as well. The caller's control words
// and exception flags come back on every way out. The "memory" clobbers keep
// the computation, which reads the settings and the picture and writes the
// picture, between the two.
#if defined(__i386__) || defined(__x86_64__)
class FloatingPointGuard {
public:
    FloatingPointGuard() noexcept {
        __asm__ __volatile__("fnstenv %0" : "=m"(saved_) : : "memory");
        __asm__ __volatile__("fnclex" : : : "memory");
        const uint16_t control = static_cast<uint16_t>((saved_.control & ~kX87Fields) | kX87Computation);
        __asm__ __volatile__("fldcw %0" : : "m"(control) : "memory");
#if defined(__SSE__)
        sseControl_ = _mm_getcsr();
        _mm_setcsr(kSseComputation);
#endif
    }
    ~FloatingPointGuard() {
#if defined(__SSE__)
        _mm_setcsr(sseControl_);
#endif
        // The current environment, so that the register stack's tags and top
        // stay as they are, with the caller's control word and flags.
        X87Environment current;
        __asm__ __volatile__("fnstenv %0" : "=m"(current) : : "memory");
        current.control = saved_.control;
        current.status = static_cast<uint16_t>((current.status & ~kX87Flags) | (saved_.status & kX87Flags));
        __asm__ __volatile__("fldenv %0" : : "m"(current) : "memory");
    }
    FloatingPointGuard(const FloatingPointGuard&) = delete;
    FloatingPointGuard& operator=(const FloatingPointGuard&) = delete;

    bool Ready() const noexcept { return true; }

private:
    // The 28-byte layout fnstenv and fldenv use in 32-bit protected mode and
    // in 64-bit mode.
    struct X87Environment {
        uint16_t control, unused0;
        uint16_t status, unused1;
        uint16_t tag, unused2;
        uint32_t pointers[4];
    };
    static_assert(sizeof(X87Environment) == 28);
    // Control word: exception masks (bits 0-5), precision (8-9), rounding
    // (10-11). Here all masked, 53 bits (10b), to nearest (00b).
    static constexpr uint16_t kX87Fields = 0x0F3F;
    static constexpr uint16_t kX87Computation = 0x023F;
    // Status word: exception flags, stack fault, error summary, busy.
    static constexpr uint16_t kX87Flags = 0x80FF;
#if defined(__SSE__)
    // All exceptions masked, round to nearest, no flushing of denormals.
    static constexpr unsigned kSseComputation = 0x1F80;
    unsigned sseControl_ = kSseComputation;
#endif
    X87Environment saved_;
};
#else
class FloatingPointGuard {
public:
    FloatingPointGuard() noexcept {
        saved_ = std::fegetenv(&environment_) == 0;
        if (!saved_) return;
        std::fenv_t held;
        ready_ = std::feholdexcept(&held) == 0 && std::fesetround(FE_TONEAREST) == 0 &&
                 std::fegetround() == FE_TONEAREST;
    }
    ~FloatingPointGuard() {
        if (saved_) std::fesetenv(&environment_);
    }
    FloatingPointGuard(const FloatingPointGuard&) = delete;
    FloatingPointGuard& operator=(const FloatingPointGuard&) = delete;

    bool Ready() const noexcept { return saved_ && ready_; }

private:
    std::fenv_t environment_;
    bool saved_ = false;
    bool ready_ = false;
};
#endif

template <typename T>
HeapArray<T> TryAllocate(uint64_t count) noexcept {
    return HeapArray<T>::Allocate(count);
}

struct Picture {
    const uint8_t* bytes;
    int32_t width;
    int32_t height;
    ptrdiff_t stride;

    const uint8_t* Row(int32_t y) const noexcept { return bytes + y * stride; }
};

struct Window {
    int32_t h;  // half-width
    double f;   // ring weight
    double q;   // 1 / D
};

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
// their own (WholeSumRow below).
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

// The blur for radii that are multiples of 10 (10, 20 and 30 on the slider):
// the ring weighs 0.0, so the defining double sum is the exact integer sum S
// of the inner square of side 2h - 1 and only the final product S * q
// rounds. Wherever the square's area D does not divide S, S / D lies at
// least 1 / D from an integer and S * q within S / D * 10u of it (see the
// top of this file), so the byte is floor(S / D); where S = k * D the product
// lands on k or just below it, and which one depends on k alone: `down[k]`
// holds that step, taken from the defining product once per call.
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

struct UnsharpParameters {
    int32_t radius;
    int32_t amount;
    int32_t threshold;
    Window window;
    double g;
};

// The defining doubles; to be called under a FloatingPointGuard.
UnsharpParameters ParametersOf(const ColorSettings& settings) noexcept {
    UnsharpParameters p;
    p.radius = settings.unsharpRadius;
    p.amount = settings.unsharpAmount;
    p.threshold = settings.unsharpThreshold;
    p.window.h = p.radius / 10 + 1;
    p.window.f = (p.radius % 10) * 0.1;
    const double r = p.radius * 0.1;
    double u = r + r;
    u = u + 1.0;
    const double d = u * u;
    p.window.q = 1.0 / d;
    p.g = ((p.amount + 1) * 25) * 0.01;
    return p;
}

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

bool PrepareWholeSums(const ColorSettings& settings, WholeSums& sums) noexcept {
    FloatingPointGuard guard;
    if (!guard.Ready()) return false;
    const UnsharpParameters p = ParametersOf(settings);
    return FillWholeSums(p.radius, p.window, sums);
}

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
