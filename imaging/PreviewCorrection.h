// The preview's whole correction chain over its working picture, shared by
// the page's renderer and the command-line preview tool so that both show the
// same bytes for the same settings.
#pragma once

#include <cstdint>

#include "settings/ColorSettings.h"

namespace qz410 {

// The unsharp mask first (only when unsharpEnabled is exactly 1), on the
// picture as loaded; then tone, balance and saturation correction of every
// row together with the 3 x 3 kernel of sharpness & 7.
void CorrectPreviewPicture(const ColorSettings& settings, uint8_t* pixels, int32_t width, int32_t height,
                           int32_t stride) noexcept;

}  // namespace qz410
