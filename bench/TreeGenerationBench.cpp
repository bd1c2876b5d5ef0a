// Tree generation for a large product of mode lists: nodes built per second.
#include <OrvexStagecacheHost.h>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using namespace orvex;

QZ_ImageParameter LargeParameters() {
  QZ_ImageParameter p;
  for (int32_t channel : {0, int32_t(QZVP_S_CHANNEL), int32_t(QZVP_V_CHANNEL)}) {
    QZVP_ColourConversionModeStruct colour;
    colour.mode = channel == 0 ? CICM_GENERAL : CICM_HSV;
    colour.channel = channel;
    p.colourConversionModes.push_back(colour);
  }
  p.grayscaleTransformationModes = {QZVP_GrayscaleTransformationModeStruct(GTM_AUTO)};
  for (int32_t mode : {RPM_GENERAL, RPM_GENERAL_GRAY_CONTRAST, RPM_GENERAL_RGB_CONTRAST}) {
    QZVP_RegionPredetectionModeStruct regions;
    regions.mode = mode;
    p.regionPredetectionModes.push_back(regions);
  }
  for (int32_t mode : {GEM_GENERAL, GEM_GRAY_EQUALIZE, GEM_SHARPEN_SMOOTH}) {
    QZVP_GrayscaleEnhancementModeStruct enhancement;
    enhancement.mode = mode;
    p.grayscaleEnhancementModes.push_back(enhancement);
  }
  for (int32_t block : {11, 15, 21, 31}) {
    QZVP_BinarizationModeStruct binarization;
    binarization.mode = BM_LOCAL_BLOCK;
    binarization.intArg1 = block;
    binarization.intArg5 = 10;
    p.binarizationModes.push_back(binarization);
  }
  p.textureDetectionModes.resize(1);
  p.textFilterModes.resize(1);
  for (int32_t mode : {LEM_GENERAL, LEM_MARGIN_BASED}) {
    QZVP_LineExtractionModeStruct lines;
    lines.mode = mode;
    p.lineExtractionModes.push_back(lines);
  }
  return p;
}

void BM_GenerateLargeTree(benchmark::State& state) {
  QZ_ImageParameter parameters = LargeParameters();
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
