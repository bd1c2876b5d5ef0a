// Lazy generation: each stage object created and computed once, top first, in any thread.
#include "WrapChain.h"

#include "../support/TestScene.h"

#include <gtest/gtest.h>

#include <exception>
#include <new>
#include <thread>
#include <vector>

namespace orvex {
namespace testing {
namespace {

class StageGeneration : public ::testing::Test {
 protected:
  void SetUp() override { m_liveBefore = DP_CommonBase::GetTotalLiveCount(); }
  void TearDown() override { EXPECT_EQ(DP_CommonBase::GetTotalLiveCount(), m_liveBefore) << "stage objects leaked"; }

  // The candidate region the detector finds first, as the host would take it.
  static QZ_Quad FirstRegion(WholeChain& whole) {
    EXPECT_FALSE(whole.regions->GetData(true)->GetPrimaryData(false)->quads.empty());
    return FirstRegionOf(whole);
  }

  ChainModes modes;
  cv::Mat page = DrawBarPage(cv::Size(640, 480));

 private:
  int m_liveBefore = 0;
};

TEST_F(StageGeneration, FreshChainToStageSevenCreatesStagesOneTwoThreeFiveSixOnly) {
  WholeChain chain(page, modes);
  const int liveBefore = DP_CommonBase::GetTotalLiveCount();
  const std::vector<int> before = ComputationCounts();
  EXPECT_EQ(chain.grayForRegions->GetData(false), nullptr);
  ASSERT_NE(chain.grayForRegions->GetData(true), nullptr);

  const std::vector<int> computed = ComputationsSince(before);
  for (DP_StageKind kind : {DPK_SOURCE_IMAGE, DPK_SIZE_FITTING_IMAGE, DPK_SCALING_DOWN_IMAGE,
                            DPK_COLOUR_CONVERT_WHOLE_IMAGE, DPK_GRAY_TRANSFORM_WHOLE_IMAGE}) {
    EXPECT_EQ(computed[kind], 1) << "stage kind " << kind;
  }
  EXPECT_EQ(DP_CommonBase::GetTotalLiveCount() - liveBefore, 5);
  EXPECT_EQ(chain.colourForRegions->GetData(false), chain.scaled->GetData(false));
  EXPECT_EQ(chain.grayForRegions->GetData(false), chain.transformed->GetData(false));

  core::CImageData* scaledImage = nullptr;
  core::CImageData* selectedImage = nullptr;
  ASSERT_EQ(chain.scaled->GetDataAsImageData(&scaledImage), 0);
  ASSERT_EQ(chain.colourForRegions->GetDataAsImageData(&selectedImage), 0);
  ASSERT_NE(scaledImage, nullptr);
  EXPECT_EQ(selectedImage->GetBytes(), scaledImage->GetBytes());
  core::CImageData* grayImage = nullptr;
  ASSERT_EQ(chain.grayForRegions->GetDataAsImageData(&grayImage), 0);
  EXPECT_EQ(grayImage->GetImagePixelFormat(), core::IPF_GRAYSCALE_8);
  EXPECT_EQ(grayImage->GetWidth(), 640);
}

TEST_F(StageGeneration, EightThreadsAskingForTheDeepestResultComputeEveryStageOnce) {
  WholeChain whole(page, modes);
  RegionChain region(whole, FirstRegion(whole), modes);
  const std::vector<int> before = ComputationCounts();
  std::vector<DP_ProcessLineSet*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) threads.emplace_back([&, t] { seen[t] = region.lines->GetData(true); });
  for (auto& thread : threads) thread.join();

