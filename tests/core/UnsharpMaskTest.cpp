// The unsharp mask: worked values at the picture's border and inside, and
// bytes that do not depend on the floating-point state the host left.
#include <gtest/gtest.h>

#include <cfenv>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif
#if defined(_WIN32) && defined(__i386__)
#include <float.h>
#endif

#include "imaging/Sharpen.h"
#include "oracle/FilterOracle.h"
#include "oracle/TestPicture.h"

namespace qz410 {
namespace {

using oracle::TestPicture;
using oracle::Unsharp;

TestPicture Masked(TestPicture pic, const ColorSettings& s) {
    pic.FillPadding(0x77);
    ApplyUnsharpMask(s, pic.width, pic.height, pic.Data());
    EXPECT_TRUE(pic.PaddingIs(0x77));
    return pic;
}

// 5 x 5 of flat 100 at radius 10 (a plain 3 x 3 box): the border darkens in
// the blur, so the mask lifts it: corners from 44, edges from 66.
TEST(UnsharpMask, FlatSquareBorder) {
    TestPicture flat(5, 5);
    flat.Flat(100);
    const struct {
        int amount, threshold, corner, edge;
    } cases[] = {{0, 0, 114, 108}, {3, 0, 156, 134}, {0, 56, 100, 100}, {0, 55, 114, 100}};
    for (const auto& c : cases) {
        TestPicture out = Masked(flat, Unsharp(c.amount, 10, c.threshold));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x) {
                const bool xEdge = x == 0 || x == 4, yEdge = y == 0 || y == 4;
                const int want = xEdge && yEdge ? c.corner : (xEdge || yEdge ? c.edge : 100);
                for (int ch = 0; ch < 3; ++ch)
                    ASSERT_EQ(out.At(x, y, ch), want) << c.amount << "/" << c.threshold << " " << x << "," << y;
            }
    }
}

TEST(UnsharpMask, StepEdgeAndThresholdBoundary) {
    TestPicture step(6, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            for (int c = 0; c < 3; ++c) step.At(x, y, c) = x < 3 ? 50 : 150;
    const int plain[6] = {67, 50, 17, 184, 150, 200};
    const int held[6] = {50, 50, 50, 184, 150, 200};  // -33 and 17 are not beyond 33
    TestPicture a = Masked(step, Unsharp(3, 10, 0));
    TestPicture b = Masked(step, Unsharp(3, 10, 33));
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(a.At(x, 2, 1), plain[x]) << x;
        EXPECT_EQ(b.At(x, 2, 1), held[x]) << x;
    }
}

// Inside a flat area the exact quotient is the level itself, and the double
// sum decides: at radius 30, 49 * q falls just below 1 for level 1.
TEST(UnsharpMask, FlatInteriorDecidedByDoubleRounding) {
    for (auto [level, want] : {std::pair{1, 4}, std::pair{200, 203}}) {
        TestPicture flat(11, 11);
        flat.Flat(uint8_t(level));
        EXPECT_EQ(Masked(flat, Unsharp(12, 30, 0)).At(5, 5, 0), want) << level;
    }
}

TEST(UnsharpMask, NothingForEmptyOrNegativeSizes) {
    TestPicture pic(4, 4);
    pic.Flat(100);
    const std::vector<uint8_t> before = pic.bytes;
    ApplyUnsharpMask(Unsharp(12, 10, 0), 4, -4, pic.Data());
    ApplyUnsharpMask(Unsharp(12, 10, 0), 0, 4, pic.Data());
    ApplyUnsharpMask(Unsharp(12, 10, 0), -4, 4, pic.Data());
    EXPECT_EQ(pic.bytes, before);
}

// A blurred copy that cannot be had leaves the picture as it was, untouched.
TEST(UnsharpMask, UnobtainableCopyLeavesThePictureAlone) {
    std::vector<uint8_t> tiny(16, 42);
    ApplyUnsharpMask(Unsharp(12, 10, 0), INT32_MAX, INT32_MAX, tiny.data());
    EXPECT_EQ(tiny, std::vector<uint8_t>(16, 42));
}

// Radii the plain double path serves, with windows far larger than the
// picture, and settings whose double values do not fit an integer.
TEST(UnsharpMask, ExtremeRadiiCompleteAndKeepTheFiller) {
    std::mt19937 rng(5);
    TestPicture pic(7, 5);
    pic.Natural(rng);
    for (int radius : {32767, 20000, -32768, -5}) {
        const TestPicture a = Masked(pic, Unsharp(12, radius, 0));
        const TestPicture b = Masked(pic, Unsharp(12, radius, 0));
        EXPECT_EQ(a.bytes, b.bytes);
    }
    // D is 0 at radius -5: q is infinite, every blurred value converts as
    // INT32_MIN, whose low byte is 0.
    TestPicture grey(3, 3);
    grey.Flat(100);
    TestPicture out = Masked(grey, Unsharp(0, -5, 0));
    EXPECT_EQ(out.At(1, 1, 0), 125);
}

#if defined(__i386__) || defined(__x86_64__)
uint16_t X87ControlWord() {
    uint16_t cw;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}

uint16_t X87ExceptionFlags() {
    uint16_t sw;
    __asm__ __volatile__("fnstsw %0" : "=m"(sw));
    return uint16_t(sw & 0x3F);
}

void SetX87Precision24() {
#if defined(_WIN32) && defined(__i386__)
    _controlfp(_PC_24, _MCW_PC);
#else
    uint16_t cw = X87ControlWord();
    cw = uint16_t(cw & ~0x0300);  // precision control 00: 24 bits
    __asm__ __volatile__("fldcw %0" : : "m"(cw));
#endif
}
#endif

// fesetenv of the MinGW-w64 runtime leaves the SSE control register alone,
// so the tests put it back themselves.
struct SavedFpEnvironment {
    SavedFpEnvironment() {
        ok = std::fegetenv(&environment) == 0;
#if defined(__x86_64__)
        sse = _mm_getcsr();
#endif
    }
    ~SavedFpEnvironment() {
        std::fesetenv(&environment);
#if defined(__x86_64__)
        _mm_setcsr(sse);
#endif
    }
    std::fenv_t environment;
    unsigned sse = 0;
    bool ok;
};

struct FpState {
    int rounding = 0;
    unsigned mxcsr = 0;
    uint16_t x87 = 0;
    uint16_t x87Flags = 0;
    bool operator==(const FpState&) const = default;
};

FpState CurrentFpState() {
    FpState s;
    s.rounding = std::fegetround();
#if defined(__x86_64__)
    s.mxcsr = _mm_getcsr();
#endif
#if defined(__i386__) || defined(__x86_64__)
    s.x87 = X87ControlWord();
    s.x87Flags = X87ExceptionFlags();
#endif
    return s;
}

// A host may leave the x87 unit at 24-bit precision (as Direct3D does) and
// any rounding mode: the preview must come out the same.
TEST(UnsharpMaskFloatingPoint, BytesDoNotDependOnTheCallersState) {
    std::mt19937 rng(6);
    std::vector<std::pair<TestPicture, ColorSettings>> cases;
    for (int radius : {1, 7, 15, 25, 30}) {
        TestPicture levels(64, 12);  // flat runs of many levels
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 64; ++x)
                for (int c = 0; c < 3; ++c) levels.At(x, y, c) = uint8_t((x / 8) * 31 + c * 80 + y / 6);
        cases.emplace_back(levels, Unsharp(12, radius, 0));
        TestPicture natural(40, 30);
        natural.Natural(rng);
        cases.emplace_back(natural, Unsharp(5, radius, 2));
    }
    TestPicture large(160, 150);  // near the preview's size
    large.Natural(rng);
    cases.emplace_back(large, Unsharp(12, 15, 0));
    std::vector<std::vector<uint8_t>> expected;
    for (auto& [pic, s] : cases) {
        TestPicture copy = pic;
        oracle::ApplyUnsharpMask(s, copy.width, copy.height, copy.Data());
        expected.push_back(copy.bytes);
    }

