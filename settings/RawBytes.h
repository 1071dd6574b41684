// Reading and writing fixed-layout little-endian records in memory that is
// not ours (the host's device-mode blocks, a file's headers): through memcpy
// at a fixed offset, so no alignment is assumed and nothing beyond the named
// bytes is touched.
#pragma once

#include <cstddef>
#include <cstring>

namespace qz410 {

template <typename T>
T Load(const void* bytes, size_t offset) noexcept {
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(bytes) + offset, sizeof value);
    return value;
}

template <typename T>
void Store(void* bytes, size_t offset, T value) noexcept {
    std::memcpy(static_cast<unsigned char*>(bytes) + offset, &value, sizeof value);
}

}  // namespace qz410
