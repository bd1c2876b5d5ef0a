// Image hash id of a 12-megapixel colour image against raw XXH3-128 over the same bytes.
#include <OrvexStagecacheHost.h>

#include <benchmark/benchmark.h>
#include <xxhash.h>

namespace {

const cv::Mat& TwelveMegapixelImage() {
  static const cv::Mat image = [] {
    cv::Mat m(3000, 4000, CV_8UC3);
    cv::randu(m, cv::Scalar::all(0), cv::Scalar::all(256));
    return m;
  }();
  return image;
}

void BM_RawXxh3OverImageBytes(benchmark::State& state) {
  const cv::Mat& image = TwelveMegapixelImage();
  const size_t bytes = image.total() * image.elemSize();
  for (auto _ : state) benchmark::DoNotOptimize(XXH3_128bits(image.data, bytes));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_RawXxh3OverImageBytes)->Unit(benchmark::kMillisecond);

void BM_ImageHashId(benchmark::State& state) {
  orvex::QZMatrix matrix(TwelveMegapixelImage());
  const size_t bytes = matrix.GetMat().total() * matrix.GetMat().elemSize();
  for (auto _ : state) {
    matrix.CalcHashID();
    benchmark::DoNotOptimize(matrix.GetHashID().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_ImageHashId)->Unit(benchmark::kMillisecond);

}  // namespace
