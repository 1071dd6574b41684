#include "colorpage/PictureDecoding.h"

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "colorpage/OutsideFiles.h"
#include "imaging/Dib.h"

namespace qz410 {

namespace {

// The picture file as the stream that both decoders read. It lives on the
// decoding call's stack: every decoder object that holds it is released
// before that call returns, so its count only guards against a decoder
// that would release it once too often.
class FileStream final : public IStream {
public:
    FileStream(HANDLE file, uint64_t size) : file_(file), size_(size) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        return left > 0 ? static_cast<ULONG>(left) : 0;
    }

    HRESULT STDMETHODCALLTYPE Read(void* destination, ULONG count, ULONG* read) override {
        DWORD got = 0;
        const BOOL ok = destination != nullptr && ReadFile(file_, destination, count, &got, nullptr);
        if (read != nullptr) *read = got;
        if (!ok) return STG_E_READFAULT;
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override {
        if (written != nullptr) *written = 0;
        return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        DWORD method = FILE_BEGIN;
        if (origin == STREAM_SEEK_CUR) method = FILE_CURRENT;
        else if (origin == STREAM_SEEK_END) method = FILE_END;
        else if (origin != STREAM_SEEK_SET) return STG_E_INVALIDFUNCTION;
        LONG high = move.HighPart;
        SetLastError(NO_ERROR);
        const DWORD low = SetFilePointer(file_, static_cast<LONG>(move.LowPart), &high, method);
        if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return STG_E_SEEKERROR;
        if (position != nullptr) position->QuadPart = (uint64_t{static_cast<DWORD>(high)} << 32) | low;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    // No name is given (a decoder has no use for it, and the caller frees
    // a null one without harm).
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = size_;
        stat->grfMode = STGM_READ | STGM_SHARE_DENY_WRITE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** clone) override {
        if (clone != nullptr) *clone = nullptr;
        return E_NOTIMPL;
    }

private:
    HANDLE file_;
    uint64_t size_;
    LONG references_ = 1;
};

// COM on the page's thread, as the thread has it: initialised here only
// when the thread has none (and then undone here); a thread in another
// apartment already has COM, which works as it is.
bool EnterCom(UniqueComApartment& apartment) {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (result == S_OK || result == S_FALSE) {
        apartment.Reset(true);
        return true;
    }
    return result == RPC_E_CHANGED_MODE;
}

// Only the decoders that come with the system, by their own class ids: the
// path comes with documents from any machine, so a codec that some other
// program registered for a container format never runs on it.
const CLSID* SystemDecoder(PictureFormat format) {
    switch (format) {
    case PictureFormat::bitmap: return &CLSID_WICBmpDecoder;
    case PictureFormat::jpeg: return &CLSID_WICJpegDecoder;
    case PictureFormat::png: return &CLSID_WICPngDecoder;
    case PictureFormat::gif: return &CLSID_WICGifDecoder;
    case PictureFormat::tiff: return &CLSID_WICTiffDecoder;
    case PictureFormat::unknown: break;
    }
    return nullptr;
}

// Where the decoded rows go: the stored rectangle that holds the shown part,
// fetched in strips of 32-bit pixels that never take more than the crop
// buffer's room, and laid upright over white into the kept picture.
struct Placement {
    PixelRect stored;
    uint8_t orientation = 1;
    uint8_t* shown = nullptr;
    int64_t shownStride = 0;
    uint8_t* strip = nullptr;  // room for StripRows() rows of 32-bit pixels
    size_t stripBytes = 0;

