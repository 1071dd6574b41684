// The passes that make up ApplyUnsharpMask and SharpenImage, callable one by
// one so that the benchmarks can tell where a preview pass spends its time.
// The product calls them only through those two operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/Sharpen.h"
#include "imaging/ToneTables.h"
#include "settings/ColorSettings.h"

namespace qz410::steps {

// The unsharp mask's blurred copy (3W bytes a row, no filler) of the picture
// as it is. False, with the copy undefined, when its scratch memory cannot
// be had.
bool BlurForUnsharpMask(const ColorSettings& settings, int32_t width, int32_t height, const uint8_t* picture,
                        uint8_t* blurred) noexcept;

// The blur for radii 10, 20 and 30 sums whole squares of side 2h - 1 in
// 16 bits and takes each blurred byte as the quotient of the sum by the
// square's area D; the defining double product settles the exact quotients.
struct WholeSums {
    static constexpr int32_t kLargestHalfWidth = 4;
    static constexpr uint32_t kLargestSum = 255 * (2 * kLargestHalfWidth - 1) * (2 * kLargestHalfWidth - 1);

    int32_t h = 0;
    uint32_t divisor = 0;  // D
    uint32_t magic = 0;    // floor(S / D) = (S * magic) >> shift
    int shift = 0;
    uint8_t down[256] = {};  // 1 where the product puts S = k * D at k - 1
    uint8_t quotients[kLargestSum + 1];  // the byte for every S
};

// Fills `sums` for the settings' radius (the defining double arithmetic runs
// under its own floating-point guard); false for other radii.
bool PrepareWholeSums(const ColorSettings& settings, WholeSums& sums) noexcept;

// Each channel pushed away from its blurred value.
void SharpenAgainstBlur(const ColorSettings& settings, int32_t width, int32_t height, uint8_t* picture,
                        const uint8_t* blurred) noexcept;

// The tone tables as SharpenImage applies them to each row: the saturation
// offsets and the clamps folded into larger channel tables, built once per
// pass.
class RowToneMapper {
public:
    explicit RowToneMapper(const ToneTables& tables) noexcept;
    void Row(uint8_t* row, int32_t width) const noexcept;

private:
    static constexpr int kFoldedSize = 256 + 2 * 255;
    const ToneTables& tables_;
    bool folded_;
    // The offsets are trunc(saturation * d / 15), |saturation| <= 15, as
    // BuildToneTables makes them: x64 computes them instead of looking up.
    bool arithmetic_;
    int16_t saturation_;
    int16_t offsets_[511];
    uint8_t foldedTables_[3][kFoldedSize];
};

// Kernel 1 .. 7 of SharpenKernels over one inner row: n bytes (pixels
// 1 .. W - 2) into `out`, from the tone-mapped rows above, at and below.
// `columns` holds n + 6 sums.
void SharpenRow(const uint8_t* above, const uint8_t* row, const uint8_t* below, size_t n, unsigned kernel,
                uint16_t* columns, uint8_t* out) noexcept;

}  // namespace qz410::steps
