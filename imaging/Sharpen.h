// The 3 x 3 sharpening kernels and the unsharp mask of the preview. Both work
// in place on a 24-bit bottom-up or top-down DIB: blue, green, red, rows of
// stride 3W rounded up to a multiple of four bytes.
#pragma once

#include <cstdint>

#include "imaging/Dib.h"
#include "imaging/ToneTables.h"
#include "settings/ColorSettings.h"

namespace qz410 {

struct SharpenKernel {
    int16_t centreWeight;
    int16_t neighbourWeight;
    int16_t shift;
};

extern const SharpenKernel SharpenKernels[8];

// Tone-maps every row and, for kernel & 7 != 0 and both sides above two,
// sharpens every inner pixel. Leaves the picture untouched if it cannot get
// its two scratch rows.
void SharpenImage(uint8_t* picture, int32_t width, int32_t height, int32_t stride,
                  const ToneTables& tables, unsigned kernel) noexcept;

// Returns with the picture either filtered or unchanged (when the blurred
// copy cannot be had). Independent of the caller's floating-point state.
void ApplyUnsharpMask(const ColorSettings& settings, int32_t width, int32_t height,
                      uint8_t* picture) noexcept;

}  // namespace qz410