    int32_t StripRows() const {
        const size_t rowBytes = size_t{4} * static_cast<size_t>(stored.width);
        return static_cast<int32_t>(std::min<size_t>(stripBytes / rowBytes, static_cast<size_t>(stored.height)));
    }
    void Place(int32_t firstRow, int32_t rows, bool opaque) const {
        PlaceStoredRows(strip, size_t{4} * static_cast<size_t>(stored.width), stored.width, stored.height, firstRow,
                        rows, orientation, opaque, shown, shownStride);
    }
};

DecodeOutcome DecodeWithWic(IWICImagingFactory* factory, IStream* stream, const PictureHeader& header,
                            const Placement& placement) {
    const CLSID* decoderClass = SystemDecoder(header.format);
    if (decoderClass == nullptr) return DecodeOutcome::notPicture;
    UniqueCom<IWICBitmapDecoder> decoder;
    {
        IWICBitmapDecoder* made = nullptr;
        if (FAILED(CoCreateInstance(*decoderClass, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapDecoder,
                                    reinterpret_cast<void**>(&made))) ||
            made == nullptr) {
            return DecodeOutcome::notPicture;
        }
        decoder.Reset(made);
    }
    if (FAILED(decoder.Get()->Initialize(stream, WICDecodeMetadataCacheOnDemand))) return DecodeOutcome::notPicture;
    UniqueCom<IWICBitmapFrameDecode> frame;
    {
        IWICBitmapFrameDecode* got = nullptr;
        if (FAILED(decoder.Get()->GetFrame(0, &got)) || got == nullptr) return DecodeOutcome::notPicture;
        frame.Reset(got);
    }
    // The size the header announced is the size that was judged; a decoder
    // that sees another picture in the file is not trusted with it.
    UINT width = 0, height = 0;
    if (FAILED(frame.Get()->GetSize(&width, &height)) || width != header.width || height != header.height) {
        return DecodeOutcome::notPicture;
    }
    UniqueCom<IWICFormatConverter> converter;
    {
        IWICFormatConverter* made = nullptr;
        if (FAILED(factory->CreateFormatConverter(&made)) || made == nullptr) return DecodeOutcome::noMemory;
        converter.Reset(made);
    }
    // Every format converts to 32-bit BGRA on Windows and Wine alike, where
    // a straight conversion to 24 bits is missing for many (Wine has none
    // from 16 bits a channel, palettes or grey); it also brings the alpha
    // that is laid over white. Without alpha the pixels count as opaque.
    bool opaque = false;
    if (FAILED(converter.Get()->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                           nullptr, 0.0, WICBitmapPaletteTypeCustom))) {
        if (FAILED(converter.Get()->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone,
                                               nullptr, 0.0, WICBitmapPaletteTypeCustom))) {
            return DecodeOutcome::notPicture;
        }
        opaque = true;
    }
    const int32_t stripRows = placement.StripRows();
    const UINT rowBytes = 4u * static_cast<UINT>(placement.stored.width);
    for (int32_t first = 0; first < placement.stored.height; first += stripRows) {
        const int32_t rows = std::min(stripRows, placement.stored.height - first);
        const WICRect rect{placement.stored.x, placement.stored.y + first, placement.stored.width, rows};
        if (FAILED(converter.Get()->CopyPixels(&rect, rowBytes, rowBytes * static_cast<UINT>(rows),
                                               placement.strip))) {
            return DecodeOutcome::notPicture;
        }
        placement.Place(first, rows, opaque);
    }
    return DecodeOutcome::decoded;
}

// OLE's loader, for systems without the Imaging Component: it knows JPEG,
// GIF and BMP (and metafiles and icons, which never reach it) and gives a
// bitmap, whose stored rectangle is copied out strip by strip.
DecodeOutcome DecodeWithOle(IStream* stream, uint64_t fileSize, const PictureHeader& header,
                            const Placement& placement) {
    if (header.format != PictureFormat::jpeg && header.format != PictureFormat::gif &&
        header.format != PictureFormat::bitmap) {
        return DecodeOutcome::notPicture;
    }
    if (fileSize > 0x7FFFFFFF) return DecodeOutcome::notPicture;
    UniqueCom<IPicture> picture;
    {
        IPicture* loaded = nullptr;
        if (FAILED(OleLoadPicture(stream, static_cast<LONG>(fileSize), FALSE, IID_IPicture,
                                  reinterpret_cast<void**>(&loaded))) ||
            loaded == nullptr) {
            return DecodeOutcome::notPicture;
        }
        picture.Reset(loaded);
    }
    SHORT type = PICTYPE_NONE;
    OLE_HANDLE handle = 0;
    if (FAILED(picture.Get()->get_Type(&type)) || type != PICTYPE_BITMAP ||
        FAILED(picture.Get()->get_Handle(&handle)) || handle == 0) {
        return DecodeOutcome::notPicture;
    }
    const auto bitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
    BITMAP described{};
    if (GetObjectW(bitmap, sizeof described, &described) != sizeof described ||
        static_cast<uint32_t>(described.bmWidth) != header.width ||
        static_cast<uint32_t>(std::abs(described.bmHeight)) != header.height) {
        return DecodeOutcome::notPicture;
    }

    // The strip is a top-down 32-bit DIB section of GDI's, so that the
    // bitmap's rows reach it by one copy in the display's own terms.
    const int32_t stripRows = placement.StripRows();
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = placement.stored.width;
    info.bmiHeader.biHeight = -stripRows;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueGdiObject strip(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    UniqueDc source(CreateCompatibleDC(nullptr));
    UniqueDc target(CreateCompatibleDC(nullptr));
    if (!strip || bits == nullptr || !source || !target) return DecodeOutcome::noMemory;
    UniqueSelection sourceSelection = SelectInto(source.Get(), bitmap);
    UniqueSelection targetSelection = SelectInto(target.Get(), strip.Get());
    if (!sourceSelection || !targetSelection) return DecodeOutcome::notPicture;

    Placement fromStrip = placement;
    fromStrip.strip = static_cast<uint8_t*>(bits);
    for (int32_t first = 0; first < placement.stored.height; first += stripRows) {
        const int32_t rows = std::min(stripRows, placement.stored.height - first);
        if (!BitBlt(target.Get(), 0, 0, placement.stored.width, rows, source.Get(), placement.stored.x,
                    placement.stored.y + first, SRCCOPY) ||
            !GdiFlush()) {
            return DecodeOutcome::notPicture;
        }
        fromStrip.Place(first, rows, true);
    }
    return DecodeOutcome::decoded;
}

// The identity of the open file, taken before it is read, so that a file
// changed while it is decoded is decoded again at the next repaint.
bool TakeIdentity(KeptPicture& kept, HANDLE file, const wchar_t* path) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return false;
    kept.sizeHigh = information.nFileSizeHigh;
    kept.sizeLow = information.nFileSizeLow;
    kept.lastWrite = information.ftLastWriteTime;
    std::memset(kept.path, 0, sizeof kept.path);
    for (int i = 0; i < kPathUnits - 1 && path[i] != 0; ++i) kept.path[i] = path[i];
    return true;
}

}  // namespace

