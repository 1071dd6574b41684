// One preview pass (tone tables, unsharp mask, sharpening) timed for the
// product and for the reference versions; a summary after the runs gives the
// ratios.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "imaging/FilterSteps.h"
#include "imaging/Sharpen.h"
#include "imaging/ToneTables.h"
#include "oracle/FilterOracle.h"
#include "oracle/TestPicture.h"

namespace {

using qz410::ColorSettings;
using qz410::oracle::TestPicture;

TestPicture Source(int width, int height, bool flat) {
    TestPicture pic(width, height);
    std::mt19937 rng(2024);
    if (flat)
        pic.Flat(140);
    else
        pic.Natural(rng);
    return pic;
}

void ProductPass(const ColorSettings& s, TestPicture& pic) {
    qz410::ToneTables tables;
    qz410::BuildToneTables(s, tables);
    if (s.unsharpEnabled == 1) qz410::ApplyUnsharpMask(s, pic.width, pic.height, pic.Data());
    qz410::SharpenImage(pic.Data(), pic.width, pic.height, pic.stride, tables, s.sharpness & 7);
}

void OraclePass(const ColorSettings& s, TestPicture& pic) {
    qz410::ToneTables tables;
    qz410::oracle::BuildToneTables(s, tables);
    if (s.unsharpEnabled == 1) qz410::oracle::ApplyUnsharpMask(s, pic.width, pic.height, pic.Data());
    qz410::oracle::SharpenImage(pic.Data(), pic.width, pic.height, pic.stride, tables, s.sharpness & 7);
}

template <bool Oracle>
void FullPass(benchmark::State& state) {
    const auto width = int(state.range(0)), height = int(state.range(1));
    const ColorSettings s = qz410::oracle::WorstCaseSettings(int(state.range(2)));
    const TestPicture source = Source(width, height, state.range(3) != 0);
    TestPicture work = source;
    for (auto _ : state) {
        work.bytes = source.bytes;
        if (Oracle)
            OraclePass(s, work);
        else
            ProductPass(s, work);
        benchmark::DoNotOptimize(work.bytes.data());
        benchmark::ClobberMemory();
    }
    state.counters["Mpixel/s"] = benchmark::Counter(double(width) * height * state.iterations(),
                                                     benchmark::Counter::kIsRate);
    state.counters["ns/pixel"] = benchmark::Counter(
        double(width) * height * state.iterations(),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// args: width, height, radius, flat picture
BENCHMARK(FullPass<false>)->Name("product/pass")
    ->Args({192, 192, 30, 0})->Args({4000, 192, 30, 0})
    ->Args({192, 192, 1, 0})->Args({192, 192, 10, 0})->Args({192, 192, 15, 0})
    ->Args({192, 192, 20, 0})->Args({192, 192, 25, 0})
    ->Args({192, 192, 30, 1})->Args({4000, 192, 30, 1})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(FullPass<true>)->Name("oracle/pass")
    ->Args({192, 192, 30, 0})->Args({4000, 192, 30, 0})->Args({192, 192, 30, 1})
    ->Unit(benchmark::kMicrosecond);

// The steps of a natural 192 x 192 pass at the most expensive settings, each
// on the input it has in the pass; the copy of the source is not timed.
enum class Step { UnsharpBlur, ExactQuotients, SharpenStep, ToneRows, Kernel, Copies };

void PassStep(benchmark::State& state, Step step) {
    const ColorSettings s = qz410::oracle::WorstCaseSettings();
    const TestPicture source = Source(192, 192, false);
    TestPicture work = source;
    const size_t n = 3 * size_t(source.width);
    std::vector<uint8_t> blurred(n * size_t(source.height));
    qz410::steps::BlurForUnsharpMask(s, source.width, source.height, source.bytes.data(), blurred.data());
    qz410::ToneTables tables;
    qz410::BuildToneTables(s, tables);
    std::vector<uint16_t> columns(n);
    std::vector<uint8_t> results(2 * (n - 6));
    qz410::steps::WholeSums sums;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.Data(), source.bytes.data(), source.bytes.size());
        state.ResumeTiming();
        uint8_t* pic = work.Data();
        switch (step) {
            case Step::UnsharpBlur:
                qz410::steps::BlurForUnsharpMask(s, work.width, work.height, pic, blurred.data());
                break;
            case Step::ExactQuotients: qz410::steps::PrepareWholeSums(s, sums); break;
            case Step::SharpenStep:
                qz410::steps::SharpenAgainstBlur(s, work.width, work.height, pic, blurred.data());
                break;
            case Step::ToneRows: {
                const qz410::steps::RowToneMapper tone(tables);
                for (int32_t y = 0; y < work.height; ++y) tone.Row(pic + size_t(y) * work.stride, work.width);
                break;
            }
            case Step::Kernel:
                for (int32_t y = 1; y + 1 < work.height; ++y) {
                    const uint8_t* row = pic + size_t(y) * work.stride;
                    qz410::steps::SharpenRow(row - work.stride, row, row + work.stride, n - 6, s.sharpness & 7u,
                                             columns.data(), results.data() + (y & 1) * (n - 6));
                }
                break;
            case Step::Copies:
                for (int32_t y = 1; y + 1 < work.height; ++y)
                    std::memcpy(pic + size_t(y) * work.stride + 3, results.data() + (y & 1) * (n - 6), n - 6);
                break;
        }
        benchmark::DoNotOptimize(pic);
        benchmark::DoNotOptimize(blurred.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK_CAPTURE(PassStep, unsharp_blur, Step::UnsharpBlur)->Name("product/step/unsharp blur")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PassStep, exact_quotients, Step::ExactQuotients)->Name("product/step/exact quotients")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PassStep, sharpen_step, Step::SharpenStep)->Name("product/step/sharpen step")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PassStep, tone_rows, Step::ToneRows)->Name("product/step/tone tables on rows")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PassStep, kernel, Step::Kernel)->Name("product/step/3x3 kernel")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PassStep, copies, Step::Copies)->Name("product/step/copies")->Unit(benchmark::kMicrosecond);

// Remembers each run's time so that the product can be set against the
// reference at the same arguments once all have run.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nproduct vs reference, one full preview pass (radius 30, amount 12, threshold 0, sharpness 7):\n");
        for (const auto& [name, productTime] : times_) {
            if (name.rfind("product/pass/", 0) != 0) continue;
            const std::string args = name.substr(13);
            auto oracle = times_.find("oracle/pass/" + args);
            if (oracle == times_.end()) continue;
            std::printf("  %-18s product %10.1f us   reference %10.1f us   %6.1fx faster\n",
                        args.c_str(), productTime, oracle->second, oracle->second / productTime);
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
