// One preview pass at its most expensive settings (unsharp radius 30,
// amount 12, threshold 0; sharpness 7; every tone field non-zero) on the
// 192 x 192 working picture, timed with QueryPerformanceCounter: the Windows
// trees have no Google Benchmark, and the 32-bit build computes its doubles
// on the x87 unit, so its figure is the one the preview's speed depends on.
// Not a test; run both trees one after the other to compare them:
//   tools/wine-run.sh --prefix build/wineprefix build/win32/bin/preview_pass_timing.exe
//   tools/wine-run.sh --prefix build/wineprefix build/win64/bin/preview_pass_timing.exe
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/FilterSteps.h"
#include "imaging/PreviewCorrection.h"
#include "imaging/Sharpen.h"
#include "imaging/ToneTables.h"
#include "oracle/TestPicture.h"

namespace {

using qz410::oracle::TestPicture;

double Seconds(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(ticks) / double(frequency.QuadPart);
}

// The thread's processor time so far (user and kernel), in microseconds.
double ThreadMicroseconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
    auto value = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10.0; };
    return value(kernel) + value(user);
}

// Median and fastest of `runs` calls of `step` on a fresh copy of the
// source, in microseconds of wall-clock time; the copy is not timed. On a
// busy machine the wall clock also counts the time other programs ran: the
// thread's processor time per call (averaged over all calls, copies
// included, as the system counts it only coarsely) does not.
template <typename Step>
void Time(const char* name, const TestPicture& source, int runs, Step step) {
    TestPicture work = source;
    std::vector<double> times;
    unsigned checksum = 0;
    const double cpuStart = ThreadMicroseconds();
    for (int i = 0; i < runs; ++i) {
        std::memcpy(work.Data(), source.bytes.data(), source.bytes.size());
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        step(work);
        QueryPerformanceCounter(&end);
        times.push_back(Seconds(end.QuadPart - start.QuadPart) * 1e6);
        checksum = checksum * 31 + work.bytes[size_t(i) % work.bytes.size()];
    }
    const double cpu = (ThreadMicroseconds() - cpuStart) / runs;
    std::sort(times.begin(), times.end());
    std::printf("%s %-24s median %8.1f us  fastest %8.1f us  processor %8.1f us  (%d runs, %08x)\n",
                sizeof(void*) == 4 ? "x86" : "x64", name, times[times.size() / 2], times.front(), cpu, runs,
                checksum);
}

void TimePicture(const char* kind, const TestPicture& source, const qz410::ColorSettings& s, int runs) {
    const std::string name = std::string(kind) + " pass";
    Time(name.c_str(), source, runs, [&](TestPicture& pic) {
        qz410::CorrectPreviewPicture(s, pic.Data(), pic.width, pic.height, pic.stride);
    });
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const qz410::ColorSettings s = qz410::oracle::WorstCaseSettings();
    std::mt19937 rng(2024);
    TestPicture natural(192, 192), noise(192, 192), flat(192, 192);
    natural.Natural(rng);
    noise.Noise(rng);
    flat.Flat(140);
    TimePicture("natural", natural, s, runs);
    TimePicture("noise", noise, s, runs);
    TimePicture("flat", flat, s, runs);

    // Where a natural picture's pass spends its time.
    Time("  tone tables", natural, runs, [&](TestPicture&) {
        qz410::ToneTables tables;
        qz410::BuildToneTables(s, tables);
    });
    Time("  unsharp mask", natural, runs, [&](TestPicture& pic) {
        qz410::ApplyUnsharpMask(s, pic.width, pic.height, pic.Data());
    });
    qz410::ToneTables tables;
    qz410::BuildToneTables(s, tables);
    Time("  tones and sharpening", natural, runs, [&](TestPicture& pic) {
        qz410::SharpenImage(pic.Data(), pic.width, pic.height, pic.stride, tables, s.sharpness & 7u);
    });

    // The same two, step by step, each on the input it has in the pass.
    const size_t n = 3 * size_t(natural.width);
    std::vector<uint8_t> blurred(n * size_t(natural.height));
    Time("    unsharp blur", natural, runs, [&](TestPicture& pic) {
        qz410::steps::BlurForUnsharpMask(s, pic.width, pic.height, pic.Data(), blurred.data());
    });
    qz410::steps::WholeSums sums;
    Time("    exact quotients", natural, runs, [&](TestPicture&) { qz410::steps::PrepareWholeSums(s, sums); });
    Time("    sharpen step", natural, runs, [&](TestPicture& pic) {
        qz410::steps::SharpenAgainstBlur(s, pic.width, pic.height, pic.Data(), blurred.data());
    });
    Time("    tone tables on rows", natural, runs, [&](TestPicture& pic) {
        const qz410::steps::RowToneMapper tone(tables);
        for (int32_t y = 0; y < pic.height; ++y) tone.Row(pic.Data() + size_t(y) * pic.stride, pic.width);
    });
    std::vector<uint16_t> columns(n);
    std::vector<uint8_t> results(2 * (n - 6));
    Time("    3x3 kernel", natural, runs, [&](TestPicture& pic) {
        for (int32_t y = 1; y + 1 < pic.height; ++y) {
            const uint8_t* row = pic.Data() + size_t(y) * pic.stride;
            qz410::steps::SharpenRow(row - pic.stride, row, row + pic.stride, n - 6, s.sharpness & 7u, columns.data(),
                                     results.data() + (y & 1) * (n - 6));
        }
    });
    Time("    copies", natural, runs, [&](TestPicture& pic) {
        for (int32_t y = 1; y + 1 < pic.height; ++y)
            std::memcpy(pic.Data() + size_t(y) * pic.stride + 3, results.data() + (y & 1) * (n - 6), n - 6);
    });
    return 0;
}
