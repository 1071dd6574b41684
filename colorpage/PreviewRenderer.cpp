// The Win32 half of the preview: the picture file, the DIB section it is
// loaded into, the built-in picture and the drawing. Loading and correcting
// are the portable core's.
#include <cstdlib>
#include <cstring>
#include <span>

#include "colorpage/ColorPage.h"
#include "colorpage/OutsideFiles.h"
#include "colorpage/PageControls.h"
#include "imaging/PictureLoader.h"
#include "imaging/PreviewCorrection.h"
#include "plugin/Module.h"
#include "resources/resource.h"

namespace qz410 {

namespace {

class FileSource final : public ByteSource {
public:
    explicit FileSource(HANDLE file) : file_(file) {}

    size_t Read(void* destination, size_t count) noexcept override {
        const DWORD want = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
        DWORD got = 0;
        if (!ReadFile(file_, destination, want, &got, nullptr)) return 0;
        return got;
    }

    // The crop of a large picture passes over most of its rows: moving the
    // file position costs nothing, reading them would cost the whole file.
    uint64_t Skip(uint64_t count) noexcept override {
        LONG high = static_cast<LONG>(count >> 32);
        const DWORD low = SetFilePointer(file_, static_cast<LONG>(count & 0xFFFFFFFFu), &high, FILE_CURRENT);
        if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return ByteSource::Skip(count);
        return count;
    }

    // Lets the loader refuse a file that announces more than it holds before
    // it makes a picture of the announced size.
    uint64_t Remaining() noexcept override {
        LONG high = 0;
        const DWORD low = SetFilePointer(file_, 0, &high, FILE_CURRENT);
        if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return kUnknownLength;
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file_, &size)) return kUnknownLength;
        const uint64_t position = (uint64_t{static_cast<DWORD>(high)} << 32) | low;
        const auto length = static_cast<uint64_t>(size.QuadPart);
        return length > position ? length - position : 0;
    }

private:
    HANDLE file_;
};

// The working picture as a DIB section of the paint DC. The section gets a
// plain 24-bit header of the picture's size rather than the file's info
// block, so no colour table or longer header of the file is handed to GDI.
class DibSectionAllocator final : public PictureAllocator {
public:
    explicit DibSectionAllocator(HDC dc) : dc_(dc) {}

    uint8_t* AllocatePicture(const uint8_t*, size_t, int32_t width, int32_t height, size_t) noexcept override {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap.Reset(CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!bitmap || bits == nullptr) {
            bitmap.Reset();
            return nullptr;
        }
        return static_cast<uint8_t*>(bits);
    }

    UniqueGdiObject bitmap;

private:
    HDC dc_;
};

struct WorkingPicture {
    uint8_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
};

// The user's picture, when there is one and it can be shown. A picture that
// cannot be used loses its path, so later repaints do not try it again;
// one that only this page cannot cut for want of its crop buffer keeps it.
WorkingPicture LoadUserPicture(ColorPageContext* context, DibSectionAllocator& allocator) {
    PrivateDevMode* live = LiveDevMode(context);
    wchar_t path[kPathUnits];
    std::memcpy(path, live->previewImagePath, sizeof path);
    path[kPathUnits - 1] = 0;
    if (path[0] == 0) return {};

    LoadedPicture picture;
    picture.problem = PictureProblem::pictureNotCreated;
    {
        UniqueFile file = OpenDiskFile(path);
        if (file) {
            FileSource source(file.Get());
            std::span<uint8_t> crop;
            if (context->previewCropBuffer) {
                crop = std::span<uint8_t>(static_cast<uint8_t*>(context->previewCropBuffer.Get()),
                                          kPreviewCropBufferSize);
            }
            picture = LoadPreviewPicture(source, allocator, crop);
        }
    }
    if (picture.Usable()) return {picture.pixels, picture.width, picture.height, picture.stride};
    if (picture.problem != PictureProblem::noCropBuffer) {
        std::memset(live->previewImagePath, 0, sizeof live->previewImagePath);
    }
    return {};
}

// The built-in picture straight from the module's resource data, a packed
// 192 x 192 24-bit DIB. Loading it as a bitmap object each repaint (which
// LR_SHARED does not spare for bitmaps) would leave one GDI bitmap behind
// per repaint and pass the pixels through the display's format.
WorkingPicture LoadBuiltInPicture(DibSectionAllocator& allocator) {
    const HRSRC found = FindResourceW(moduleInstance, MAKEINTRESOURCEW(IDB_SAMPLE_PICTURE), RT_BITMAP);
    if (found == nullptr) return {};
    const DWORD size = SizeofResource(moduleInstance, found);
    const HGLOBAL loaded = LoadResource(moduleInstance, found);  // module memory: never freed
    const auto* data = loaded != nullptr ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (data == nullptr || size < kBitmapInfoHeaderSize) return {};
    BITMAPINFOHEADER header;
    std::memcpy(&header, data, sizeof header);
    if (header.biSize < sizeof header || header.biWidth != kPreviewSide || header.biHeight != kPreviewSide ||
        header.biBitCount != 24 || header.biCompression != BI_RGB || header.biClrUsed != 0 ||
        size < header.biSize || size - header.biSize < kPreviewCropBytes) {
        return {};
    }
    uint8_t* pixels = allocator.AllocatePicture(nullptr, 0, kPreviewSide, kPreviewSide, kPreviewCropBytes);
    if (pixels == nullptr) return {};
    std::memcpy(pixels, data + header.biSize, kPreviewCropBytes);
    return {pixels, kPreviewSide, kPreviewSide, static_cast<int32_t>(kPreviewCropStride)};
}

}  // namespace

void RenderPreview(HWND hDlg) noexcept {
    PAINTSTRUCT paintInfo;
    UniquePaint paint(BeginPaint(hDlg, &paintInfo), PaintTraits{hDlg, &paintInfo});
    if (!paint) return;
    ColorPageContext* context = PageContext(hDlg);
    if (context == nullptr) return;
    const HDC dc = paint.Get();

    DibSectionAllocator allocator(dc);
    WorkingPicture picture = LoadUserPicture(context, allocator);
    if (picture.pixels == nullptr) picture = LoadBuiltInPicture(allocator);
    if (picture.pixels == nullptr) return;

    ColorSettings settings{};
    ReadPageControls(hDlg, settings);
    CorrectPreviewPicture(settings, picture.pixels, picture.width, picture.height, picture.stride);

    UniqueDc memory(CreateCompatibleDC(dc));
    if (!memory) return;
    UniqueSelection selection = SelectInto(memory.Get(), allocator.bitmap.Get());
    if (!selection) return;
    Rectangle(dc, 4, 4, 198, 198);
    SetStretchBltMode(dc, COLORONCOLOR);
    // A top-down picture (negative height) is as many lines high as a
    // bottom-up one; its sign only says how the lines are stored.
    StretchBlt(dc, 5, 5, kPreviewSide, kPreviewSide, memory.Get(), 0, 0, picture.width, std::abs(picture.height),
               SRCCOPY);
}

}  // namespace qz410
