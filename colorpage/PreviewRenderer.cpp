// The Win32 half of the preview: the picture file, the DIB section it is
// loaded into, the built-in picture and the drawing. Loading and correcting
// are the portable core's.
#include <cstdlib>
#include <cstring>
#include <span>

#include "colorpage/ColorPage.h"
#include "colorpage/OutsideFiles.h"
#include "colorpage/PageControls.h"
#include "colorpage/PictureDecoding.h"
#include "imaging/Dib.h"
#include "imaging/PictureHeader.h"
#include "imaging/PictureLoader.h"
#include "imaging/PreviewCorrection.h"
#include "plugin/Module.h"
#include "resources/resource.h"

namespace qz410 {

namespace {

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

// The kept decoded picture as this repaint's working picture, which the
// corrections change.
WorkingPicture FromKept(const ColorPageContext* context, DibSectionAllocator& allocator) {
    const KeptPicture& kept = context->keptPicture;
    const uint8_t* pixels = KeptPixels(kept, CropBuffer(context));
    if (pixels == nullptr) return {};
    const int64_t stride = DibStride(kept.width);
    const auto bytes = static_cast<size_t>(stride * kept.height);
    uint8_t* working = allocator.AllocatePicture(nullptr, 0, kept.width, kept.height, bytes);
    if (working == nullptr) return {};
    std::memcpy(working, pixels, bytes);
    return {working, kept.width, kept.height, static_cast<int32_t>(stride)};
}

// The user's picture, when there is one and it can be shown. A picture that
// cannot be used loses its path, so later repaints do not try it again;
// one that only this page cannot cut for want of its crop buffer keeps it.
// A plain 24-bit BMP is read afresh each time (its crop costs 192 row
// reads); any other picture is decoded once and kept while its file stays
// as it was.
WorkingPicture LoadUserPicture(ColorPageContext* context, DibSectionAllocator& allocator) {
    PrivateDevMode* live = LiveDevMode(context);
    wchar_t path[kPathUnits];
    std::memcpy(path, live->previewImagePath, sizeof path);
    path[kPathUnits - 1] = 0;
    if (path[0] == 0) return {};

    if (StillTheKeptFile(context->keptPicture, path)) {
        WorkingPicture kept = FromKept(context, allocator);
        if (kept.pixels == nullptr) std::memset(live->previewImagePath, 0, sizeof live->previewImagePath);
        return kept;
    }
    // Whatever is read now goes through the crop buffer, which holds a kept
    // crop.
    ForgetKeptPicture(context->keptPicture);

    bool keepPath = false;
    WorkingPicture shown;
    if (UniqueFile file = OpenDiskFile(path)) {
        FileSource source(file.Get());
        const PictureHeader header = ReadPictureHeader(source);
        if (header.plainBitmap) {
            if (RewindFile(file.Get())) {
                const LoadedPicture picture = LoadPreviewPicture(source, allocator, CropBuffer(context));
                if (picture.Usable()) shown = {picture.pixels, picture.width, picture.height, picture.stride};
                keepPath = picture.problem == PictureProblem::noCropBuffer;
            }
        } else {
            const DecodeOutcome outcome =
                DecodePicture(file.Get(), path, header, CropBuffer(context), context->keptPicture);
            if (outcome == DecodeOutcome::decoded) shown = FromKept(context, allocator);
            keepPath = outcome == DecodeOutcome::noCropBuffer;
        }
    }
    if (shown.pixels == nullptr && !keepPath) {
        std::memset(live->previewImagePath, 0, sizeof live->previewImagePath);
    }
    return shown;
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
