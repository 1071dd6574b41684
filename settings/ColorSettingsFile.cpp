#include "settings/ColorSettingsFile.h"

#include <algorithm>
#include <cstring>

namespace qz410 {

std::optional<ColorSettings> ParseColorSettingsFile(std::span<const uint8_t> bytes) noexcept {
    if (bytes.size() < kColorSettingsFileSize) return std::nullopt;
    ColorSettingsFile file;
    std::memcpy(&file, bytes.data(), sizeof file);
    if (file.fileSize != kColorSettingsFileSize || file.formatMark != kColorSettingsFileMark) return std::nullopt;
    return file.settings;
}

std::array<uint8_t, kColorSettingsFileSize> SerializeColorSettingsFile(const ColorSettings& settings) noexcept {
    ColorSettingsFile file{};
    file.fileSize = kColorSettingsFileSize;
    file.formatMark = kColorSettingsFileMark;
    file.settings = settings;
    file.settings.reserved1 = 0;
    file.settings.reserved2 = 0;
    std::array<uint8_t, kColorSettingsFileSize> bytes;
    std::memcpy(bytes.data(), &file, sizeof file);
    return bytes;
}

namespace {

template <typename T>
T Hold(T value, SettingRange range) noexcept {
    return static_cast<T>(std::clamp<int>(value, range.minimum, range.maximum));
}

}  // namespace

ColorSettings HoldInSliderRanges(const ColorSettings& settings) noexcept {
    ColorSettings held = settings;
    held.brightness = Hold(settings.brightness, kBalanceRange);
    held.contrast = Hold(settings.contrast, kBalanceRange);
    held.saturation = Hold(settings.saturation, kBalanceRange);
    held.cyanRed = Hold(settings.cyanRed, kBalanceRange);
    held.magentaGreen = Hold(settings.magentaGreen, kBalanceRange);
    held.yellowBlue = Hold(settings.yellowBlue, kBalanceRange);
    held.sharpness = Hold(settings.sharpness, kSharpnessRange);
    held.unsharpEnabled = settings.unsharpEnabled == 1 ? 1 : 0;
    held.unsharpAmount = Hold(settings.unsharpAmount, kUnsharpAmountRange);
    held.unsharpRadius = Hold(settings.unsharpRadius, kUnsharpRadiusRange);
    held.unsharpThreshold = Hold(settings.unsharpThreshold, kUnsharpThresholdRange);
    return held;
}

}  // namespace qz410