    std::vector<std::vector<uint8_t>> got;
    FpState callers, after;
    bool differs = false;
    {
        SavedFpEnvironment original;
        ASSERT_TRUE(original.ok);
#if defined(__i386__) || defined(__x86_64__)
        SetX87Precision24();
        ASSERT_EQ(X87ControlWord() & 0x0300, 0);
#endif
        ASSERT_EQ(std::fesetround(FE_TOWARDZERO), 0);

        // The state matters: the reference run in it gives other bytes.
        for (size_t i = 0; i < cases.size(); ++i) {
            TestPicture copy = cases[i].first;
            oracle::ApplyUnsharpMask(cases[i].second, copy.width, copy.height, copy.Data());
            differs = differs || copy.bytes != expected[i];
        }
        // A flag the mask itself never raises, which it must keep.
        std::feclearexcept(FE_ALL_EXCEPT);
        ASSERT_EQ(std::feraiseexcept(FE_OVERFLOW), 0);
        callers = CurrentFpState();
        for (auto& [pic, s] : cases) {
            TestPicture copy = pic;
            ApplyUnsharpMask(s, copy.width, copy.height, copy.Data());
            got.push_back(copy.bytes);
        }
        after = CurrentFpState();
    }

    EXPECT_TRUE(differs);
    EXPECT_TRUE(after == callers) << after.rounding << " " << after.mxcsr << " " << after.x87 << " "
                                  << after.x87Flags;
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_TRUE(got[i] == expected[i]) << "case " << i << " radius " << cases[i].second.unsharpRadius;
}

// Settings out of range divide by zero; that must not raise a trap the host
// has enabled, nor leave exception flags behind.
TEST(UnsharpMaskFloatingPoint, NoTrapsAndNoFlagsLeftBehind) {
    SavedFpEnvironment original;
    ASSERT_TRUE(original.ok);
    std::feclearexcept(FE_ALL_EXCEPT);
#if defined(__GLIBC__) && (defined(__i386__) || defined(__x86_64__))
    feenableexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW);
#endif
    TestPicture pic(6, 4);
    pic.Flat(90);
    pic.At(2, 2, 1) = 10;
    ApplyUnsharpMask(Unsharp(12, -5, 0), pic.width, pic.height, pic.Data());
    ApplyUnsharpMask(Unsharp(32767, 15, -32768), pic.width, pic.height, pic.Data());
    EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
}

}  // namespace
}  // namespace qz410
