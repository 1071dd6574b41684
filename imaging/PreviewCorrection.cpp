#include "imaging/PreviewCorrection.h"

#include "imaging/Sharpen.h"
#include "imaging/ToneTables.h"

namespace qz410 {

void CorrectPreviewPicture(const ColorSettings& settings, uint8_t* pixels, int32_t width, int32_t height,
                           int32_t stride) noexcept {
    ToneTables tables;
    BuildToneTables(settings, tables);
    if (settings.unsharpEnabled == 1) ApplyUnsharpMask(settings, width, height, pixels);
    SharpenImage(pixels, width, height, stride, tables, settings.sharpness & 7u);
}

}  // namespace qz410
