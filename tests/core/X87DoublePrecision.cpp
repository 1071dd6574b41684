// The 32-bit build computes doubles on the x87 unit, and the MinGW-w64
// start-up code leaves it at 64-bit precision. The reference filters run in
// whatever state their caller has, so the test program works at 53 bits, in
// which the x87 unit rounds every operation as an IEEE double. The product
// sets that precision for itself (UnsharpMaskFloatingPoint shows it against
// a caller at 24 bits).
#include <gtest/gtest.h>

#include <cstdint>

#if (defined(__i386__) || defined(__x86_64__)) && !defined(__SSE2_MATH__)
namespace {

class X87DoublePrecision : public ::testing::Environment {
public:
    void SetUp() override {
        uint16_t cw;
        __asm__ __volatile__("fnstcw %0" : "=m"(cw));
        cw = uint16_t((cw & ~0x0300) | 0x0200);
        __asm__ __volatile__("fldcw %0" : : "m"(cw));
    }
};

[[maybe_unused]] ::testing::Environment* const kX87DoublePrecision =
    ::testing::AddGlobalTestEnvironment(new X87DoublePrecision);

}  // namespace
#endif
