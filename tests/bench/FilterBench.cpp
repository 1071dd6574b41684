// One preview pass (tone tables, unsharp mask, sharpening) timed for the
// product and for the reference versions; a summary after the runs gives the
// ratios.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

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
