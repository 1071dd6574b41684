// The plug-in's private block behind every device mode, and the host's four
// requests on it. Portable: the Win32 shell maps the host's OEMDMPARAM onto
// DevModeRequest and the status onto the last error.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/ColorSettings.h"

namespace qz410 {

inline constexpr uint32_t kPluginSignature = 0x4E43504C;  // bytes "LPCN"
inline constexpr uint32_t kPluginVersion = 1;
inline constexpr int kPathUnits = 260;

struct OemDmExtraHeader {
    uint32_t dwSize;
    uint32_t dwSignature;
    uint32_t dwVersion;
};

struct PrivateDevMode {
    OemDmExtraHeader header;
    ColorSettings settings;
    char16_t previewImagePath[kPathUnits];  // empty: the built-in sample picture
    uint16_t smearControl;                  // 0 Off, 1 Picture, 2 Graphics
    uint16_t reserved;
};

static_assert(sizeof(OemDmExtraHeader) == 12);
static_assert(sizeof(PrivateDevMode) == 564);
static_assert(offsetof(PrivateDevMode, header) == 0);
static_assert(offsetof(PrivateDevMode, header.dwSignature) == 4);
static_assert(offsetof(PrivateDevMode, header.dwVersion) == 8);
static_assert(offsetof(PrivateDevMode, settings) == 12);
static_assert(offsetof(PrivateDevMode, previewImagePath) == 40);
static_assert(offsetof(PrivateDevMode, smearControl) == 560);
static_assert(offsetof(PrivateDevMode, reserved) == 562);

inline constexpr uint32_t kPrivateDevModeSize = sizeof(PrivateDevMode);

// The public DEVMODEW members the defaults touch, by their fixed offsets
// (identical on 32- and 64-bit Windows; the Win32 shell checks them against
// the platform's own declaration).
inline constexpr size_t kDmDeviceNameOffset = 0;
inline constexpr size_t kDmOrientationOffset = 76;
inline constexpr size_t kDmPaperSizeOffset = 78;
inline constexpr int16_t kDmOrientLandscape = 2;
inline constexpr int16_t kDmPaperUser = 256;
inline constexpr int16_t kDmPaperA4 = 9;

enum DevModeRequestMode : uint32_t {
    kOemDmSize = 1,
    kOemDmDefault = 2,
    kOemDmConvert = 3,
    kOemDmMerge = 4,
};

struct DevModeRequest {
    void* publicDevMode;  // DEVMODEW, written by the defaults request
    const void* oemIn;    // another private block, of any plug-in or age
    void* oemOut;         // a 564-byte private block of this plug-in
    uint32_t bufSize;     // set by the size request
};

enum class DevModeStatus { ok, invalidParameter };

DevModeStatus HandleDevModeRequest(uint32_t mode, DevModeRequest* request) noexcept;

// Both return 1 when they wrote the block, 0 for a null pointer.
int ConvertPrivateDevMode(const void* in, void* out) noexcept;
int ValidatePrivateDevMode(void* block) noexcept;

}  // namespace qz410
