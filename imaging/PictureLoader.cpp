#include "imaging/PictureLoader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/Dib.h"
#include "settings/RawBytes.h"

namespace qz410 {

uint64_t ByteSource::Skip(uint64_t count) noexcept {
    uint8_t scratch[4096];
    uint64_t skipped = 0;
    while (skipped < count) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(count - skipped, sizeof scratch));
        const size_t got = Read(scratch, want);
        skipped += got;
        if (got < want) break;
    }
    return skipped;
}

uint8_t* HeapPictureAllocator::AllocatePicture(const uint8_t*, size_t, int32_t, int32_t, size_t pixelBytes) noexcept {
    pixels = HeapArray<uint8_t>::Allocate(pixelBytes);
    return pixels.data();
}

const char* DescribePictureProblem(PictureProblem problem) noexcept {
    switch (problem) {
    case PictureProblem::none: return "the picture is usable";
    case PictureProblem::notBitmap: return "the file is not a bitmap (it does not start with \"BM\")";
    case PictureProblem::truncatedFileHeader: return "the file ends inside its bitmap file header";
    case PictureProblem::infoBlockTooSmall: return "the pixel data offset leaves no room for a bitmap info header";
    case PictureProblem::truncatedInfoBlock: return "the file ends before its pixel data begins";
    case PictureProblem::notTrueColor: return "the bitmap is not a 24-bit true color bitmap";
    case PictureProblem::compressed: return "the bitmap is compressed";
    case PictureProblem::badHeaderSize: return "the bitmap info header has an invalid size";
    case PictureProblem::badWidth: return "the bitmap width is zero or negative";
    case PictureProblem::badHeight: return "the bitmap height is zero";
    case PictureProblem::pictureTooLarge: return "the bitmap is too large to be used whole";
    case PictureProblem::pixelDataMissing: return "the file holds too little of the bitmap's pixel data";
    case PictureProblem::noCropBuffer: return "no crop buffer for a picture larger than the preview";
    case PictureProblem::noMemory: return "out of memory for the bitmap header";
    case PictureProblem::pictureNotCreated: return "the working picture could not be created";
    }
    return "unknown problem";
}

