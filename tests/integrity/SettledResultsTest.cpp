// A cached result is never wrong: settled results are never written, a missing input
// settles nothing, and a tree holds the real chain of every result it holds.
#include <OrvexStagecache.h>
#include <OrvexStagecacheHost.h>

#include "../datawrap/WrapChain.h"
#include "../support/HostPipeline.h"
#include "../support/TestScene.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <atomic>
#include <string>
#include <vector>

namespace orvex {
namespace {

using testing::AddRegionsAndGenerateLines;
using testing::ChainModes;
using testing::GenerateLineSegments;
using testing::PageParameters;
using testing::RegisterGroup;
using testing::WholeChain;

QZParameterTreeLoader* Loader() { return QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader(); }
DataUnitManager* Table() { return QZParameterTreeAndDataPool::GetInstance()->GetDataManager(); }

StageRequestMap EveryStage() {
  StageRequestMap keep;
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    keep[static_cast<tav::DataUnitStageType>(stage)] = 1;
  }
  return keep;
}

void Release(ParamTreeGroup& group, const std::string& id, const StageRequestMap& keep) {
  group.MinusSavedTypeCount(id, keep);
  group.RemoveSameSourceData(id);
}

// Line segments of every line-segment result the group holds for the image.
int CountSegments(const ParamTreeGroup& group, const std::string& id) {
  tav::CDataUnitArray units;
  EXPECT_EQ(group.GetDataUnits(tav::DUST_LINE_SEGMENTS, id.c_str(), &units), 0);
  int segments = 0;
  for (int i = 0; i < units.GetCount(); ++i) {
    auto* wrap = dynamic_cast<DW_LineSegments*>(const_cast<tav::CDataUnit*>(units.GetDataUnit(i)));
    DP_ProcessLineSet* stage = wrap != nullptr ? wrap->GetData(false) : nullptr;
    QZRef<LineSegmentSet> lines = stage != nullptr ? stage->GetPrimaryData(false) : QZRef<LineSegmentSet>();
    if (lines) segments += static_cast<int>(lines->segments.size());
  }
  return segments;
}

// Walks from a result to the source image through the interface; the stages met.
std::vector<int> StagesUpTo(const tav::CDataUnit* unit) {
  std::vector<int> stages;
  while (unit != nullptr) {
    stages.push_back(unit->GetStageType());
    tav::CDataUnit* parent = nullptr;
    EXPECT_EQ(unit->GetParentDataUnit(&parent), 0);
    unit = parent;
  }
  return stages;
}

// The pixels of an image result, copied.
cv::Mat PixelsOf(DP_CommonBase* stage) {
  core::CImageData* view = stage != nullptr ? stage->GetResultAsImageData() : nullptr;
  if (view == nullptr) return cv::Mat();
  return cv::Mat(view->GetHeight(), view->GetWidth(), CV_8UC(core::BytesPerPixel(view->GetImagePixelFormat())),
                 const_cast<unsigned char*>(view->GetBytes()), static_cast<size_t>(view->GetStride()))
      .clone();
}

bool Equal(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(cv::Mat(a != b).reshape(1)) == 0;
}

// Pixels that cannot be had (the loader answers nothing, or throws) until the file is
// readable again; then `pixels` (or other pixels, as a file that changed).
class FlakyPixels : public SourcePixels {
 public:
  FlakyPixels(cv::Mat pixels, bool readable, bool throws) : m_pixels(std::move(pixels)), m_readable(readable), m_throws(throws) {}
  QZRef<QZMatrix> Load() override {
    ++m_calls;
    if (!m_readable.load()) {
      if (m_throws) throw std::runtime_error("the file could not be read");
      return QZRef<QZMatrix>();
    }
    return m_pixels.empty() ? QZRef<QZMatrix>() : QZRef<QZMatrix>(new QZMatrix(m_pixels.clone()));
  }
  void BecomeReadable() { m_readable = true; }
  int Calls() const { return m_calls.load(); }

 private:
  cv::Mat m_pixels;
  std::atomic<bool> m_readable;
  bool m_throws;
  std::atomic<int> m_calls{0};
};

class SettledResults : public ::testing::Test {
 protected:
  QZRef<ParamTreeGroup> Register(const std::string& suffix, QZ_ImageParameter* parameters) {
    const std::string name = std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + suffix;
    QZRef<ParamTreeGroup> group = Loader()->InitParameterTreeGroup(parameters, &RegisterGroup, name.c_str());
    EXPECT_TRUE(group);
    return group;
  }

