// What the unsharp mask's two blurs share: the picture and the window they
// read, the defining doubles of the settings and the truncations that make
// bytes of them. The whole-sum blur (radii 10, 20, 30) is in WholeSumBlur.cpp,
// every other radius's in UnsharpMask.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/FilterSteps.h"
#include "imaging/HeapArray.h"
#include "settings/ColorSettings.h"

namespace qz410::unsharp {

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

struct UnsharpParameters {
    int32_t radius;
    int32_t amount;
    int32_t threshold;
    Window window;
    double g;
};

// The defining doubles; to be called under a FloatingPointGuard.
inline UnsharpParameters ParametersOf(const ColorSettings& settings) noexcept {
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

// The whole-sum blur of the picture, once PrepareWholeSums has filled `sums`;
// false when its column sums cannot be had.
bool BlurWholeSums(const Picture& pic, const steps::WholeSums& sums, uint8_t* blurred) noexcept;

}  // namespace qz410::unsharp
