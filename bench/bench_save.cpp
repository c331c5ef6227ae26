// The work of one save, and the parse of a received tracing, on a realistic
// two-eye reading of 1000 radii and 1000 z values per eye.
#include "Frameimage.h"
#include "Labelparser.h"
#include "Readingfile.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

std::string realisticLabels() {
    std::ifstream in(std::string(KRVW_TEST_DATA) + "/reading/realistic.labels", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void SaveWork(benchmark::State& state) {
    const std::string labels = realisticLabels();
    auto parsed = std::make_unique<struct_tracedata>();
    parseTraceLabels(*parsed, labels.c_str());
    auto record = std::make_unique<struct_tracedata>();
    auto image = std::make_unique<unsigned char[]>(kFrameImageCapacity);
    auto file = std::make_unique<unsigned char[]>(kReadingTextCapacity);
    const ReadingContext context{"HUVITZ", "", true};
    for (auto _ : state) {
        *record = *parsed; // the record as the protocol left it
        computeGeometry(*record);
        int imageSize = 0;
        const int drawn = renderFrameImage(*record, image.get(), imageSize);
        int fileSize = 0;
        const int built = buildReadingFile(*record, context, file.get(), fileSize);
        benchmark::DoNotOptimize(drawn + built + imageSize + fileSize);
    }
}
BENCHMARK(SaveWork)->Unit(benchmark::kMillisecond);

void ComputeGeometry(benchmark::State& state) {
    const std::string labels = realisticLabels();
    auto parsed = std::make_unique<struct_tracedata>();
    parseTraceLabels(*parsed, labels.c_str());
    auto record = std::make_unique<struct_tracedata>();
    for (auto _ : state) {
        *record = *parsed;
        computeGeometry(*record);
        benchmark::DoNotOptimize(record->right.diag);
    }
}
BENCHMARK(ComputeGeometry)->Unit(benchmark::kMillisecond);

void ParseTraceLabels(benchmark::State& state) {
    const std::string labels = realisticLabels();
    auto record = std::make_unique<struct_tracedata>();
    for (auto _ : state) {
        parseTraceLabels(*record, labels.c_str());
        benchmark::DoNotOptimize(record->left.points[999].radius);
    }
}
BENCHMARK(ParseTraceLabels)->Unit(benchmark::kMillisecond);

} // namespace