  for (int t = 1; t < 8; ++t) EXPECT_EQ(seen[t], seen[0]);
  ASSERT_NE(seen[0], nullptr);
  const std::vector<int> computed = ComputationsSince(before);
  for (int kind = DPK_ROI_IMAGE; kind < DPK_COUNT; ++kind) EXPECT_EQ(computed[kind], 1) << "stage kind " << kind;
  QZRef<LineSegmentSet> lines = seen[0]->GetPrimaryData(false);
  ASSERT_TRUE(lines);
  EXPECT_FALSE(lines->segments.empty());
  EXPECT_TRUE(lines->toSourceImage);
}

TEST_F(StageGeneration, RegionStagesAreLinkedToTheirExtraInputs) {
  WholeChain whole(page, modes);
  RegionChain region(whole, FirstRegion(whole), modes);
  ASSERT_NE(region.lines->GetData(true), nullptr);

  DP_ColourConvertROIImage* gray = region.gray->GetData(false);
  EXPECT_EQ(gray->linkedStage1.get(), whole.scaled->GetData(false));
  EXPECT_EQ(gray->linkedStage2.get(), whole.transformed->GetData(false));
  DP_EnhanceTextureImage* structurizing = region.structurizing->GetData(false);
  EXPECT_EQ(structurizing->linkedStage1.get(), region.enhanced->GetData(false));
  EXPECT_EQ(structurizing->linkedStage2.get(), region.perspective->GetData(false));
  DP_BinarizeTextureImage* textFiltering = region.textFiltering->GetData(false);
  EXPECT_EQ(textFiltering->linkedStage1.get(), region.texture->GetData(false));
  EXPECT_EQ(textFiltering->linkedStage2.get(), region.binary->GetData(false));
  EXPECT_EQ(region.lines->GetData(false)->linkedStage1.get(), region.perspective->GetData(false));
  EXPECT_EQ(whole.transformed->GetData(false)->linkedStage1.get(), whole.scaled->GetData(false));
  EXPECT_EQ(whole.regions->GetData(false)->linkedStage1.get(), whole.scaled->GetData(false));
}

TEST_F(StageGeneration, SelectingWrapsShowTheirParentsImages) {
  WholeChain whole(page, modes);
  RegionChain region(whole, FirstRegion(whole), modes);
  ASSERT_NE(region.processed->GetData(true), nullptr);
  EXPECT_EQ(region.selected->GetData(false), region.transformed->GetData(false));
  EXPECT_EQ(region.processed->GetData(false), region.enhanced->GetData(false));
  core::CImageData* a = nullptr;
  core::CImageData* b = nullptr;
  region.selected->GetDataAsImageData(&a);
  region.transformed->GetDataAsImageData(&b);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
}

TEST_F(StageGeneration, StageThatProducedNothingIsNotRunAgain) {
  const std::vector<int> before = ComputationCounts();
  QZRef<DW_SourceImage> empty(new DW_SourceImage(QZRef<QZMatrix>(new QZMatrix()), 0, 0));
  QZRef<DW_ColourImageAfterSizeFitting> fitted(new DW_ColourImageAfterSizeFitting(empty.get()));
  for (int i = 0; i < 3; ++i) {
    DP_SizeFittingImage* stage = fitted->GetData(true);
    ASSERT_NE(stage, nullptr);
    EXPECT_FALSE(stage->GetPrimaryData(true));
  }
  const std::vector<int> computed = ComputationsSince(before);
  EXPECT_EQ(computed[DPK_SOURCE_IMAGE], 1);
  EXPECT_EQ(computed[DPK_SIZE_FITTING_IMAGE], 1);
  core::CImageData sentinel;
  core::CImageData* image = &sentinel;
  EXPECT_EQ(fitted->GetDataAsImageData(&image), 0);
  EXPECT_EQ(image, nullptr);  // the stage reports no image
}

// A stage that shows its input, and whose first computations run out of memory or are
// refused by OpenCV, as a stage does when an allocation fails or its input is refused.
class FailingFirstStage : public DP_InputStage<QZMatrix, DP_SourceImage, DPK_SIZE_FITTING_IMAGE> {
 public:
  FailingFirstStage(DP_SourceImage* input, std::vector<std::exception_ptr> failures)
      : DP_InputStage(input), m_failures(std::move(failures)) {}

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override {
    ++computations;
    // A result made before the failure, which the failure must not leave behind.
    primaryData = Unchanged(InputData());
    KeepInputTransform();
    if (computations <= static_cast<int>(m_failures.size())) std::rethrow_exception(m_failures[computations - 1]);
  }

 public:
  int computations = 0;

 private:
  std::vector<std::exception_ptr> m_failures;
};

TEST_F(StageGeneration, AComputationThatThrewIsTriedAgainByTheNextRequest) {
  QZRef<DP_SourceImage> source(new DP_SourceImage(QZRef<QZMatrix>(new QZMatrix(page)), 0, 0));
  QZRef<FailingFirstStage> stage(new FailingFirstStage(
      source.get(), {std::make_exception_ptr(std::bad_alloc()), std::make_exception_ptr(cv::Exception())}));
  EXPECT_THROW(stage->GetPrimaryData(true), std::bad_alloc);
  EXPECT_FALSE(stage->GetPrimaryData(false));
  EXPECT_FALSE(stage->IsComputed());
  EXPECT_FALSE(stage->GetPrimaryData(true)) << "OpenCV's refusal is logged, with no result";
  EXPECT_FALSE(stage->IsComputed());
  QZRef<QZMatrix> fitted = stage->GetPrimaryData(true);
  ASSERT_TRUE(fitted);
  EXPECT_EQ(fitted->GetMat().size(), page.size());
  EXPECT_NE(stage->GetTransformMatFromSourceImage(), nullptr);
  EXPECT_TRUE(stage->GetPrimaryData(true));
  EXPECT_EQ(stage->computations, 3);
}

TEST_F(StageGeneration, StageOnMissingInputComputesNothing) {
  QZRef<DP_SizeFittingImage> orphan(new DP_SizeFittingImage(nullptr));
  EXPECT_FALSE(orphan->GetPrimaryData(true));
  EXPECT_EQ(orphan->GetResultAsImageData(), nullptr);
  EXPECT_EQ(orphan->GetTransformMatFromSourceImage(), nullptr);
  QZRef<DP_ProcessLineSet> lines(new DP_ProcessLineSet(nullptr, nullptr));
  EXPECT_FALSE(lines->GetPrimaryData(true));
}

TEST_F(StageGeneration, WrapWithoutParentBuildsNothingAndRetries) {
  QZRef<DW_ColourImageAfterSizeFitting> orphan(new DW_ColourImageAfterSizeFitting(static_cast<DW_SourceImage*>(nullptr)));
  EXPECT_EQ(orphan->GetData(true), nullptr);
  EXPECT_EQ(orphan->GetData(true), nullptr);
  EXPECT_FALSE(orphan->IsDataExist());
}

TEST_F(StageGeneration, StagesOutliveTheWrapsOfTheirExtraInputs) {
  WholeChain whole(page, modes);
  // The other chain, whose colour wrap is the extra input, is gone once the stage was
  // made: the wrap held its input until then, and the stage holds the colour stage after.
  DP_ScalingDownImage* colourStage = nullptr;
  {
    WholeChain other(page, modes);
    whole.transformed->SetColourImageAfterScalingDownDataUnit(other.scaled.get());
    ASSERT_NE(whole.transformed->GetData(true), nullptr);
    colourStage = other.scaled->GetData(false);
  }
  DP_GrayTransformWholeImage* stage = whole.transformed->GetData(false);
  ASSERT_EQ(stage->linkedStage1.get(), colourStage);
  EXPECT_TRUE(stage->linkedStage1->GetPrimaryData(false));
}

}  // namespace
}  // namespace testing
}  // namespace orvex
