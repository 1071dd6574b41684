// The fuzz input as a picture file, for the targets that read pictures.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/PictureLoader.h"

namespace qz410::fuzz {

// The input as a file that bounds itself and remembers how far it was read.
class InputFile final : public ByteSource {
public:
    InputFile(const uint8_t* data, size_t size, bool seeks) : data_(data), size_(size), seeks_(seeks) {}

    size_t Read(void* destination, size_t count) noexcept override {
        const uint64_t left = position_ < size_ ? size_ - position_ : 0;
        const auto n = static_cast<size_t>(std::min<uint64_t>(count, left));
        if (n != 0) {
            std::memcpy(destination, data_ + position_, n);
            position_ += n;
            farthest = std::max(farthest, position_);
        }
        return n;
    }

    uint64_t Skip(uint64_t count) noexcept override {
        if (!seeks_) return ByteSource::Skip(count);
        // A file position may pass the end; the next Read finds it.
        position_ = count > UINT64_MAX - position_ ? UINT64_MAX : position_ + count;
        return count;
    }

    uint64_t Remaining() noexcept override {
        if (!seeks_) return kUnknownLength;
        return position_ < size_ ? size_ - position_ : 0;
    }

    uint64_t farthest = 0;  // one past the last byte handed out

private:
    const uint8_t* data_;
    uint64_t size_;
    uint64_t position_ = 0;
    bool seeks_;
};

}  // namespace qz410::fuzz