namespace {

size_t ReadFully(ByteSource& source, uint8_t* destination, size_t count) {
    size_t done = 0;
    while (done < count) {
        const size_t got = source.Read(destination + done, count - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

// BITMAPINFOHEADER member offsets within the info block.
constexpr size_t kBiSize = 0;
constexpr size_t kBiWidth = 4;
constexpr size_t kBiHeight = 8;
constexpr size_t kBiBitCount = 14;
constexpr size_t kBiCompression = 16;

constexpr uint16_t kBitmapType = 0x4D42;  // "BM"

// The info block's first allocation: every real header, colour masks and
// table included, fits; only a block that the file really holds beyond it
// makes it grow.
constexpr uint64_t kFirstInfoStep = uint64_t{1} << 16;

// Reads the `size`-byte info block, growing its memory (doubling) only as
// the file keeps supplying bytes.
PictureProblem ReadInfoBlock(ByteSource& file, uint64_t size, HeapArray<uint8_t>& block) {
    uint64_t have = 0;
    while (have < size) {
        const uint64_t next = std::min(size, std::max(2 * have, kFirstInfoStep));
        if (!block.Resize(next)) return PictureProblem::noMemory;
        const auto want = static_cast<size_t>(next - have);
        const size_t got = ReadFully(file, block.data() + have, want);
        if (got < want) return PictureProblem::truncatedInfoBlock;
        have = next;
    }
    return PictureProblem::none;
}

// The pixel data as a stream of `limit` bytes that may only be walked
// forward. Copies what the file supplies and zeroes the rest, so no request
// ever depends on where the file ends.
class PixelStream {
public:
    PixelStream(ByteSource& source, int64_t limit) : source_(source), limit_(limit) {}

    // Fills `count` bytes from pixel offset `offset`, which lies at or past
    // every byte taken before.
    void Take(int64_t offset, uint8_t* destination, size_t count) {
        const int64_t end = std::min(offset + static_cast<int64_t>(count), limit_);
        size_t done = 0;
        if (!ended_ && offset < end) {
            if (position_ < offset) {
                const uint64_t gap = static_cast<uint64_t>(offset - position_);
                const uint64_t skipped = source_.Skip(gap);
                position_ += static_cast<int64_t>(skipped);
                ended_ = skipped < gap;
            }
            if (!ended_) {
                const size_t want = static_cast<size_t>(end - offset);
                done = ReadFully(source_, destination, want);
                position_ += static_cast<int64_t>(done);
                ended_ = done < want;
            }
        }
        std::memset(destination + done, 0, count - done);
    }

private:
    ByteSource& source_;
    int64_t limit_;
    int64_t position_ = 0;
    bool ended_ = false;
};

LoadedPicture Refuse(LoadedPicture picture, PictureProblem problem) {
    picture.problem = problem;
    picture.pixels = nullptr;
    return picture;
}

LoadedPicture LoadWhole(LoadedPicture picture, ByteSource& file, PictureAllocator& allocator, int64_t pixelCount) {
    const uint8_t* info = picture.infoBlock.data();
    // The DIB section is created from this block, so the header it describes
    // must lie inside it and be at least a BITMAPINFOHEADER.
    const uint32_t biSize = Load<uint32_t>(info, kBiSize);
    if (biSize < kBitmapInfoHeaderSize || biSize > picture.infoBlock.size()) {
        return Refuse(std::move(picture), PictureProblem::badHeaderSize);
    }
    const int64_t width = picture.width;
    const int64_t rows = picture.height < 0 ? -int64_t{picture.height} : int64_t{picture.height};
    const int64_t stride = DibStride(width);
    if (stride > kMaxWholePictureBytes || stride * rows > kMaxWholePictureBytes) {
        return Refuse(std::move(picture), PictureProblem::pictureTooLarge);
    }
    const int64_t bytes = stride * rows;
    // What the file can supply, as far as it is known before reading: the
    // pixel data that bfSize announces and what the source still holds.
    const int64_t wanted = std::min(pixelCount, bytes);
    const uint64_t remaining = file.Remaining();
    const int64_t available =
        remaining == ByteSource::kUnknownLength ? wanted : static_cast<int64_t>(std::min<uint64_t>(remaining, bytes));
    if (bytes - std::min(wanted, available) > kMaxUnsuppliedPixelBytes) {
        return Refuse(std::move(picture), PictureProblem::pixelDataMissing);
    }
    uint8_t* pixels = allocator.AllocatePicture(info, picture.infoBlock.size(), picture.width, picture.height,
                                                static_cast<size_t>(bytes));
    if (pixels == nullptr) return Refuse(std::move(picture), PictureProblem::pictureNotCreated);

    // A source that cannot tell its length finds its end here.
    const auto got = static_cast<int64_t>(ReadFully(file, pixels, static_cast<size_t>(wanted)));
    if (bytes - got > kMaxUnsuppliedPixelBytes) return Refuse(std::move(picture), PictureProblem::pixelDataMissing);
    std::memset(pixels + got, 0, static_cast<size_t>(bytes - got));
    picture.pixels = pixels;
    picture.stride = static_cast<int32_t>(stride);
    return picture;
}

LoadedPicture LoadCentre(LoadedPicture picture, ByteSource& file, PictureAllocator& allocator, int64_t pixelCount,
                         std::span<uint8_t> cropBuffer) {
    if (cropBuffer.size() < kPreviewCropBytes) return Refuse(std::move(picture), PictureProblem::noCropBuffer);

    // The whole file's rows are never held: each crop row is taken from its
    // place in the pixel data, everything before it passed over.
    const int64_t width = picture.width;
    const int64_t fileStride = DibStride(width);
    const int64_t y0 = int64_t{picture.height} / 2 - kPreviewSide / 2;
    const int64_t x0 = width / 2 - kPreviewSide / 2;
    // Every crop row lies inside the picture's fileStride x height bytes, so
    // that bound (which can pass 2^63 for absurd headers) needs no check.
    PixelStream pixels(file, pixelCount);
    for (int64_t r = 0; r < kPreviewSide; ++r) {
        pixels.Take((y0 + r) * fileStride + 3 * x0, cropBuffer.data() + r * kPreviewCropStride,
                    kPreviewCropStride);
    }

    uint8_t* info = picture.infoBlock.data();
    Store<uint32_t>(info, kBiSize, kBitmapInfoHeaderSize);
    Store<int32_t>(info, kBiWidth, kPreviewSide);
    Store<int32_t>(info, kBiHeight, kPreviewSide);
    uint8_t* working =
        allocator.AllocatePicture(info, picture.infoBlock.size(), kPreviewSide, kPreviewSide, kPreviewCropBytes);
    if (working == nullptr) return Refuse(std::move(picture), PictureProblem::pictureNotCreated);
    std::memcpy(working, cropBuffer.data(), kPreviewCropBytes);

    picture.pixels = working;
    picture.width = kPreviewSide;
    picture.height = kPreviewSide;
    picture.stride = static_cast<int32_t>(kPreviewCropStride);
    picture.cropped = true;
    return picture;
}

}  // namespace

LoadedPicture LoadPreviewPicture(ByteSource& file, PictureAllocator& allocator,
                                 std::span<uint8_t> cropBuffer) noexcept {
    LoadedPicture picture;

    uint8_t header[kBitmapFileHeaderSize];
    const size_t headerRead = ReadFully(file, header, sizeof header);
    if (headerRead >= 2 && Load<uint16_t>(header, 0) != kBitmapType) {
        return Refuse(std::move(picture), PictureProblem::notBitmap);
    }
    if (headerRead < sizeof header) return Refuse(std::move(picture), PictureProblem::truncatedFileHeader);
    const uint32_t bfSize = Load<uint32_t>(header, 2);
    const uint32_t bfOffBits = Load<uint32_t>(header, 10);

    const int64_t infoSize = int64_t{bfOffBits} - int64_t{kBitmapFileHeaderSize};
    if (infoSize < static_cast<int64_t>(kBitmapInfoHeaderSize)) {
        return Refuse(std::move(picture), PictureProblem::infoBlockTooSmall);
    }
    const PictureProblem infoProblem = ReadInfoBlock(file, static_cast<uint64_t>(infoSize), picture.infoBlock);
    if (infoProblem != PictureProblem::none) return Refuse(std::move(picture), infoProblem);

    const uint8_t* info = picture.infoBlock.data();
    if (Load<uint16_t>(info, kBiBitCount) != 24) return Refuse(std::move(picture), PictureProblem::notTrueColor);
    // A 24-bit DIB section exists only uncompressed; refusing here keeps the
    // tools in step with what the renderer can create.
    if (Load<uint32_t>(info, kBiCompression) != 0) return Refuse(std::move(picture), PictureProblem::compressed);
    picture.width = Load<int32_t>(info, kBiWidth);
    picture.height = Load<int32_t>(info, kBiHeight);
    if (picture.width <= 0) return Refuse(std::move(picture), PictureProblem::badWidth);
    if (picture.height == 0) return Refuse(std::move(picture), PictureProblem::badHeight);

    // Two bytes fewer than bfSize announces; both fields are unsigned 32-bit,
    // so the difference is taken in 64 bits. A negative one announces
    // nothing (many writers leave bfSize at 0): then only the picture's size
    // and the file's end bound the read.
    const int64_t announced = int64_t{bfSize} - int64_t{bfOffBits} - 2;
    const int64_t pixelCount = announced >= 0 ? announced : INT64_MAX;

    // A negative (top-down) height counts as a side of 192 or less.
    if (picture.height <= kPreviewSide || picture.width <= kPreviewSide) {
        return LoadWhole(std::move(picture), file, allocator, pixelCount);
    }
    return LoadCentre(std::move(picture), file, allocator, pixelCount, cropBuffer);
}

}  // namespace qz410
