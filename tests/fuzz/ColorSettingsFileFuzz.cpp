// The input is what one read of a ".COL" file gave.
#include <cstring>
#include <span>

#include "fuzz/FuzzTarget.h"
#include "settings/ColorSettingsFile.h"

namespace {

using namespace qz410;

bool SameFields(const ColorSettings& a, const ColorSettings& b) {
    return a.brightness == b.brightness && a.contrast == b.contrast && a.saturation == b.saturation &&
           a.cyanRed == b.cyanRed && a.magentaGreen == b.magentaGreen && a.yellowBlue == b.yellowBlue &&
           a.sharpness == b.sharpness && a.unsharpEnabled == b.unsharpEnabled &&
           a.unsharpAmount == b.unsharpAmount && a.unsharpRadius == b.unsharpRadius &&
           a.unsharpThreshold == b.unsharpThreshold;
}

bool Inside(int value, SettingRange range) { return value >= range.minimum && value <= range.maximum; }

void CheckHeld(const ColorSettings& stored) {
    const ColorSettings held = HoldInSliderRanges(stored);
    for (int v : {held.brightness, held.contrast, held.saturation, held.cyanRed, held.magentaGreen, held.yellowBlue})
        QZ410_FUZZ_CHECK(Inside(v, kBalanceRange));
    QZ410_FUZZ_CHECK(Inside(held.sharpness, kSharpnessRange));
    QZ410_FUZZ_CHECK(held.unsharpEnabled == (stored.unsharpEnabled == 1 ? 1 : 0));
    QZ410_FUZZ_CHECK(Inside(held.unsharpAmount, kUnsharpAmountRange));
    QZ410_FUZZ_CHECK(Inside(held.unsharpRadius, kUnsharpRadiusRange));
    QZ410_FUZZ_CHECK(Inside(held.unsharpThreshold, kUnsharpThresholdRange));
    QZ410_FUZZ_CHECK(held.reserved1 == stored.reserved1 && held.reserved2 == stored.reserved2);
    // A value already inside its range is the slider's position as it is.
    QZ410_FUZZ_CHECK(!Inside(stored.brightness, kBalanceRange) || held.brightness == stored.brightness);
    QZ410_FUZZ_CHECK(!Inside(stored.sharpness, kSharpnessRange) || held.sharpness == stored.sharpness);
    QZ410_FUZZ_CHECK(!Inside(stored.unsharpRadius, kUnsharpRadiusRange) || held.unsharpRadius == stored.unsharpRadius);
    // The nearer end: a value beyond a range's top never lands at its bottom.
    QZ410_FUZZ_CHECK(stored.brightness <= kBalanceRange.maximum || held.brightness == kBalanceRange.maximum);
    QZ410_FUZZ_CHECK(stored.sharpness <= kSharpnessRange.maximum || held.sharpness == kSharpnessRange.maximum);
    QZ410_FUZZ_CHECK(stored.unsharpAmount >= kUnsharpAmountRange.minimum ||
                     held.unsharpAmount == kUnsharpAmountRange.minimum);
    QZ410_FUZZ_CHECK(SameFields(HoldInSliderRanges(held), held));
}

}  // namespace

QZ410_FUZZ_TARGET(ColorSettingsFile) {
    const std::span<const uint8_t> bytes(data, size);
    const std::optional<ColorSettings> parsed = ParseColorSettingsFile(bytes);

    const bool looksRight = size >= kColorSettingsFileSize && data[0] == 32 && data[1] == 0 &&
                            data[2] == kColorSettingsFileMark && data[3] == 0;
    QZ410_FUZZ_CHECK(parsed.has_value() == looksRight);
    if (!parsed) return 0;

    // Values come back as stored, reserved fields included.
    QZ410_FUZZ_CHECK(std::memcmp(&*parsed, data + 4, sizeof(ColorSettings)) == 0);

    const auto saved = SerializeColorSettingsFile(*parsed);
    const std::optional<ColorSettings> again = ParseColorSettingsFile(saved);
    QZ410_FUZZ_CHECK(again.has_value());
    QZ410_FUZZ_CHECK(SameFields(*again, *parsed));
    QZ410_FUZZ_CHECK(again->reserved1 == 0 && again->reserved2 == 0);
    // Saving what was read again gives the same 32 bytes.
    QZ410_FUZZ_CHECK(SerializeColorSettingsFile(*again) == saved);

    CheckHeld(*parsed);
    return 0;
}
