// The layout of the 24-bit device-independent bitmaps the preview works on.
#pragma once

#include <cstdint>

namespace qz410 {

// Row stride of a 24-bit DIB of the given width: 3W rounded up to four bytes.
constexpr int64_t DibStride(int64_t width) noexcept { return (3 * width + 3) & ~int64_t{3}; }

}  // namespace qz410
