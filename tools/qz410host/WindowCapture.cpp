// Pictures of windows as they are on screen, and a small PNG writer for
// them: stored (uncompressed) deflate blocks, so that no compression library
// is needed.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "tools/qz410host/HostSession.h"

namespace qz410host {

namespace {

// `width` x `height` pixels at (x, y) of `source`, top-down BGR rows.
std::vector<unsigned char> Capture(HDC source, int x, int y, int width, int height) {
    std::vector<unsigned char> pixels;
    HDC memoryDc = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (memoryDc != nullptr && bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memoryDc, bitmap);
        if (BitBlt(memoryDc, 0, 0, width, height, source, x, y, SRCCOPY)) {
            GdiFlush();
            const size_t rowBytes = static_cast<size_t>(width) * 3;
            const size_t stride = (rowBytes + 3) & ~size_t{3};
            pixels.resize(rowBytes * height);
            for (int row = 0; row < height; ++row) {
                const auto* from = static_cast<const unsigned char*>(bits) + stride * row;
                std::copy(from, from + rowBytes, pixels.begin() + rowBytes * row);
            }
        }
        SelectObject(memoryDc, old);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (memoryDc != nullptr) DeleteDC(memoryDc);
    return pixels;
}

bool WritePng(const wchar_t* path, const std::vector<unsigned char>& pixels, int width, int height);

}  // namespace

std::vector<unsigned char> CaptureClient(HWND window, int* width, int* height) {
    RECT client{};
    if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) return {};
    HDC dc = GetDC(window);
    if (dc == nullptr) return {};
    std::vector<unsigned char> pixels = Capture(dc, 0, 0, client.right, client.bottom);
    ReleaseDC(window, dc);
    if (!pixels.empty()) {
        if (width != nullptr) *width = client.right;
        if (height != nullptr) *height = client.bottom;
    }
    return pixels;
}

bool SaveScreenPng(const RECT& area, const wchar_t* path) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return false;
    const std::vector<unsigned char> pixels = Capture(screen, area.left, area.top, width, height);
    ReleaseDC(nullptr, screen);
    return !pixels.empty() && WritePng(path, pixels, width, height);
}

namespace {

uint32_t Crc32(const unsigned char* data, size_t size, uint32_t crc = 0) {
    static uint32_t table[256];
    if (table[1] == 0) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    }
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBigEndian(std::vector<unsigned char>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

void PutChunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data) {
    PutBigEndian(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBigEndian(out, Crc32(out.data() + start, out.size() - start));
}

}  // namespace

// A PNG of 24-bit pixels given top-down in BGR order.
std::vector<unsigned char> EncodePng(const std::vector<unsigned char>& bgr, int width, int height) {
    // Each row: filter type 0, then red, green, blue.
    std::vector<unsigned char> raw;
    raw.reserve((static_cast<size_t>(width) * 3 + 1) * height);
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const unsigned char* row = bgr.data() + static_cast<size_t>(width) * 3 * y;
        for (int x = 0; x < width; ++x) {
            raw.insert(raw.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
        }
    }
    // zlib stream: header, stored blocks of at most 65535 bytes, Adler-32.
    std::vector<unsigned char> z{0x78, 0x01};
    size_t at = 0;
    do {
        const size_t length = std::min<size_t>(raw.size() - at, 65535);
        const bool last = at + length == raw.size();
        z.insert(z.end(), {static_cast<unsigned char>(last ? 1 : 0), static_cast<unsigned char>(length),
                           static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(~length),
                           static_cast<unsigned char>(~length >> 8)});
        z.insert(z.end(), raw.begin() + at, raw.begin() + at + length);
        at += length;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (const unsigned char byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(z, (b << 16) | a);

    std::vector<unsigned char> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    PutBigEndian(header, static_cast<uint32_t>(width));
    PutBigEndian(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, truecolour, no interlace
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", {});
    return png;
}

namespace {

bool WritePng(const wchar_t* path, const std::vector<unsigned char>& pixels, int width, int height) {
    const std::vector<unsigned char> png = EncodePng(pixels, width, height);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, png.data(), static_cast<DWORD>(png.size()), &written, nullptr) &&
                    written == png.size();
    return CloseHandle(file) && ok;
}

}  // namespace

bool SaveWindowPng(HWND window, const wchar_t* path) {
    int width = 0, height = 0;
    const std::vector<unsigned char> pixels = CaptureClient(window, &width, &height);
    return !pixels.empty() && WritePng(path, pixels, width, height);
}

}  // namespace qz410host
