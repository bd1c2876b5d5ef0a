// Asking a fully generated region chain for a result that exists, next to one uncontended
// std::mutex lock and unlock.
#include <OrvexStagecacheHost.h>

#include <benchmark/benchmark.h>

#include <mutex>

#include "../tests/datawrap/WrapChain.h"
#include "../tests/support/TestScene.h"

namespace {

using namespace orvex;

// A generated region chain down to the line segments, built once, with every result made.
struct GeneratedRegionChain {
  testing::ChainModes modes;
  testing::WholeChain whole{testing::DrawBarPage(cv::Size(640, 480)), modes};
  testing::RegionChain region{whole, testing::FirstRegionOf(whole), modes};
  DW_LineSegments* deepest = region.lines.get();

  GeneratedRegionChain() { deepest->GetData(true); }
};

void BM_GetDataOfGeneratedRegionChain(benchmark::State& state) {
  static GeneratedRegionChain chain;
  for (auto _ : state) benchmark::DoNotOptimize(chain.deepest->GetData(true));
}
BENCHMARK(BM_GetDataOfGeneratedRegionChain);

void BM_UncontendedMutexLockUnlock(benchmark::State& state) {
  std::mutex mutex;
  for (auto _ : state) {
    std::lock_guard<std::mutex> lock(mutex);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_UncontendedMutexLockUnlock);

}  // namespace
