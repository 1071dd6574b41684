#include "settings/PrivateDevMode.h"

#include <algorithm>
#include <cstring>

#include "settings/RawBytes.h"

namespace qz410 {
namespace {

constexpr size_t kSettings = offsetof(PrivateDevMode, settings);

constexpr size_t SettingsField(size_t offsetInSettings) noexcept { return kSettings + offsetInSettings; }

void WriteHeader(void* block) noexcept {
    Store(block, offsetof(PrivateDevMode, header.dwSize), kPrivateDevModeSize);
    Store(block, offsetof(PrivateDevMode, header.dwSignature), kPluginSignature);
    Store(block, offsetof(PrivateDevMode, header.dwVersion), kPluginVersion);
}

void WriteDefaults(void* block, void* publicDevMode) noexcept {
    // Only these bytes: whatever else the host's buffer held stays.
    Store(block, SettingsField(offsetof(ColorSettings, unsharpEnabled)), int32_t{0});
    WriteHeader(block);
    Store(block, SettingsField(offsetof(ColorSettings, unsharpAmount)), int16_t{5});
    Store(block, SettingsField(offsetof(ColorSettings, unsharpRadius)), int16_t{10});
    Store(block, SettingsField(offsetof(ColorSettings, unsharpThreshold)), int16_t{5});
    Store(block, offsetof(PrivateDevMode, smearControl), uint16_t{1});

    if (publicDevMode == nullptr) return;
    Store(publicDevMode, kDmOrientationOffset, kDmOrientLandscape);
    const auto paper = Load<int16_t>(publicDevMode, kDmPaperSizeOffset);
    const auto firstNameUnit = Load<char16_t>(publicDevMode, kDmDeviceNameOffset);
    if (paper >= kDmPaperUser && firstNameUnit != u'\\') {
        Store(publicDevMode, kDmPaperSizeOffset, kDmPaperA4);
    }
}

template <typename T>
void RepairField(void* block, size_t offsetInSettings, int minimum, int maximum, T replacement) noexcept {
    const size_t at = SettingsField(offsetInSettings);
    const T value = Load<T>(block, at);
    if (value < minimum || value > maximum) Store(block, at, replacement);
}

}  // namespace

int ConvertPrivateDevMode(const void* in, void* out) noexcept {
    if (in == nullptr || out == nullptr) return 0;
    constexpr size_t kSignature = offsetof(PrivateDevMode, header.dwSignature);
    if (Load<uint32_t>(in, kSignature) == Load<uint32_t>(out, kSignature)) {
        const uint32_t n = std::min({Load<uint32_t>(in, 0), Load<uint32_t>(out, 0), kPrivateDevModeSize});
        // memmove: a host may hand in the same block as input and output.
        std::memmove(out, in, n);
        Store(out, offsetof(PrivateDevMode, header.dwSize), kPrivateDevModeSize);
        Store(out, offsetof(PrivateDevMode, header.dwVersion), kPluginVersion);
    } else {
        WriteHeader(out);
        std::memset(static_cast<unsigned char*>(out) + kSettings, 0, sizeof(ColorSettings));
    }
    return 1;
}

int ValidatePrivateDevMode(void* block) noexcept {
    if (block == nullptr) return 0;
    WriteHeader(block);
    for (size_t field : {offsetof(ColorSettings, brightness), offsetof(ColorSettings, contrast),
                         offsetof(ColorSettings, saturation), offsetof(ColorSettings, cyanRed),
                         offsetof(ColorSettings, magentaGreen), offsetof(ColorSettings, yellowBlue)}) {
        RepairField<int16_t>(block, field, kBalanceRange.minimum, kBalanceRange.maximum, 0);
    }
    RepairField<uint16_t>(block, offsetof(ColorSettings, sharpness), kSharpnessRange.minimum,
                          kSharpnessRange.maximum, 0);
    RepairField<int16_t>(block, offsetof(ColorSettings, unsharpAmount), kUnsharpAmountRange.minimum,
                         kUnsharpAmountRange.maximum, 5);
    RepairField<int16_t>(block, offsetof(ColorSettings, unsharpRadius), kUnsharpRadiusRange.minimum,
                         kUnsharpRadiusRange.maximum, 10);
    RepairField<int16_t>(block, offsetof(ColorSettings, unsharpThreshold), kUnsharpThresholdRange.minimum,
                         kUnsharpThresholdRange.maximum, 5);
    return 1;
}

DevModeStatus HandleDevModeRequest(uint32_t mode, DevModeRequest* request) noexcept {
    if (request == nullptr) return DevModeStatus::invalidParameter;
    switch (mode) {
    case kOemDmSize:
        request->bufSize = kPrivateDevModeSize;
        break;
    case kOemDmDefault:
        // A null output block is a host fault; nothing sensible can be written.
        if (request->oemOut != nullptr) WriteDefaults(request->oemOut, request->publicDevMode);
        break;
    case kOemDmConvert:
        ConvertPrivateDevMode(request->oemIn, request->oemOut);
        break;
    case kOemDmMerge:
        if (ConvertPrivateDevMode(request->oemIn, request->oemOut)) ValidatePrivateDevMode(request->oemOut);
        break;
    default:
        return DevModeStatus::invalidParameter;
    }
    return DevModeStatus::ok;
}

}  // namespace qz410
