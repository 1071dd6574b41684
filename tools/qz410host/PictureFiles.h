// Picture files of every format the preview takes, made and read through the
// system's own encoders and decoders (the Imaging Component), so that the
// screenshots and the tests need no picture from anywhere else.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qz410host {

// Writes `height` top-down rows of `stride` bytes in the pixel format
// `format` through the system's encoder for `container`; a palette format
// takes `palette` (0xAARRGGBB). False when the encoder refuses any step.
bool EncodePicture(const std::wstring& path, const GUID& container, const GUID& format, UINT width, UINT height,
                   UINT stride, const std::vector<uint8_t>& rows, const std::vector<uint32_t>& palette = {});

// The first frame of a picture file as the system's decoder gives it, in
// top-down 32-bit blue-green-red-alpha rows; empty when it cannot.
std::vector<uint8_t> DecodeToBgra(const std::wstring& path, UINT* width, UINT* height);

// A bottom-up 24-bit BMP file of top-down 24-bit blue-green-red pixels,
// every one of which the preview reads.
std::vector<uint8_t> BitmapFileOf(int width, int height, const std::vector<uint8_t>& bgr);

// A JPEG with an EXIF segment that holds only the orientation (tag 274),
// put right after its start-of-image marker, in Motorola or Intel order.
std::vector<uint8_t> WithExifOrientation(const std::vector<uint8_t>& jpeg, int orientation, bool bigEndian);

std::vector<uint8_t> ReadWholeFile(const std::wstring& path);
bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes);

}  // namespace qz410host
