#include "imaging/PictureLoader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <tuple>
#include <vector>

#include "core/MemorySource.h"
#include "core/TestBitmaps.h"

namespace qz410 {
namespace {

using test::BmpLayout;
using test::MemorySource;
using test::MakeBmp;
using test::PatternByte;
using test::Stride;

// A file too large to hold: a real header followed by pattern pixel rows that
// are computed on demand, for any position.
class SyntheticSource final : public ByteSource {
public:
    SyntheticSource(int32_t width, int32_t height, uint32_t bfSize)
        : header_(MakeBmp({.width = 1, .height = 1})), stride_(Stride(width)), width_(width) {
        test::Put<uint32_t>(header_, 2, bfSize);
        test::Put<int32_t>(header_, 18, width);
        test::Put<int32_t>(header_, 22, height);
        header_.resize(54);
    }

    size_t Read(void* destination, size_t count) noexcept override {
        largestRead = std::max(largestRead, count);
        auto* out = static_cast<uint8_t*>(destination);
        for (size_t i = 0; i < count; ++i, ++position_) {
            if (position_ < 54) {
                out[i] = header_[position_];
            } else {
                const int64_t q = static_cast<int64_t>(position_) - 54;
                const int64_t rowByte = q % stride_;
                out[i] = rowByte < 3 * width_ ? PatternByte(rowByte / 3, q / stride_, static_cast<int>(rowByte % 3))
                                              : test::kRowFiller;
            }
        }
        bytesRead += count;
        return count;
    }

    uint64_t Skip(uint64_t count) noexcept override {
        position_ += count;
        return count;
    }

    size_t largestRead = 0;
    uint64_t bytesRead = 0;

private:
    std::vector<uint8_t> header_;
    uint64_t position_ = 0;
    int64_t stride_;
    int64_t width_;
};

// Hands out vector memory but remembers every request; can refuse big ones.
class RecordingAllocator final : public PictureAllocator {
public:
    uint8_t* AllocatePicture(const uint8_t* infoBlock, size_t infoSize, int32_t width, int32_t height,
                             size_t pixelBytes) noexcept override {
        requests.push_back(pixelBytes);
        info.assign(infoBlock, infoBlock + infoSize);
        this->width = width;
        this->height = height;
        if (refuse || pixelBytes > kMaxTestAllocation) return nullptr;
        // Garbage, not zeros: whatever the file does not supply must be
        // cleared by the loader itself, as a DIB section need not be.
        pixels.assign(pixelBytes, 0xEE);
        return pixels.data();
    }

