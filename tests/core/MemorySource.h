// A picture file in memory for the core's readers, counting what they ask
// of it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/PictureLoader.h"

namespace qz410::test {

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::vector<uint8_t> bytes, bool seeks = true, bool knowsLength = false)
        : bytes_(std::move(bytes)), seeks_(seeks), knowsLength_(knowsLength) {}

    size_t Read(void* destination, size_t count) noexcept override {
        largestRead = std::max(largestRead, count);
        const size_t n = std::min(count, bytes_.size() - std::min(position_, bytes_.size()));
        if (n != 0) std::memcpy(destination, bytes_.data() + position_, n);
        position_ += n;
        bytesRead += n;
        return n;
    }

    uint64_t Skip(uint64_t count) noexcept override {
        if (!seeks_) return ByteSource::Skip(count);
        position_ += static_cast<size_t>(count);
        bytesSkipped += count;
        return count;
    }

    uint64_t Remaining() noexcept override {
        if (!knowsLength_) return kUnknownLength;
        return bytes_.size() - std::min(position_, bytes_.size());
    }

    size_t position() const { return position_; }

    size_t largestRead = 0;
    uint64_t bytesRead = 0;
    uint64_t bytesSkipped = 0;

private:
    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
    bool seeks_;
    bool knowsLength_;
};

}  // namespace qz410::test
