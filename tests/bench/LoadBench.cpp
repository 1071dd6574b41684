// The preview reads its picture from disk on every redraw. These figures show
// that loading a picture larger than the preview costs the same for 200 x 200
// and for 6000 x 4000: only the centre crop is read, and nothing else is
// allocated. For contrast, the read-everything-then-crop way of the first
// renderer, and a source that cannot skip and so reads and drops the rows.
//
// Counters per load: read_B = bytes read from the source, skipped_B = bytes
// passed over without reading, alloc_B = heap bytes allocated.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "imaging/PictureLoader.h"

namespace {

std::atomic<uint64_t> allocatedBytes{0};

}  // namespace

// Counts every heap allocation of the program and the core (the link wraps
// malloc and realloc; new goes through malloc here); the loads are measured
// between two readings of the count.
extern "C" void* __real_malloc(size_t size);
extern "C" void* __real_realloc(void* p, size_t size);
extern "C" void* __wrap_malloc(size_t size) {
    allocatedBytes.fetch_add(size, std::memory_order_relaxed);
    return __real_malloc(size);
}
extern "C" void* __wrap_realloc(void* p, size_t size) {
    allocatedBytes.fetch_add(size, std::memory_order_relaxed);
    return __real_realloc(p, size);
}

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace qz410 {
namespace {

std::vector<uint8_t> MakeBmp(int32_t width, int32_t height) {
    const int64_t stride = (3 * int64_t{width} + 3) & ~int64_t{3};
    std::vector<uint8_t> bytes(54 + stride * height);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, static_cast<uint32_t>(bytes.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    bytes[26] = 1;
    bytes[28] = 24;
    for (size_t i = 54; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 >> 3);
    return bytes;
}

const std::vector<uint8_t>& Picture(int32_t width) {
    static std::map<int32_t, std::vector<uint8_t>> pictures;
    auto& p = pictures[width];
    if (p.empty()) p = MakeBmp(width, width == 200 ? 200 : 4000);
    return p;
}

class MemorySource final : public ByteSource {
public:
    MemorySource(const std::vector<uint8_t>& bytes, bool seeks) : bytes_(bytes), seeks_(seeks) {}

    size_t Read(void* destination, size_t count) noexcept override {
        const size_t n = std::min(count, bytes_.size() - std::min(position_, bytes_.size()));
        std::memcpy(destination, bytes_.data() + position_, n);
        position_ += n;
        read += n;
        return n;
    }

    uint64_t Skip(uint64_t count) noexcept override {
        if (!seeks_) return ByteSource::Skip(count);
        position_ += count;
        skipped += count;
        return count;
    }

    uint64_t read = 0;
    uint64_t skipped = 0;

private:
    const std::vector<uint8_t>& bytes_;
    size_t position_ = 0;
    bool seeks_;
};

// A real file, as the renderer reads it: sequential reads, forward seeks.
class FileSource final : public ByteSource {
public:
    explicit FileSource(std::FILE* file) : file_(file) {}

    size_t Read(void* destination, size_t count) noexcept override {
        const size_t n = std::fread(destination, 1, count, file_);
        read += n;
        return n;
    }

    uint64_t Skip(uint64_t count) noexcept override {
        if (fseeko(file_, static_cast<off_t>(count), SEEK_CUR) != 0) return 0;
        skipped += count;
        return count;
    }

    uint64_t read = 0;
    uint64_t skipped = 0;

private:
    std::FILE* file_;
};

template <typename Source>
void Report(benchmark::State& state, const Source& source, uint64_t allocated) {
    const double loads = static_cast<double>(state.iterations());
    state.counters["read_B"] = static_cast<double>(source.read) / loads;
    state.counters["skipped_B"] = static_cast<double>(source.skipped) / loads;
    state.counters["alloc_B"] = static_cast<double>(allocated) / loads;
}

void BM_LoadCrop(benchmark::State& state) {
    const auto& file = Picture(static_cast<int32_t>(state.range(0)));
    const bool seeks = state.range(1) != 0;
    std::vector<uint8_t> crop(kPreviewCropBufferSize);
    MemorySource totals(file, seeks);
    uint64_t allocated = 0;
    for (auto _ : state) {
        MemorySource source(file, seeks);
        HeapPictureAllocator allocator;
        const uint64_t before = allocatedBytes.load();
        LoadedPicture picture = LoadPreviewPicture(source, allocator, crop);
        allocated += allocatedBytes.load() - before;
        if (!picture.Usable() || !picture.cropped) state.SkipWithError("not cropped");
        benchmark::DoNotOptimize(picture.pixels);
        totals.read += source.read;
        totals.skipped += source.skipped;
    }
    Report(state, totals, allocated);
}
BENCHMARK(BM_LoadCrop)
    ->ArgNames({"width", "seeks"})
    ->Args({200, 1})
    ->Args({6000, 1})
    ->Args({200, 0})
    ->Args({6000, 0});

void BM_LoadCropFromFile(benchmark::State& state) {
    const auto& bytes = Picture(static_cast<int32_t>(state.range(0)));
    const auto path = std::filesystem::temp_directory_path() /
                      ("qz410-load-bench-" + std::to_string(state.range(0)) + ".bmp");
    {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    std::vector<uint8_t> crop(kPreviewCropBufferSize);
    FileSource totals(nullptr);
    uint64_t allocated = 0;
    for (auto _ : state) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        std::setvbuf(file, nullptr, _IONBF, 0);  // every read goes to the file, as ReadFile does
        FileSource source(file);
        HeapPictureAllocator allocator;
        const uint64_t before = allocatedBytes.load();
        LoadedPicture picture = LoadPreviewPicture(source, allocator, crop);
        allocated += allocatedBytes.load() - before;
        std::fclose(file);
        if (!picture.Usable()) state.SkipWithError("unusable");
        benchmark::DoNotOptimize(picture.pixels);
        totals.read += source.read;
        totals.skipped += source.skipped;
    }
    Report(state, totals, allocated);
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadCropFromFile)->ArgName("width")->Arg(200)->Arg(6000);

// What reading the whole pixel data before cutting the centre costs: one
// buffer of stride x height and every byte of the file.
void BM_ReadAllThenCrop(benchmark::State& state) {
    const auto& file = Picture(static_cast<int32_t>(state.range(0)));
    const int64_t width = state.range(0);
    const int64_t height = width == 200 ? 200 : 4000;
    const int64_t stride = (3 * width + 3) & ~int64_t{3};
    std::vector<uint8_t> crop(kPreviewCropBufferSize);
    MemorySource totals(file, true);
    uint64_t allocated = 0;
    for (auto _ : state) {
        MemorySource source(file, true);
        const uint64_t before = allocatedBytes.load();
        uint8_t header[54];
        source.Read(header, sizeof header);
        std::vector<uint8_t> all(static_cast<size_t>(stride * height));
        source.Read(all.data(), all.size() - 2);
        const int64_t y0 = height / 2 - 96, x0 = width / 2 - 96;
        for (int64_t r = 0; r < 192; ++r) {
            std::memcpy(crop.data() + r * 576, all.data() + (y0 + r) * stride + 3 * x0, 576);
        }
        std::vector<uint8_t> working(crop.begin(), crop.begin() + kPreviewCropBytes);
        allocated += allocatedBytes.load() - before;
        benchmark::DoNotOptimize(working.data());
        totals.read += source.read;
    }
    Report(state, totals, allocated);
}
BENCHMARK(BM_ReadAllThenCrop)->ArgName("width")->Arg(200)->Arg(6000);

}  // namespace
}  // namespace qz410

BENCHMARK_MAIN();
