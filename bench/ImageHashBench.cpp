// Image hash id of a 12-megapixel colour image against raw XXH3-128 over the same bytes.
#include <OrvexStagecacheHost.h>

#include "BenchInputs.h"

#include <benchmark/benchmark.h>
#include <xxhash.h>

namespace {

void BM_RawXxh3OverImageBytes(benchmark::State& state) {
  const cv::Mat& image = orvex::bench::TwelveMegapixels();
  const size_t bytes = image.total() * image.elemSize();
  for (auto _ : state) benchmark::DoNotOptimize(XXH3_128bits(image.data, bytes));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_RawXxh3OverImageBytes)->Unit(benchmark::kMillisecond);

void BM_ImageHashId(benchmark::State& state) {
  orvex::QZMatrix matrix(orvex::bench::TwelveMegapixels());
  const size_t bytes = matrix.GetMat().total() * matrix.GetMat().elemSize();
  for (auto _ : state) {
    matrix.CalcHashID();
    benchmark::DoNotOptimize(matrix.GetHashID().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_ImageHashId)->Unit(benchmark::kMillisecond);

}  // namespace
