// The ".COL" file in which the user keeps a set of correction values: a
// 4-byte header and one ColorSettings record, 32 bytes in all. Portable: the
// Win32 page reads and writes the bytes, this file gives them meaning.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "settings/ColorSettings.h"

namespace qz410 {

struct ColorSettingsFile {
    uint16_t fileSize;    // 32
    uint16_t formatMark;  // 100
    ColorSettings settings;
};
static_assert(sizeof(ColorSettingsFile) == 32);
static_assert(offsetof(ColorSettingsFile, settings) == 4);

inline constexpr size_t kColorSettingsFileSize = sizeof(ColorSettingsFile);
inline constexpr uint16_t kColorSettingsFileMark = 100;

// `bytes` is what one read of up to 32 bytes (or more) gave. A settings file
// yields at least 32 bytes and starts with 32 / 100; anything after the 32nd
// byte is ignored. Values come back as stored, in range or not.
std::optional<ColorSettings> ParseColorSettingsFile(std::span<const uint8_t> bytes) noexcept;

// The 32 bytes of a settings file holding `settings`; the two reserved fields
// are written as zeros so that two saves of the same values are identical.
std::array<uint8_t, kColorSettingsFileSize> SerializeColorSettingsFile(const ColorSettings& settings) noexcept;

// What the page's sliders and check box make of a record put into them: each
// value held at the nearer end of its slider's range (sharpness read
// unsigned, the others signed), the unsharp mask on only for exactly 1. The
// reserved fields are kept.
ColorSettings HoldInSliderRanges(const ColorSettings& settings) noexcept;

}  // namespace qz410