  void TearDown() override {
    Loader()->UpdateTreeGroups();
    Table()->UpdateTotalDataMapUntilSettled();
  }

  static std::string IdOf(const cv::Mat& pixels) {
    QZRef<QZMatrix> matrix(new QZMatrix(pixels.clone()));
    return SourceImageHashId(*matrix);
  }

  static std::string Add(ParamTreeGroup& group, const cv::Mat& pixels, const StageRequestMap& keep) {
    QZRef<QZMatrix> matrix(new QZMatrix(pixels.clone()));
    char id[kHashIdBufferSize] = "";
    return group.AddSourceData(matrix, 0, 0, id, keep) ? std::string(id) : std::string();
  }

  const cv::Mat m_page = testing::DrawBarPage(cv::Size(480, 360));
  const StageRequestMap m_keep = EveryStage();
};

TEST_F(SettledResults, ARegionModeReadingSaturationLeavesTheSharedGrayImageAsItWas) {
  ChainModes modes;
  modes.regions.mode = RPM_GENERAL_HSV_CONTRAST;
  WholeChain whole(m_page, modes);
  DP_ColourConvertWholeImage* gray = whole.gray->GetData(true);
  ASSERT_NE(gray, nullptr);
  const cv::Mat before = PixelsOf(gray);
  ASSERT_FALSE(before.empty());
  ASSERT_NE(whole.regions->GetData(true), nullptr);
  EXPECT_TRUE(Equal(PixelsOf(gray), before)) << "the region stage wrote into the gray image every tree shares";
  EXPECT_TRUE(gray->SealHolds());
}

TEST_F(SettledResults, AKnownImageWhosePixelsFailedTakesThePixelsOfTheNextAdd) {
  const std::string id = IdOf(m_page);
  for (const bool otherPixels : {false, true}) {
    SCOPED_TRACE(otherPixels ? "the file changed" : "the file could not be read");
    QZ_ImageParameter parameters = PageParameters(10);
    QZRef<ParamTreeGroup> known = Register(otherPixels ? "-known-changed" : "-known-unread", &parameters);
    QZRef<ParamTreeGroup> decoded = Register(otherPixels ? "-decoded-changed" : "-decoded-unread", &parameters);
    const cv::Mat changed = otherPixels ? testing::FlatImage(m_page.size(), cv::Scalar(200, 90, 30)) : cv::Mat();
    QZRef<FlakyPixels> failing(new FlakyPixels(changed, otherPixels, false));
    ASSERT_TRUE(ParamTreeGroup::AddKnownImageToGroups({known.get()}, id, failing, 0, 0, m_keep));
    EXPECT_TRUE(known->AddCandidateRegions(id).empty());

    // Another host brings the image's real pixels while the first still holds it.
    ASSERT_EQ(Add(*decoded, m_page, m_keep), id);
    const std::vector<std::string> regions = AddRegionsAndGenerateLines(*decoded, id);
    EXPECT_FALSE(regions.empty());
    EXPECT_GT(CountSegments(*decoded, id), 0);
    // The first host gets them too, and its failing loader is not asked again.
    const int calls = failing->Calls();
    EXPECT_EQ(known->AddCandidateRegions(id), regions);
    EXPECT_EQ(failing->Calls(), calls);
    Release(*known, id, m_keep);
    Release(*decoded, id, m_keep);
  }
}

TEST_F(SettledResults, AKnownImageTakesTheLoaderOfALaterAddWhenItsOwnFailed) {
  const std::string id = IdOf(m_page);
  QZ_ImageParameter parameters = PageParameters(10);
  QZRef<ParamTreeGroup> first = Register("-first", &parameters);
  QZRef<ParamTreeGroup> second = Register("-second", &parameters);
  QZRef<FlakyPixels> unreadable(new FlakyPixels(cv::Mat(), false, false));
  ASSERT_TRUE(ParamTreeGroup::AddKnownImageToGroups({first.get()}, id, unreadable, 0, 0, m_keep));
  EXPECT_TRUE(first->AddCandidateRegions(id).empty());
  QZRef<FlakyPixels> readable(new FlakyPixels(m_page, true, false));
  ASSERT_TRUE(ParamTreeGroup::AddKnownImageToGroups({second.get()}, id, readable, 0, 0, m_keep));
  EXPECT_FALSE(second->AddCandidateRegions(id).empty());
  EXPECT_EQ(readable->Calls(), 1);
  Release(*first, id, m_keep);
  Release(*second, id, m_keep);
}

TEST_F(SettledResults, StagesOnASourceThatThrewStayUnsettledAndComputeOnceItGivesPixels) {
  const std::string id = IdOf(m_page);
  QZ_ImageParameter parameters = PageParameters(10);
  QZRef<ParamTreeGroup> group = Register("", &parameters);
  QZRef<FlakyPixels> flaky(new FlakyPixels(m_page, false, true));
  ASSERT_TRUE(ParamTreeGroup::AddKnownImageToGroups({group.get()}, id, flaky, 0, 0, m_keep));
  EXPECT_TRUE(group->AddCandidateRegions(id).empty());
  EXPECT_TRUE(group->AddCandidateRegions(id).empty());
  flaky->BecomeReadable();
  const int failedCalls = flaky->Calls();
  const std::vector<int> before = testing::ComputationCounts();
  const std::vector<std::string> regions = AddRegionsAndGenerateLines(*group, id);
  EXPECT_FALSE(regions.empty()) << "the stages computed on the missing input were settled without a result";
  EXPECT_GT(CountSegments(*group, id), 0);
  EXPECT_EQ(flaky->Calls(), failedCalls + 1);
  const std::vector<int> computed = testing::ComputationsSince(before);
  EXPECT_EQ(computed[DPK_SOURCE_IMAGE], 1);
  EXPECT_EQ(computed[DPK_DETECT_ROIS], 1);
  Release(*group, id, m_keep);
}

// Two trees whose candidate-region modes differ but find the same quadrilaterals: their
// regions have equal ids, and the tree that adopts the other's regions holds the other's
// candidate regions as well, for as long as it counts the regions.
TEST_F(SettledResults, AnAdoptedRegionKeepsItsRealParentAfterTheTreeThatMadeItIsReleased) {
  for (const bool grayFirst : {true, false}) {
    SCOPED_TRACE(grayFirst ? "gray contrast made the regions" : "auto made the regions");
    QZ_ImageParameter gray = PageParameters(10);
    QZ_ImageParameter automatic = PageParameters(10);
    automatic.regionPredetectionModes[0].mode = RPM_AUTO;
    QZRef<ParamTreeGroup> maker = Register(grayFirst ? "-gray" : "-auto", grayFirst ? &gray : &automatic);
    QZRef<ParamTreeGroup> adopter = Register(grayFirst ? "-auto" : "-gray", grayFirst ? &automatic : &gray);
    const int tableBefore = Table()->GetDataMapSize();

    const std::string id = Add(*maker, m_page, m_keep);
    ASSERT_FALSE(id.empty());
    const std::vector<std::string> regions = AddRegionsAndGenerateLines(*maker, id);
    ASSERT_FALSE(regions.empty());
    const int segments = CountSegments(*maker, id);
    ASSERT_GT(segments, 0);

    // The adopter finds the same regions and computes nothing below them yet.
    ASSERT_EQ(Add(*adopter, m_page, m_keep), id);
    ASSERT_EQ(adopter->AddCandidateRegions(id), regions);
    Release(*maker, id, m_keep);

    tav::CDataUnitArray regionUnits;
    ASSERT_EQ(adopter->GetDataUnits(tav::DUST_ROI_COLOUR_IMAGE, id.c_str(), &regionUnits), 0);
    ASSERT_EQ(regionUnits.GetCount(), static_cast<int>(regions.size()));
    for (int i = 0; i < regionUnits.GetCount(); ++i) {
      EXPECT_EQ(StagesUpTo(regionUnits.GetDataUnit(i)), (std::vector<int>{9, 8, 7, 6, 5, 4, 3, 2, 1}));
    }
    GenerateLineSegments(*adopter, regions);
    EXPECT_EQ(CountSegments(*adopter, id), segments);
    // The adopter's own candidate regions are still its own: it lists one result, of its mode.
    tav::CDataUnitArray candidates;
    ASSERT_EQ(adopter->GetDataUnits(tav::DUST_CANDIDATE_ROIS, id.c_str(), &candidates), 0);
    EXPECT_EQ(candidates.GetCount(), 1);
    Release(*adopter, id, m_keep);
    Loader()->UpdateTreeGroups();
    Table()->UpdateTotalDataMapUntilSettled();
    EXPECT_EQ(Table()->GetDataMapSize(), tableBefore) << "a chain hold outlived the release";
  }
}

// A stage whose transform back to the source cannot be inverted gives its segments in
// region coordinates only; dropping the inverse it tried is a computation's own business
// (the checking builds do not stop on it).
TEST_F(SettledResults, SegmentsOfARegionWithoutAWayBackHaveNoTransformToTheSource) {
  std::vector<unsigned char> bytes;
  ResultWriter writer(&bytes);
  writer.Int(1);
  WriteResult(writer, ImageWithQuad(cv::Mat(40, 60, CV_8UC1, cv::Scalar(0)), QZ_Quad({0, 0}, {59, 0}, {59, 39}, {0, 39})));
  writer.Pixels(cv::Mat::zeros(3, 3, CV_64FC1));  // a transform that flattens everything
  QZRef<DP_PerspectiveROIImage> region(new DP_PerspectiveROIImage(nullptr));
  ASSERT_TRUE(region->RestoreResult(bytes.data(), bytes.size()));

  ContourSet outline;
  outline.contours.push_back({{5, 5}, {50, 5}, {50, 30}, {5, 30}});
  bytes.clear();
  ResultWriter contourWriter(&bytes);
  contourWriter.Int(1);
  WriteResult(contourWriter, outline);
  contourWriter.Pixels(cv::Mat());
  QZRef<DP_ProcessContour> contours(new DP_ProcessContour(nullptr));
  ASSERT_TRUE(contours->RestoreResult(bytes.data(), bytes.size()));

  QZVP_LineExtractionModeStruct mode;
  QZRef<DP_ProcessLineSet> lines(new DP_ProcessLineSet(contours.get(), &mode));
  lines->linkedStage1 = region;
  QZRef<LineSegmentSet> found = lines->GetPrimaryData(true);
  ASSERT_TRUE(found);
  EXPECT_FALSE(found->segments.empty());
  EXPECT_FALSE(found->toSourceImage);
}

// A stage that writes into its input, as cv::Mat's shared pixels let a careless stage do.
class WritesIntoItsInput : public DP_InputStage<QZMatrix, DP_SourceImage, DPK_SIZE_FITTING_IMAGE> {
 public:
  using DP_InputStage::DP_InputStage;

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override {
    cv::Mat alias = InputData()->GetMat();
    alias.setTo(cv::Scalar::all(7));
    primaryData.reset(new QZMatrix(alias.clone()));
    KeepInputTransform();
  }
};

TEST_F(SettledResults, TheCheckingBuildsStopAStageThatWritesIntoItsInputAndNameIt) {
  if (!DP_CommonBase::SealsResults()) GTEST_SKIP() << "results are sealed in the checking builds only";
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_DEATH(
      {
        QZRef<DP_SourceImage> source(new DP_SourceImage(QZRef<QZMatrix>(new QZMatrix(m_page.clone())), 0, 0));
        QZRef<WritesIntoItsInput> careless(new WritesIntoItsInput(source.get()));
        careless->GetPrimaryData(true);
      },
      "settled result of DP_SourceImage has changed; DP_SizeFittingImage wrote into it");
}

TEST_F(SettledResults, TheCheckingBuildsStopAHostThatWritesIntoAResultAndNameTheStageAndMode) {
  if (!DP_CommonBase::SealsResults()) GTEST_SKIP() << "results are sealed in the checking builds only";
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  ChainModes modes;
  const auto writeThenRelease = [&](bool handOutAView) {
    WholeChain whole(m_page, modes);
    DP_BinarizeROIImage* binary = nullptr;
    {
      testing::RegionChain region(whole, testing::FirstRegionOf(whole), modes);
      binary = region.binary->GetData(true);
      QZRef<QZMatrix> pixels = binary->GetPrimaryData(false);
      pixels->GetMat().setTo(cv::Scalar::all(1));  // what a host must never do
      if (handOutAView) binary->GetResultAsImageData();
    }
  };
  EXPECT_DEATH(writeThenRelease(true), "settled result of DP_BinarizeROIImage \\(BM_LOCAL_BLOCK\\) has changed.*view");
  EXPECT_DEATH(writeThenRelease(false), "settled result of DP_BinarizeROIImage \\(BM_LOCAL_BLOCK\\) has changed.*released");
}

}  // namespace
}  // namespace orvex
