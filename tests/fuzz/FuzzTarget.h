// What every fuzz target shares. Under the fuzzing build each target file is
// its own libFuzzer program; elsewhere all of them are linked into one replay
// program, so each entry point then needs a name of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(QZ410_FUZZ_REPLAY)
#define QZ410_FUZZ_TARGET(name) int name##FuzzOne(const uint8_t* data, size_t size)
#else
#define QZ410_FUZZ_TARGET(name) extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
#endif

// A broken invariant must stop the run the way a sanitizer report does, so
// that libFuzzer keeps the input and the replay test fails.
#define QZ410_FUZZ_CHECK(condition) \
    ((condition) ? void(0) : ::qz410::fuzz::Fail(#condition, __FILE__, __LINE__))

namespace qz410::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

// The input taken front to back; past its end every byte reads as zero, so
// that a short input is simply one with trailing zeros.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }

    void Bytes(void* destination, size_t count) {
        const size_t n = count < Remaining() ? count : Remaining();
        if (n != 0) std::memcpy(destination, data_ + position_, n);
        std::memset(static_cast<uint8_t*>(destination) + n, 0, count - n);
        position_ += n;
    }

    size_t Remaining() const { return size_ - position_; }
    const uint8_t* Rest() const { return data_ + position_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

}  // namespace qz410::fuzz
