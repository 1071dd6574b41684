// Memory for the preview's pictures and scratch rows. The code runs inside
// the printing application, so a failed allocation must come back as an
// answer, never as an exception: the C runtime's malloc returns null, where
// even a nothrow `new` throws inside the C++ runtime before it reports
// failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace qz410 {

// An owned array of `T` (plain bytes or integers: it is never constructed or
// destroyed element by element). Empty after a failed allocation.
template <typename T>
class HeapArray {
public:
    HeapArray() noexcept = default;
    HeapArray(HeapArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    HeapArray& operator=(HeapArray&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;
    ~HeapArray() { std::free(data_); }

    // `count` elements, uninitialised; an empty array when the memory cannot
    // be had. A count of zero gets one element, so that success is never null.
    static HeapArray Allocate(uint64_t count) noexcept {
        HeapArray array;
        array.Resize(count);
        return array;
    }

    // Changes the size, keeping the elements that remain; false (and the
    // array as it was) when the memory cannot be had.
    bool Resize(uint64_t count) noexcept {
        const uint64_t asked = count == 0 ? 1 : count;
        if (asked > SIZE_MAX / sizeof(T) || asked > PTRDIFF_MAX / sizeof(T)) return false;
        void* grown = std::realloc(data_, static_cast<size_t>(asked) * sizeof(T));
        if (grown == nullptr) return false;
        data_ = static_cast<T*>(grown);
        size_ = static_cast<size_t>(count);
        return true;
    }

    explicit operator bool() const noexcept { return data_ != nullptr; }
    T* data() const noexcept { return data_; }
    T* get() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }
    T* begin() const noexcept { return data_; }
    T* end() const noexcept { return data_ + size_; }
    T& operator[](size_t i) const noexcept { return data_[i]; }

private:
    T* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace qz410
