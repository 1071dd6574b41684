// Plain reference versions of the preview's filters: the definitions written
// out step by step, with whole-picture copies and no shortcuts, against which
// the product's kernels are proven bit-identical.
#pragma once

#include <cstdint>

#include "imaging/ToneTables.h"
#include "settings/ColorSettings.h"

namespace qz410::oracle {

void BuildToneTables(const ColorSettings& settings, ToneTables& tables);

// Any count, so that a whole row of any width is corrected in one call.
void ApplyToneTables(uint8_t* pixels, int64_t count, const ToneTables& tables);

void SharpenImage(uint8_t* picture, int32_t width, int32_t height, int32_t stride,
                  const ToneTables& tables, unsigned kernel);

// Runs in whatever floating-point state the caller has set.
void ApplyUnsharpMask(const ColorSettings& settings, int32_t width, int32_t height,
                      uint8_t* picture);

// Double to int as the x86 conversion does: INT32_MIN for NaN and for values
// that do not fit.
int32_t TruncateToInt(double x);

}  // namespace qz410::oracle