    static constexpr size_t kMaxTestAllocation = size_t{64} << 20;
    bool refuse = false;
    std::vector<size_t> requests;
    std::vector<uint8_t> info;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

struct Loaded {
    LoadedPicture picture;
    RecordingAllocator allocator;
    std::vector<uint8_t> cropBuffer = std::vector<uint8_t>(kPreviewCropBufferSize, 0x77);
};

// Loads through a seeking memory source; the Loaded record keeps the memory.
std::unique_ptr<Loaded> Load(const std::vector<uint8_t>& file, bool seeks = true) {
    auto loaded = std::make_unique<Loaded>();
    MemorySource source(file, seeks);
    loaded->picture = LoadPreviewPicture(source, loaded->allocator, loaded->cropBuffer);
    return loaded;
}

PictureProblem ProblemOf(const BmpLayout& layout) { return Load(MakeBmp(layout))->picture.problem; }

std::vector<uint8_t> Bytes(const HeapArray<uint8_t>& array) { return {array.begin(), array.end()}; }

// Compares the working picture with the pattern: working pixel (x, y) must be
// file pixel (x0 + x, y0 + y).
void ExpectPatternAt(const LoadedPicture& picture, int64_t x0, int64_t y0) {
    const int64_t rows = std::abs(int64_t{picture.height});
    int mismatches = 0;
    for (int64_t y = 0; y < rows && mismatches < 5; ++y) {
        for (int64_t x = 0; x < picture.width && mismatches < 5; ++x) {
            for (int c = 0; c < 3; ++c) {
                const uint8_t got = picture.pixels[y * picture.stride + 3 * x + c];
                if (got != PatternByte(x0 + x, y0 + y, c)) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << int{got};
                    ++mismatches;
                }
            }
        }
    }
}

TEST(PictureLoaderTest, SidesOf192OrLessAreUsedWholeAsStored) {
    for (auto [w, h] : {std::pair{192, 192}, {1000, 50}, {100, 100}, {50, 1000}, {1, 1}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        const auto file = MakeBmp({.width = w, .height = h, .infoSize = 64});
        const auto loaded = Load(file);
        const LoadedPicture& p = loaded->picture;
        ASSERT_TRUE(p.Usable()) << DescribePictureProblem(p.problem);
        EXPECT_FALSE(p.cropped);
        EXPECT_EQ(p.width, w);
        EXPECT_EQ(p.height, h);
        EXPECT_EQ(p.stride, Stride(w));
        // The info block goes to the DIB section exactly as read.
        EXPECT_EQ(Bytes(p.infoBlock), std::vector<uint8_t>(file.begin() + 14, file.begin() + 78));
        EXPECT_EQ(loaded->allocator.info, Bytes(p.infoBlock));
        EXPECT_THAT(loaded->allocator.requests, testing::ElementsAre(Stride(w) * h));
        // The pixel bytes straight from the file, row filler included, save
        // the last two, which are never read.
        const size_t n = loaded->allocator.pixels.size();
        EXPECT_TRUE(std::equal(file.begin() + 78, file.end() - 2, p.pixels));
        EXPECT_EQ(p.pixels[n - 2], 0);
        EXPECT_EQ(p.pixels[n - 1], 0);
    }
}

TEST(PictureLoaderTest, TheLastTwoAnnouncedBytesAreNeverRead) {
    // 4 pixels wide: no row filler, so the two bytes are red and green of the
    // last pixel of the last row.
    auto file = MakeBmp({.width = 4, .height = 3});
    MemorySource source(file);
    RecordingAllocator allocator;
    const LoadedPicture p = LoadPreviewPicture(source, allocator, {});
    ASSERT_TRUE(p.Usable());
    EXPECT_EQ(source.position(), file.size() - 2);
    EXPECT_EQ(p.pixels[35], 0);
    EXPECT_EQ(p.pixels[34], 0);
    EXPECT_EQ(p.pixels[33], PatternByte(3, 2, 0));

    // A bfSize two bytes beyond the data gives the whole picture; one far
    // beyond still reads no more than the picture holds.
    for (int64_t extra : {2, 1000}) {
        const auto loaded = Load(MakeBmp({.width = 4, .height = 3, .bfSizeExtra = extra}));
        ASSERT_TRUE(loaded->picture.Usable());
        ExpectPatternAt(loaded->picture, 0, 0);
    }
}

TEST(PictureLoaderTest, LargerPicturesAreCutToTheirCentreInStorageOrder) {
    struct Case {
        int32_t w, h;
        int64_t x0, y0;
    };
    for (const Case& c : {Case{193, 193, 0, 0}, Case{501, 400, 154, 104}, Case{1201, 901, 504, 354}}) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
        const auto file = MakeBmp({.width = c.w, .height = c.h, .biSize = 108, .infoSize = 108});
        const auto loaded = Load(file);
        const LoadedPicture& p = loaded->picture;
        ASSERT_TRUE(p.Usable()) << DescribePictureProblem(p.problem);
        EXPECT_TRUE(p.cropped);
        EXPECT_EQ(p.width, 192);
        EXPECT_EQ(p.height, 192);
        EXPECT_EQ(p.stride, 576);
        ExpectPatternAt(p, c.x0, c.y0);
        // The crop went through the page's buffer; its tail is not touched.
        EXPECT_TRUE(std::equal(p.pixels, p.pixels + kPreviewCropBytes, loaded->cropBuffer.begin()));
        EXPECT_EQ(loaded->cropBuffer[kPreviewCropBytes], 0x77);
        EXPECT_THAT(loaded->allocator.requests, testing::ElementsAre(kPreviewCropBytes));

        // Header rewritten for the crop, everything else as read.
        std::vector<uint8_t> expectedInfo(file.begin() + 14, file.begin() + 14 + 108);
        test::Put<uint32_t>(expectedInfo, 0, 40);
        test::Put<int32_t>(expectedInfo, 4, 192);
        test::Put<int32_t>(expectedInfo, 8, 192);
        EXPECT_EQ(Bytes(p.infoBlock), expectedInfo);
        EXPECT_EQ(loaded->allocator.info, expectedInfo);
    }
}

TEST(PictureLoaderTest, CropReadsOnlyWhatItShows) {
    const auto file = MakeBmp({.width = 2000, .height = 1500});
    MemorySource seeking(file);
    RecordingAllocator a1;
    std::vector<uint8_t> crop1(kPreviewCropBufferSize);
    const LoadedPicture p1 = LoadPreviewPicture(seeking, a1, crop1);
    ASSERT_TRUE(p1.Usable());
    EXPECT_EQ(seeking.bytesRead, 14 + 40 + kPreviewCropBytes);
    // Stops after the last crop row: nothing above it is even passed over.
    EXPECT_EQ(seeking.position(), 54 + (654 + 191) * Stride(2000) + 3 * 904 + 576);

    // Without a cheap skip the rows below are read and dropped through a
    // small buffer: more time, never more memory, and the same picture.
    MemorySource streaming(file, /*seeks=*/false);
    RecordingAllocator a2;
    std::vector<uint8_t> crop2(kPreviewCropBufferSize);
    const LoadedPicture p2 = LoadPreviewPicture(streaming, a2, crop2);
    ASSERT_TRUE(p2.Usable());
    EXPECT_LE(streaming.largestRead, 4096u);
    EXPECT_EQ(streaming.position(), seeking.position());
    EXPECT_EQ(a2.pixels, a1.pixels);
}

TEST(PictureLoaderTest, HugeHeadersNeitherAllocateNorWrap) {
    {
        // Fits bfSize: the crop comes from 0.6 GB into the data, of which
        // 192 rows of 576 bytes are read.
        SyntheticSource source(20000, 20000, 0xFFFFFFFF);
        RecordingAllocator allocator;
        std::vector<uint8_t> crop(kPreviewCropBufferSize);
        const LoadedPicture p = LoadPreviewPicture(source, allocator, crop);
        ASSERT_TRUE(p.Usable()) << DescribePictureProblem(p.problem);
        EXPECT_THAT(allocator.requests, testing::ElementsAre(kPreviewCropBytes));
        EXPECT_EQ(source.bytesRead, 54 + kPreviewCropBytes);
        EXPECT_LE(source.largestRead, 576u);
        ExpectPatternAt(p, 9904, 9904);
    }
    {
        // 100000 x 100000 is 30 GB of pixels, past what bfSize can announce:
        // the centre lies beyond the count and stays black, nothing is read.
        SyntheticSource source(100000, 100000, 0xFFFFFFFF);
        RecordingAllocator allocator;
        std::vector<uint8_t> crop(kPreviewCropBufferSize);
        const LoadedPicture p = LoadPreviewPicture(source, allocator, crop);
        ASSERT_TRUE(p.Usable());
        EXPECT_THAT(allocator.requests, testing::ElementsAre(kPreviewCropBytes));
        EXPECT_EQ(source.bytesRead, 54u);
        EXPECT_TRUE(std::all_of(p.pixels, p.pixels + kPreviewCropBytes, [](uint8_t b) { return b == 0; }));
    }
    {
        // The largest widths and heights a header can hold.
        SyntheticSource source(0x7FFFFFFF, 0x7FFFFFFF, 0xFFFFFFFF);
        RecordingAllocator allocator;
        std::vector<uint8_t> crop(kPreviewCropBufferSize);
        EXPECT_TRUE(LoadPreviewPicture(source, allocator, crop).Usable());
        EXPECT_THAT(allocator.requests, testing::ElementsAre(kPreviewCropBytes));
    }
}

TEST(PictureLoaderTest, WholePicturesAreBoundedInSize) {
    // Sizes are worked in 64 bits: asked for exactly, never wrapped.
    for (auto [w, h, bytes] : {std::tuple{100000, 192, int64_t{300000} * 192},
                               std::tuple{5000000, 10, int64_t{15000000} * 10}}) {
        SyntheticSource source(w, h, 0xFFFFFFFF);
        RecordingAllocator allocator;
        allocator.refuse = true;
        EXPECT_EQ(LoadPreviewPicture(source, allocator, {}).problem, PictureProblem::pictureNotCreated);
        EXPECT_THAT(allocator.requests, testing::ElementsAre(bytes));
    }
    for (auto [w, h] : {std::pair{192, 0x7FFFFFFF}, {0x7FFFFFFF, 1}, {100, INT32_MIN}, {30000000, 3}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        SyntheticSource source(w, h, 0xFFFFFFFF);
        RecordingAllocator allocator;
        EXPECT_EQ(LoadPreviewPicture(source, allocator, {}).problem, PictureProblem::pictureTooLarge);
        EXPECT_TRUE(allocator.requests.empty());
    }
}

TEST(PictureLoaderTest, AWholePictureMayLackNoMoreThanOnePreviewOfPixelData) {
    // Only the headers, announcing a picture the file does not hold.
    auto headersOnly = [](int32_t width, int32_t height, uint32_t bfSize) {
        std::vector<uint8_t> file = MakeBmp({.width = 1, .height = 1});
        test::Put<uint32_t>(file, 2, bfSize);
        test::Put<int32_t>(file, 18, width);
        test::Put<int32_t>(file, 22, height);
        file.resize(54);
        return file;
    };
    const int64_t tall = Stride(192) * 2000;  // 1,152,000 bytes of pixels
    const int64_t most = static_cast<int64_t>(kMaxUnsuppliedPixelBytes);
    using enum PictureProblem;
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        // With a source that tells its length, and with one that must be
        // read to its end: the answer and the pictures asked for.
        PictureProblem known, unknown;
        size_t requestsKnown, requestsUnknown;
    };
    const Case cases[] = {
        // 259 MB announced: a picture that large is asked for only when the
        // length is unknown, and the test's allocator refuses it.
        {"54 bytes announcing 192 x 450,000", headersOnly(192, 450000, 54), pixelDataMissing, pictureNotCreated, 0, 1},
        {"54 bytes announcing 192 x 20,000", headersOnly(192, 20000, 0), pixelDataMissing, pixelDataMissing, 0, 1},
        {"192 x 2000 complete", MakeBmp({.width = 192, .height = 2000}), none, none, 1, 1},
        {"192 x 2000, bfSize 0", MakeBmp({.width = 192, .height = 2000, .overrideBfSize = true, .bfSize = 0}), none,
         none, 1, 1},
        {"192 x 2000 without the last two bytes", MakeBmp({.width = 192, .height = 2000, .truncateTo = 54 + tall - 2}),
         none, none, 1, 1},
        {"192 x 2000 lacking one preview", MakeBmp({.width = 192, .height = 2000, .truncateTo = 54 + tall - most}),
         none, none, 1, 1},
        {"192 x 2000 lacking a byte more", MakeBmp({.width = 192, .height = 2000, .truncateTo = 53 + tall - most}),
         pixelDataMissing, pixelDataMissing, 0, 1},
        {"192 x 2000 whose bfSize announces too little",
         MakeBmp({.width = 192, .height = 2000, .bfSizeExtra = 1 - most}), pixelDataMissing, pixelDataMissing, 0, 0},
        {"10 x 5 without any pixel data", MakeBmp({.width = 10, .height = 5, .truncateTo = 54}), none, none, 1, 1},
    };
    for (const Case& c : cases) {
        for (bool knowsLength : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.what << (knowsLength ? ", length known" : ", read to its end"));
            MemorySource source(c.file, /*seeks=*/true, knowsLength);
            RecordingAllocator allocator;
            std::vector<uint8_t> crop(kPreviewCropBufferSize);
            const LoadedPicture p = LoadPreviewPicture(source, allocator, crop);
            EXPECT_EQ(p.problem, knowsLength ? c.known : c.unknown) << DescribePictureProblem(p.problem);
            EXPECT_EQ(allocator.requests.size(), knowsLength ? c.requestsKnown : c.requestsUnknown);
            EXPECT_LE(source.bytesRead, c.file.size());
            if (!p.Usable()) {
                EXPECT_EQ(p.pixels, nullptr);
                continue;
            }
            // What the file and bfSize supply, then black.
            uint32_t bfSize;
            std::memcpy(&bfSize, c.file.data() + 2, 4);
            size_t supplied = std::min(c.file.size() - 54, allocator.pixels.size());
            if (bfSize >= 56) supplied = std::min<size_t>(supplied, bfSize - 56);
            EXPECT_TRUE(std::equal(c.file.begin() + 54, c.file.begin() + 54 + supplied, p.pixels));
            EXPECT_TRUE(std::all_of(p.pixels + supplied, p.pixels + allocator.pixels.size(),
                                    [](uint8_t b) { return b == 0; }));
        }
    }
}

TEST(PictureLoaderTest, TopDownPicturesAreUsedWhole) {
    const auto loaded = Load(MakeBmp({.width = 300, .height = -250, .bfSizeExtra = 2}));
    const LoadedPicture& p = loaded->picture;
    ASSERT_TRUE(p.Usable());
    EXPECT_FALSE(p.cropped);
    EXPECT_EQ(p.width, 300);
    EXPECT_EQ(p.height, -250);
    EXPECT_EQ(loaded->allocator.height, -250);
    EXPECT_THAT(loaded->allocator.requests, testing::ElementsAre(900 * 250));
    ExpectPatternAt(p, 0, 0);
}

TEST(PictureLoaderTest, MissingPixelDataIsBlack) {
    // Cut in the middle of row 2 of a whole picture.
    const int64_t cut = 54 + 2 * Stride(10) + 7;
    const auto whole = Load(MakeBmp({.width = 10, .height = 5, .truncateTo = cut}));
    ASSERT_TRUE(whole->picture.Usable());
    const auto& px = whole->allocator.pixels;
    EXPECT_EQ(px[2 * Stride(10) + 6], PatternByte(2, 2, 0));
    EXPECT_TRUE(std::all_of(px.begin() + (cut - 54), px.end(), [](uint8_t b) { return b == 0; }));

    // bfSize that stops short of the data works the same way.
    const auto shortCount = Load(MakeBmp({.width = 10, .height = 5, .bfSizeExtra = (cut - 54) + 2 - 5 * 32}));
    ASSERT_TRUE(shortCount->picture.Usable());
    EXPECT_EQ(shortCount->allocator.pixels, px);

    // Cut inside the crop: rows after the cut are black, rows before intact.
    const int64_t stride = Stride(400);
    const auto crop = Load(MakeBmp({.width = 400, .height = 400, .truncateTo = 54 + (104 + 100) * stride}));
    ASSERT_TRUE(crop->picture.Usable());
    const uint8_t* p = crop->picture.pixels;
    EXPECT_EQ(p[99 * 576], PatternByte(104, 203, 0));
    EXPECT_TRUE(std::all_of(p + 100 * 576, p + kPreviewCropBytes, [](uint8_t b) { return b == 0; }));

    // A count of exactly zero: a black picture, but a usable one.
    const auto none = Load(MakeBmp({.width = 8, .height = 8, .overrideBfSize = true, .bfSize = 56}));
    ASSERT_TRUE(none->picture.Usable());
    EXPECT_TRUE(std::all_of(none->allocator.pixels.begin(), none->allocator.pixels.end(),
                            [](uint8_t b) { return b == 0; }));
}

TEST(PictureLoaderTest, RefusesWhatTheRendererCannotShow) {
    EXPECT_EQ(ProblemOf({.bitCount = 8}), PictureProblem::notTrueColor);
    EXPECT_EQ(ProblemOf({.bitCount = 32}), PictureProblem::notTrueColor);
    EXPECT_EQ(ProblemOf({.type = {'B', 'A'}}), PictureProblem::notBitmap);
    EXPECT_EQ(ProblemOf({.type = {'M', 'B'}}), PictureProblem::notBitmap);
    EXPECT_EQ(ProblemOf({.compression = 1}), PictureProblem::compressed);
    EXPECT_EQ(ProblemOf({.width = 0}), PictureProblem::badWidth);
    EXPECT_EQ(ProblemOf({.width = -5}), PictureProblem::badWidth);
    EXPECT_EQ(ProblemOf({.height = 0}), PictureProblem::badHeight);
    // A BITMAPCOREHEADER size would make the DIB section read 16-bit sizes;
    // a header size past the block would make it read beyond it.
    EXPECT_EQ(ProblemOf({.biSize = 12}), PictureProblem::badHeaderSize);
    EXPECT_EQ(ProblemOf({.biSize = 124, .infoSize = 108}), PictureProblem::badHeaderSize);
    EXPECT_EQ(ProblemOf({.biSize = 124, .infoSize = 124}), PictureProblem::none);
    // The crop writes its own header, so only the whole picture is checked.
    EXPECT_EQ(ProblemOf({.width = 200, .height = 200, .biSize = 12}), PictureProblem::none);
}

TEST(PictureLoaderTest, ASizeFieldThatAnnouncesNothingLeavesThePictureToItsOwnSize) {
    // bfSize 0 (as many writers leave it) or anything below bfOffBits + 2:
    // the file's pixel bytes up to the picture's size, nothing past them,
    // zeros where the file ends early.
    struct Case {
        int32_t width, height;
        uint32_t bfSize;
        int64_t cut;  // file length; -1 complete, plus 100 bytes of trailer
    };
    const int64_t small = Stride(10) * 5;  // 160
    for (const Case& c : {Case{10, 5, 0, -1}, Case{10, 5, 55, -1}, Case{10, 5, 1, -1}, Case{10, 5, 0, 54 + 71},
                          Case{10, 5, 0, 54}, Case{300, 300, 0, -1}, Case{300, 300, 55, -1},
                          Case{300, 300, 0, 54 + 150 * Stride(300)}}) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " bfSize " << c.bfSize << " cut " << c.cut);
        auto file = MakeBmp({.width = c.width, .height = c.height, .overrideBfSize = true, .bfSize = c.bfSize,
                             .truncateTo = c.cut});
        const int64_t pictureBytes = Stride(c.width) * c.height;
        if (c.cut < 0) file.resize(file.size() + 100, 0x5A);
        MemorySource source(file, /*seeks=*/false);
        RecordingAllocator allocator;
        std::vector<uint8_t> crop(kPreviewCropBufferSize);
        const LoadedPicture p = LoadPreviewPicture(source, allocator, crop);
        ASSERT_TRUE(p.Usable()) << DescribePictureProblem(p.problem);
        const int64_t supplied = std::min<int64_t>(static_cast<int64_t>(file.size()) - 54, pictureBytes);
        if (!p.cropped) {
            EXPECT_EQ(source.position(), static_cast<size_t>(54 + supplied));
            ASSERT_EQ(allocator.pixels.size(), static_cast<size_t>(pictureBytes));
            EXPECT_TRUE(std::equal(file.begin() + 54, file.begin() + 54 + supplied, p.pixels));
            EXPECT_TRUE(std::all_of(p.pixels + supplied, p.pixels + pictureBytes, [](uint8_t b) { return b == 0; }));
        } else if (c.cut < 0) {
            ExpectPatternAt(p, 54, 54);
        } else {
            // Rows 150 and up of the file are missing: crop rows 96 and up.
            EXPECT_EQ(p.pixels[95 * 576], PatternByte(54, 149, 0));
            EXPECT_TRUE(std::all_of(p.pixels + 96 * 576, p.pixels + kPreviewCropBytes, [](uint8_t b) { return b == 0; }));
        }
    }
    // Every pixel is the one a correct bfSize gives; only the last row's two
    // filler bytes, which a correct bfSize leaves unread, come from the file.
    const auto correct = Load(MakeBmp({.width = 10, .height = 5}));
    const auto zero = Load(MakeBmp({.width = 10, .height = 5, .overrideBfSize = true, .bfSize = 0}));
    ASSERT_TRUE(zero->picture.Usable());
    std::vector<uint8_t> expected = correct->allocator.pixels;
    expected[small - 2] = expected[small - 1] = test::kRowFiller;
    EXPECT_EQ(zero->allocator.pixels, expected);
    // bfOffBits + 2 is a valid size: no pixel data at all, as announced.
    const auto none = Load(MakeBmp({.width = 10, .height = 5, .overrideBfSize = true, .bfSize = 56}));
    EXPECT_TRUE(std::all_of(none->allocator.pixels.begin(), none->allocator.pixels.end(),
                            [](uint8_t b) { return b == 0; }));
}

