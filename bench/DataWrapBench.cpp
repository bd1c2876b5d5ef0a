// Asking a fully generated region chain for a result that exists, next to one uncontended
// std::mutex lock and unlock.
#include <OrvexStagecacheHost.h>

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <mutex>

namespace {

using namespace orvex;

// A generated region chain down to the line segments, built once.
struct GeneratedRegionChain {
  QZVP_ColourConversionModeStruct colour;
  QZVP_GrayscaleTransformationModeStruct transform{GTM_ORIGINAL};
  QZVP_RegionPredetectionModeStruct regionMode;
  QZVP_GrayscaleEnhancementModeStruct enhancement;
  QZVP_BinarizationModeStruct binarization;
  std::vector<QZVP_TextureDetectionModeStruct> texture;
  std::vector<QZVP_TextFilterModeStruct> textFilter;
  QZVP_LineExtractionModeStruct lines;
  std::vector<QZRef<DW_Base>> keep;
  QZRef<DW_LineSegments> deepest;

  GeneratedRegionChain() {
    cv::Mat page(480, 640, CV_8UC3, cv::Scalar(230, 230, 230));
    for (int x = 100; x < 500; x += 6) cv::rectangle(page, cv::Rect(x, 150, 3, 160), cv::Scalar(20, 20, 20), cv::FILLED);
    colour.mode = CICM_GENERAL;
    regionMode.mode = RPM_GENERAL;
    enhancement.mode = GEM_GENERAL;
    binarization.mode = BM_THRESHOLD;
    auto* source = Keep(new DW_SourceImage(QZRef<QZMatrix>(new QZMatrix(page)), 0, 0));
    auto* fitted = Keep(new DW_ColourImageAfterSizeFitting(source));
    auto* scaled = Keep(new DW_ColourImageAfterScalingDown(fitted, 0));
    auto* forRegions = Keep(new DW_ColourImageForROI(scaled));
    auto* gray = Keep(new DW_GrayscaleImageColourConverted(forRegions, &colour));
    auto* transformed = Keep(new DW_GrayscaleImageTransformed(gray, &transform));
    auto* grayForRegions = Keep(new DW_GrayscaleImageForROI(transformed));
    auto* candidates = Keep(new DW_CandidateROIs(grayForRegions, &regionMode));
    candidates->SetColourImageAfterScalingDownDataUnit(scaled);
    candidates->GetData(true);
    auto* roi = Keep(new DW_ROIColourImage(candidates, QZ_Quad({90, 140}, {510, 140}, {510, 320}, {90, 320})));
    auto* roiGray = Keep(new DW_ROIGrayscaleImageColourConverted(roi, &colour));
    auto* roiTransformed = Keep(new DW_ROIGrayscaleImageTransformed(roiGray, &transform));
    auto* selected = Keep(new DW_ROIGrayscaleImage(roiTransformed));
    auto* rotated = Keep(new DW_ROIGrayscaleImageRotated(selected));
    auto* perspective = Keep(new DW_ROIGrayscaleImagePerspectiveCorrected(rotated));
    auto* enhanced = Keep(new DW_ROIGrayscaleImageEnhanced(perspective, &enhancement));
    auto* processed = Keep(new DW_ROIGaryImageProcessed(enhanced));
    auto* binary = Keep(new DW_ROIBinaryImage(processed, &binarization));
    auto* textureResult = Keep(new DW_TextureDetectionResult(binary, &texture));
    auto* structurizing = Keep(new DW_ROIGrayscaleImageForStructurizing(textureResult, &enhancement));
    auto* textFiltering = Keep(new DW_ROIBinaryImageForTextFiltering(structurizing, &binarization));
    auto* filtered = Keep(new DW_ROIBinaryImageForStructurizing(textFiltering, &textFilter));
    auto* contours = Keep(new DW_Contours(filtered));
    deepest.reset(new DW_LineSegments(contours, &lines));
    deepest->GetData(true);
  }

  template <class Wrap>
  Wrap* Keep(Wrap* wrap) {
    keep.emplace_back(wrap);
    return wrap;
  }
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
