// The input is a picture file, loaded as the preview loads it. Odd-sized
// inputs come from a source that seeks over the pixels the crop does not
// show and tells its length, as a file on disk does; even-sized ones from
// the default read-and-drop Skip, with no length known.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/FuzzTarget.h"
#include "fuzz/InputFile.h"
#include "imaging/PictureLoader.h"

namespace {

using namespace qz410;
using fuzz::InputFile;

// Whole pictures may take up to 256 MB; the fuzzer's memory limit would
// stop the run long before. A refused picture must come back as one that
// could not be created, which is also how a failing DIB section shows.
constexpr size_t kLargestPicture = size_t{16} << 20;

constexpr uint8_t kUnusedCropByte = 0xC3;

template <typename T>
T Load(const uint8_t* bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

class CappedAllocator final : public PictureAllocator {
public:
    uint8_t* AllocatePicture(const uint8_t* infoBlock, size_t infoSize, int32_t width, int32_t height,
                             size_t pixelBytes) noexcept override {
        ++calls;
        // The DIB section is made from the block: it must describe what is
        // asked for.
        QZ410_FUZZ_CHECK(infoBlock != nullptr && infoSize >= kBitmapInfoHeaderSize);
        const auto biSize = Load<uint32_t>(infoBlock, 0);
        QZ410_FUZZ_CHECK(biSize >= kBitmapInfoHeaderSize && biSize <= infoSize);
        QZ410_FUZZ_CHECK(Load<int32_t>(infoBlock, 4) == width && Load<int32_t>(infoBlock, 8) == height);
        QZ410_FUZZ_CHECK(Load<uint16_t>(infoBlock, 14) == 24 && Load<uint32_t>(infoBlock, 16) == 0);
        const int64_t rows = height < 0 ? -int64_t{height} : height;
        QZ410_FUZZ_CHECK(width > 0 && rows > 0);
        QZ410_FUZZ_CHECK(static_cast<int64_t>(pixelBytes) == ((3 * int64_t{width} + 3) & ~int64_t{3}) * rows);
        requested = pixelBytes;
        if (pixelBytes > kLargestPicture) {
            refused = true;
            return nullptr;
        }
        return inner.AllocatePicture(infoBlock, infoSize, width, height, pixelBytes);
    }

    HeapPictureAllocator inner;
    int calls = 0;
    size_t requested = 0;
    bool refused = false;
};

// The file's pixel byte at `offset` from bfOffBits as the loader must show
// it: what the file holds of the first bfSize - bfOffBits - 2 bytes (of all
// of it when bfSize announces less than nothing), zero for everything else.
uint8_t FileByte(const uint8_t* data, size_t size, uint32_t offBits, int64_t pixelCount, int64_t offset) {
    if (offset < 0 || offset >= pixelCount) return 0;
    const uint64_t at = uint64_t{offBits} + static_cast<uint64_t>(offset);
    return at < size ? data[at] : 0;
}

// Whether the file leaves out more of a whole picture than the loader lets
// it: the bytes of the picture that neither bfSize nor the file supply.
bool LacksTooMuch(size_t size, int32_t fileWidth, int32_t fileHeight, uint32_t offBits, int64_t pixelCount) {
    const int64_t rows = fileHeight < 0 ? -int64_t{fileHeight} : fileHeight;
    const int64_t bytes = ((3 * int64_t{fileWidth} + 3) & ~int64_t{3}) * rows;
    const int64_t supplied =
        std::clamp<int64_t>(std::min<int64_t>(pixelCount, static_cast<int64_t>(size) - int64_t{offBits}), 0, bytes);
    return bytes - supplied > kMaxUnsuppliedPixelBytes;
}

void CheckPixels(const uint8_t* data, size_t size, const LoadedPicture& picture, int32_t fileWidth,
                 int32_t fileHeight, uint32_t offBits, int64_t pixelCount) {
    if (!picture.cropped) {
        const int64_t rows = fileHeight < 0 ? -int64_t{fileHeight} : fileHeight;
        const int64_t bytes = int64_t{picture.stride} * rows;
        // Pixel data straight from the file, the rest zero.
        const int64_t supplied =
            std::clamp<int64_t>(std::min<int64_t>(pixelCount, static_cast<int64_t>(size) - int64_t{offBits}), 0,
                                bytes);
        QZ410_FUZZ_CHECK(supplied == 0 || std::memcmp(picture.pixels, data + offBits, size_t(supplied)) == 0);
        QZ410_FUZZ_CHECK(std::all_of(picture.pixels + supplied, picture.pixels + bytes,
                                     [](uint8_t b) { return b == 0; }));
        return;
    }
    // The centre 192 x 192 of the file's rows, in storage order.
    const int64_t fileStride = (3 * int64_t{fileWidth} + 3) & ~int64_t{3};
    const int64_t y0 = int64_t{fileHeight} / 2 - kPreviewSide / 2;
    const int64_t x0 = int64_t{fileWidth} / 2 - kPreviewSide / 2;
    for (int64_t r = 0; r < kPreviewSide; ++r) {
        const uint8_t* row = picture.pixels + r * kPreviewCropStride;
        const int64_t first = (y0 + r) * fileStride + 3 * x0;
        for (int64_t i = 0; i < kPreviewCropStride; ++i)
            QZ410_FUZZ_CHECK(row[i] == FileByte(data, size, offBits, pixelCount, first + i));
    }
}

}  // namespace

QZ410_FUZZ_TARGET(PictureLoader) {
    InputFile file(data, size, size % 2 == 1);
    CappedAllocator allocator;
    std::vector<uint8_t> cropBuffer(kPreviewCropBufferSize, kUnusedCropByte);

    const LoadedPicture picture = LoadPreviewPicture(file, allocator, cropBuffer);

    QZ410_FUZZ_CHECK(file.farthest <= size);
    QZ410_FUZZ_CHECK(DescribePictureProblem(picture.problem) != nullptr);
    QZ410_FUZZ_CHECK(allocator.calls <= 1);
    QZ410_FUZZ_CHECK(allocator.refused == (picture.problem == PictureProblem::pictureNotCreated));
    // Only the first 110,592 bytes of the page's buffer are the crop's.
    QZ410_FUZZ_CHECK(std::all_of(cropBuffer.begin() + kPreviewCropBytes, cropBuffer.end(),
                                 [](uint8_t b) { return b == kUnusedCropByte; }));

    if (picture.problem == PictureProblem::pixelDataMissing) {
        // Only a whole picture of a complete header is refused for what it
        // lacks, and only when it lacks that much.
        QZ410_FUZZ_CHECK(picture.pixels == nullptr && size >= kBitmapFileHeaderSize + kBitmapInfoHeaderSize);
        const uint32_t offBits = Load<uint32_t>(data, 10);
        const auto fileWidth = Load<int32_t>(data, kBitmapFileHeaderSize + 4);
        const auto fileHeight = Load<int32_t>(data, kBitmapFileHeaderSize + 8);
        QZ410_FUZZ_CHECK(fileWidth > 0 && fileHeight != 0 && (fileWidth <= kPreviewSide || fileHeight <= kPreviewSide));
        const int64_t announced = int64_t{Load<uint32_t>(data, 2)} - int64_t{offBits} - 2;
        QZ410_FUZZ_CHECK(LacksTooMuch(size, fileWidth, fileHeight, offBits, announced >= 0 ? announced : INT64_MAX));
        return 0;
    }
    if (!picture.Usable()) {
        QZ410_FUZZ_CHECK(picture.pixels == nullptr);
        // Refused before the pixels: nothing past the info block was read.
        if (size >= kBitmapFileHeaderSize) {
            const uint32_t offBits = Load<uint32_t>(data, 10);
            QZ410_FUZZ_CHECK(file.farthest <= std::max<uint64_t>(kBitmapFileHeaderSize, offBits));
        }
        return 0;
    }

    // A usable picture had a complete 24-bit uncompressed header.
    QZ410_FUZZ_CHECK(size >= kBitmapFileHeaderSize + kBitmapInfoHeaderSize);
    QZ410_FUZZ_CHECK(data[0] == 'B' && data[1] == 'M');
    const uint32_t bfSize = Load<uint32_t>(data, 2);
    const uint32_t offBits = Load<uint32_t>(data, 10);
    QZ410_FUZZ_CHECK(offBits >= kBitmapFileHeaderSize + kBitmapInfoHeaderSize && offBits <= size);
    const uint8_t* fileInfo = data + kBitmapFileHeaderSize;
    const auto fileWidth = Load<int32_t>(fileInfo, 4);
    const auto fileHeight = Load<int32_t>(fileInfo, 8);
    QZ410_FUZZ_CHECK(Load<uint16_t>(fileInfo, 14) == 24 && Load<uint32_t>(fileInfo, 16) == 0);
    QZ410_FUZZ_CHECK(fileWidth > 0 && fileHeight != 0);
    const int64_t announced = int64_t{bfSize} - int64_t{offBits} - 2;
    const int64_t pixelCount = announced >= 0 ? announced : INT64_MAX;

    QZ410_FUZZ_CHECK(picture.pixels != nullptr && picture.pixels == allocator.inner.pixels.data());
    QZ410_FUZZ_CHECK(allocator.calls == 1);

    // The info block as the file has it, but for a crop's new size.
    QZ410_FUZZ_CHECK(picture.infoBlock.size() == offBits - kBitmapFileHeaderSize);
    std::vector<uint8_t> expectedInfo(fileInfo, data + offBits);
    if (picture.cropped) {
        const uint32_t crop[3] = {kBitmapInfoHeaderSize, kPreviewSide, kPreviewSide};
        std::memcpy(expectedInfo.data(), crop, sizeof crop);
    }
    QZ410_FUZZ_CHECK(std::equal(picture.infoBlock.begin(), picture.infoBlock.end(), expectedInfo.begin(),
                                expectedInfo.end()));
    QZ410_FUZZ_CHECK(Load<int32_t>(picture.infoBlock.data(), 4) == picture.width);
    QZ410_FUZZ_CHECK(Load<int32_t>(picture.infoBlock.data(), 8) == picture.height);

    QZ410_FUZZ_CHECK(picture.stride == ((3 * int64_t{picture.width} + 3) & ~int64_t{3}));
    QZ410_FUZZ_CHECK(picture.cropped == (fileWidth > kPreviewSide && fileHeight > kPreviewSide));
    const int64_t fileStride = (3 * int64_t{fileWidth} + 3) & ~int64_t{3};
    int64_t lastNeeded;  // one past the last pixel byte the picture shows
    if (picture.cropped) {
        QZ410_FUZZ_CHECK(picture.width == kPreviewSide && picture.height == kPreviewSide);
        QZ410_FUZZ_CHECK(picture.stride == kPreviewCropStride);
        QZ410_FUZZ_CHECK(allocator.requested == kPreviewCropBytes);
        const int64_t y0 = int64_t{fileHeight} / 2 - kPreviewSide / 2;
        const int64_t x0 = int64_t{fileWidth} / 2 - kPreviewSide / 2;
        lastNeeded = (y0 + kPreviewSide - 1) * fileStride + 3 * x0 + kPreviewCropStride;
    } else {
        QZ410_FUZZ_CHECK(picture.width == fileWidth && picture.height == fileHeight);
        const int64_t rows = fileHeight < 0 ? -int64_t{fileHeight} : fileHeight;
        lastNeeded = fileStride * rows;
        QZ410_FUZZ_CHECK(static_cast<int64_t>(allocator.requested) == lastNeeded);
        QZ410_FUZZ_CHECK(!LacksTooMuch(size, fileWidth, fileHeight, offBits, pixelCount));
    }
    // Never the two bytes bfSize announces last, never beyond the picture.
    QZ410_FUZZ_CHECK(file.farthest <= offBits + static_cast<uint64_t>(std::min(pixelCount, lastNeeded)));

    CheckPixels(data, size, picture, fileWidth, fileHeight, offBits, pixelCount);
    return 0;
}