DecodeOutcome DecodePicture(HANDLE file, const wchar_t* path, const PictureHeader& header,
                            std::span<uint8_t> cropBuffer, KeptPicture& kept) noexcept {
    ForgetKeptPicture(kept);
    if (header.verdict == HeaderVerdict::tooLarge) return DecodeOutcome::tooLarge;
    if (header.verdict != HeaderVerdict::usable || header.plainBitmap) return DecodeOutcome::notPicture;
    if (cropBuffer.size() < kPreviewCropBufferSize) return DecodeOutcome::noCropBuffer;

    const bool swapped = SwapsSides(header.orientation);
    const uint32_t shownWidth = swapped ? header.height : header.width;
    const uint32_t shownHeight = swapped ? header.width : header.height;
    const PixelRect part = ShownPart(shownWidth, shownHeight);
    Placement placement;
    placement.stored = StoredRect(header.orientation, header.width, header.height, part);
    placement.orientation = header.orientation;
    placement.shownStride = DibStride(part.width);
    const bool cropped = shownWidth > static_cast<uint32_t>(kPreviewSide) &&
                         shownHeight > static_cast<uint32_t>(kPreviewSide);
    if (cropped) {
        // The crop lives in the crop buffer's head; its tail, a quarter of
        // the buffer, takes the strips on their way.
        placement.shown = cropBuffer.data();
        placement.strip = cropBuffer.data() + kPreviewCropBytes;
        placement.stripBytes = kPreviewCropBufferSize - kPreviewCropBytes;
    } else {
        kept.whole.Reset(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(placement.shownStride) *
                                                            static_cast<SIZE_T>(part.height)));
        if (!kept.whole) return DecodeOutcome::noMemory;
        placement.shown = static_cast<uint8_t*>(kept.whole.Get());
        placement.strip = cropBuffer.data();
        placement.stripBytes = kPreviewCropBufferSize;
    }

    if (!TakeIdentity(kept, file, path) || !RewindFile(file)) {
        ForgetKeptPicture(kept);
        return DecodeOutcome::notPicture;
    }
    const uint64_t size = (uint64_t{kept.sizeHigh} << 32) | kept.sizeLow;
    FileStream stream(file, size);
    DecodeOutcome outcome = DecodeOutcome::notPicture;
    {
        UniqueComApartment apartment;
        if (EnterCom(apartment)) {
            IWICImagingFactory* factory = nullptr;
            if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
                factory != nullptr) {
                UniqueCom<IWICImagingFactory> owned(factory);
                outcome = DecodeWithWic(factory, &stream, header, placement);
            } else {
                outcome = DecodeWithOle(&stream, size, header, placement);
            }
        }
    }
    if (outcome != DecodeOutcome::decoded) {
        ForgetKeptPicture(kept);
        return outcome;
    }
    kept.width = part.width;
    kept.height = part.height;
    kept.valid = true;
    return DecodeOutcome::decoded;
}

const uint8_t* KeptPixels(const KeptPicture& kept, std::span<uint8_t> cropBuffer) noexcept {
    if (!kept.valid) return nullptr;
    if (kept.whole) return static_cast<const uint8_t*>(kept.whole.Get());
    return cropBuffer.size() >= kPreviewCropBytes ? cropBuffer.data() : nullptr;
}

bool StillTheKeptFile(const KeptPicture& kept, const wchar_t* path) noexcept {
    if (!kept.valid || std::wcsncmp(kept.path, path, kPathUnits) != 0) return false;
    WIN32_FILE_ATTRIBUTE_DATA now;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &now)) return false;
    return (now.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && now.nFileSizeHigh == kept.sizeHigh &&
           now.nFileSizeLow == kept.sizeLow && CompareFileTime(&now.ftLastWriteTime, &kept.lastWrite) == 0;
}

void ForgetKeptPicture(KeptPicture& kept) noexcept {
    kept.valid = false;
    kept.whole.Reset();
    kept.width = kept.height = 0;
    kept.path[0] = 0;
}

}  // namespace qz410
