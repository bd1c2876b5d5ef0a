// Node result lookups: a node's own result, a result adopted from the shared table, and
// AddData of a 12-megapixel image already known; next to a locked std::map lookup and
// raw XXH3-128 over the same image.
#include <OrvexStagecacheHost.h>

#include "BenchInputs.h"
#include "SmallChain.h"

#include <benchmark/benchmark.h>
#include <xxhash.h>

#include <map>
#include <mutex>
#include <string>

namespace {

using namespace orvex;

// A chain with one 64 x 64 image added and the last node's result computed.
struct ChainWithOneResult : bench::SmallChain {
  const std::string image = AddImage(cv::Mat(64, 64, CV_8UC3, cv::Scalar(1, 2, 3)), true);
  ChainWithOneResult() { forRegions->GetData(image, false, false)->GetData(true); }
};

void BM_NodeReturnsItsOwnResult(benchmark::State& state) {
  static ChainWithOneResult chain;
  for (auto _ : state) benchmark::DoNotOptimize(chain.forRegions->GetData(chain.image, true, true));
}
BENCHMARK(BM_NodeReturnsItsOwnResult);

void BM_NodeAdoptsResultFromTheTable(benchmark::State& state) {
  static ChainWithOneResult first;
  static ChainWithOneResult second;
  for (auto _ : state) {
    second.forRegions->RemoveSameSourceData(first.image);  // one entry: the adopted result
    benchmark::DoNotOptimize(second.forRegions->GetData(first.image, false, false));
  }
}
BENCHMARK(BM_NodeAdoptsResultFromTheTable);

void BM_LockedStringMapLookup(benchmark::State& state) {
  std::mutex mutex;
  std::map<std::string, int> map;
  for (int i = 0; i < 16; ++i) map[std::to_string(i * 7919) + "f0e1d2c3b4a5968778695a4b3c2d1e0f"] = i;
  const std::string key = std::to_string(5 * 7919) + "f0e1d2c3b4a5968778695a4b3c2d1e0f";
  for (auto _ : state) {
    std::lock_guard<std::mutex> lock(mutex);
    benchmark::DoNotOptimize(map.find(key));
  }
}
BENCHMARK(BM_LockedStringMapLookup);

void BM_AddDataOfKnownTwelveMegapixelImage(benchmark::State& state) {
  static ChainWithOneResult chain;
  QZRef<QZMatrix> first(new QZMatrix(bench::TwelveMegapixels()));
  char id[kHashIdBufferSize];
  chain.source->AddData(first, 0, 0, id);
  QZRef<QZMatrix> again(new QZMatrix(bench::TwelveMegapixels().clone()));  // equal pixels, another matrix
  for (auto _ : state) benchmark::DoNotOptimize(chain.source->AddData(again, 0, 0, id));
  chain.source->RemoveSameSourceData(id);
}
BENCHMARK(BM_AddDataOfKnownTwelveMegapixelImage)->Unit(benchmark::kMillisecond);

void BM_RawXxh3OfTwelveMegapixelImage(benchmark::State& state) {
  const cv::Mat& image = bench::TwelveMegapixels();
  for (auto _ : state) benchmark::DoNotOptimize(XXH3_128bits(image.data, image.total() * image.elemSize()));
}
BENCHMARK(BM_RawXxh3OfTwelveMegapixelImage)->Unit(benchmark::kMillisecond);

}  // namespace
