// The floating-point state under which the unsharp mask's doubles are
// computed.
#pragma once

#include <cfenv>
#include <cstdint>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace qz410 {

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

}  // namespace qz410