TEST(PictureLoaderTest, ShortFilesAndOffsetsNeverReadBeyondTheFile) {
    const auto good = MakeBmp({});
    for (size_t length : {0, 1, 2, 10, 13}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(Load(std::vector<uint8_t>(good.begin(), good.begin() + length))->picture.problem,
                  PictureProblem::truncatedFileHeader);
    }
    EXPECT_EQ(Load({'X'})->picture.problem, PictureProblem::truncatedFileHeader);
    EXPECT_EQ(Load({'X', 'Y', 'Z'})->picture.problem, PictureProblem::notBitmap);
    for (size_t length : {14, 30, 53}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(Load(std::vector<uint8_t>(good.begin(), good.begin() + length))->picture.problem,
                  PictureProblem::truncatedInfoBlock);
    }
    for (uint32_t offBits : {0u, 13u, 14u, 53u}) {
        SCOPED_TRACE(offBits);
        EXPECT_EQ(ProblemOf({.overrideBfOffBits = true, .bfOffBits = offBits}), PictureProblem::infoBlockTooSmall);
    }
    // An offset far beyond the file's end costs no more than the file holds.
    EXPECT_EQ(ProblemOf({.overrideBfOffBits = true, .bfOffBits = 0xFFFFFFFF}), PictureProblem::truncatedInfoBlock);
    // Blocks of any size that the file holds (an embedded colour profile, a
    // gap before the pixels) are taken whole.
    for (uint32_t infoSize : {200000u, (1u << 20) + 1}) {
        SCOPED_TRACE(infoSize);
        const auto file = MakeBmp({.infoSize = infoSize, .bfSizeExtra = 2});
        const auto loaded = Load(file);
        ASSERT_TRUE(loaded->picture.Usable());
        EXPECT_TRUE(std::equal(file.begin() + 14, file.begin() + 14 + infoSize, loaded->picture.infoBlock.begin(),
                               loaded->picture.infoBlock.end()));
        ExpectPatternAt(loaded->picture, 0, 0);
    }
}

TEST(PictureLoaderTest, NoWorkingPictureOrCropBuffer) {
    for (auto [w, h] : {std::pair{100, 100}, {300, 300}}) {
        RecordingAllocator allocator;
        allocator.refuse = true;
        MemorySource source(MakeBmp({.width = w, .height = h}));
        std::vector<uint8_t> crop(kPreviewCropBufferSize);
        const LoadedPicture p = LoadPreviewPicture(source, allocator, crop);
        EXPECT_EQ(p.problem, PictureProblem::pictureNotCreated);
        EXPECT_EQ(p.pixels, nullptr);
    }
    RecordingAllocator allocator;
    MemorySource large(MakeBmp({.width = 300, .height = 300}));
    EXPECT_EQ(LoadPreviewPicture(large, allocator, {}).problem, PictureProblem::noCropBuffer);
    EXPECT_TRUE(allocator.requests.empty());
    MemorySource small(MakeBmp({.width = 100, .height = 300}));
    EXPECT_TRUE(LoadPreviewPicture(small, allocator, {}).Usable());
}

}  // namespace
}  // namespace qz410
