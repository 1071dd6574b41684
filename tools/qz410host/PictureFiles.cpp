#include "tools/qz410host/PictureFiles.h"

#include <objbase.h>
#include <wincodec.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace qz410host {

namespace {

// COM references released in reverse order of taking.
template <typename T>
struct Com {
    T* p = nullptr;
    ~Com() {
        if (p != nullptr) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

// Every caller is a test or a tool on its own thread: COM in whichever
// apartment the thread has, or a single-threaded one for the call.
struct ComUse {
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComUse() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
};

bool MakeFactory(Com<IWICImagingFactory>& factory) {
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)));
}

}  // namespace

bool EncodePicture(const std::wstring& path, const GUID& container, const GUID& format, UINT width, UINT height,
                   UINT stride, const std::vector<uint8_t>& rows, const std::vector<uint32_t>& palette) {
    ComUse com;
    Com<IWICImagingFactory> factory;
    Com<IWICStream> stream;
    Com<IWICBitmapEncoder> encoder;
    Com<IWICBitmapFrameEncode> frame;
    Com<IPropertyBag2> options;
    Com<IWICPalette> colours;
    WICPixelFormatGUID chosen = format;
    if (!MakeFactory(factory) || FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(container, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(&frame, &options)) || FAILED(frame->Initialize(options.p)) ||
        FAILED(frame->SetSize(width, height)) || FAILED(frame->SetPixelFormat(&chosen)) ||
        !IsEqualGUID(chosen, format)) {
        return false;
    }
    if (!palette.empty()) {
        if (FAILED(factory->CreatePalette(&colours)) ||
            FAILED(colours->InitializeCustom(const_cast<WICColor*>(palette.data()), static_cast<UINT>(palette.size()))) ||
            FAILED(frame->SetPalette(colours.p))) {
            return false;
        }
    }
    return SUCCEEDED(frame->WritePixels(height, stride, static_cast<UINT>(rows.size()),
                                        const_cast<BYTE*>(rows.data()))) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

std::vector<uint8_t> DecodeToBgra(const std::wstring& path, UINT* width, UINT* height) {
    ComUse com;
    Com<IWICImagingFactory> factory;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    Com<IWICFormatConverter> converter;
    if (!MakeFactory(factory) ||
        FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                  WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(width, height)) ||
        FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.p, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
        return {};
    }
    std::vector<uint8_t> pixels(size_t{4} * *width * *height);
    if (FAILED(converter->CopyPixels(nullptr, 4 * *width, static_cast<UINT>(pixels.size()), pixels.data()))) {
        return {};
    }
    return pixels;
}

std::vector<uint8_t> BitmapFileOf(int width, int height, const std::vector<uint8_t>& bgr) {
    const int stride = (3 * width + 3) & ~3;
    std::vector<uint8_t> file(54 + size_t(stride) * height, 0);
    auto put = [&](size_t at, uint32_t value, size_t bytes) { std::memcpy(&file[at], &value, bytes); };
    file[0] = 'B';
    file[1] = 'M';
    // Two bytes past the file: the preview reads two pixel bytes fewer than
    // bfSize announces, and these pixels must all be read.
    put(2, static_cast<uint32_t>(file.size() + 2), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<uint32_t>(width), 4);
    put(22, static_cast<uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    for (int y = 0; y < height; ++y) {
        std::memcpy(&file[54 + size_t(stride) * (height - 1 - y)], &bgr[size_t(3) * width * y], size_t(3) * width);
    }
    return file;
}

std::vector<uint8_t> WithExifOrientation(const std::vector<uint8_t>& jpeg, int orientation, bool bigEndian) {
    // TIFF header, one IFD of one entry: tag 274, SHORT, count 1, the value.
    std::vector<uint8_t> tiff = bigEndian
        ? std::vector<uint8_t>{'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1,
                               0, static_cast<uint8_t>(orientation), 0, 0, 0, 0, 0, 0}
        : std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0,
                               static_cast<uint8_t>(orientation), 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> segment = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), tiff.begin(), tiff.end());
    const size_t length = segment.size() - 2;
    segment[2] = static_cast<uint8_t>(length >> 8);
    segment[3] = static_cast<uint8_t>(length);
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

std::vector<uint8_t> ReadWholeFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path.c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

}  // namespace qz410host
