// Tree generation for a large product of mode lists: nodes built per second.
#include <OrvexStagecacheHost.h>

#include "BenchInputs.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using namespace orvex;

void BM_GenerateLargeTree(benchmark::State& state) {
  QZ_ImageParameter parameters = bench::LargeParameters(4);
  int64_t nodes = 0;
  for (auto _ : state) {
    auto loader = std::make_unique<QZParameterTreeLoader>();
    QZRef<QZParameterTree> tree = loader->CreateParameterTree("large", &parameters);
    const ParamNodeArray regionNodes = tree->GetNodesFromMap(tav::DUST_CANDIDATE_ROIS);
    for (int i = 0; i < regionNodes.GetCount(); ++i) loader->ExtandRegionPart(tree.get(), regionNodes[i], &parameters);
    nodes += tree->GetNodeCount();
    state.PauseTiming();  // tearing the tree down is not generation: the loader's cache holds it
    tree.reset();
    loader.reset();
    state.ResumeTiming();
  }
  state.counters["nodes_per_second"] = benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsRate);
  state.counters["nodes_per_tree"] = static_cast<double>(nodes) / state.iterations();
}
BENCHMARK(BM_GenerateLargeTree)->Unit(benchmark::kMillisecond);

}  // namespace
