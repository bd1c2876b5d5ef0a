// Settling under threads: an image known by its id whose pixels cannot be had, raced by
// hosts that bring the pixels, and two trees that adopt each other's regions, raced while
// they add, walk and release one image.
#include <OrvexStagecache.h>
#include <OrvexStagecacheHost.h>

#include "../support/HostPipeline.h"
#include "../support/TestScene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace orvex {
namespace {

using testing::AddRegionsAndGenerateLines;
using testing::PageParameters;
using testing::RegisterGroup;

constexpr int kThreads = 8;
constexpr int kRounds = 3;

QZParameterTreeLoader* Loader() { return QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader(); }
DataUnitManager* Table() { return QZParameterTreeAndDataPool::GetInstance()->GetDataManager(); }

StageRequestMap EveryStage() {
  StageRequestMap keep;
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    keep[static_cast<tav::DataUnitStageType>(stage)] = 1;
  }
  return keep;
}

template <class Work>
void RunOnThreads(Work work) {
  std::atomic<int> ready{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < kThreads; ++t) {
    pool.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      work(t);
    });
  }
  for (std::thread& thread : pool) thread.join();
}

// A page whose pixels, and so its id, are its own for `serial`.
cv::Mat Page(int serial) {
  cv::Mat page = testing::DrawBarPage(cv::Size(320, 240));
  page.at<cv::Vec3b>(0, 0) = cv::Vec3b(static_cast<uchar>(serial), 3, 7);
  return page;
}

std::string IdOf(const cv::Mat& pixels) {
  QZRef<QZMatrix> matrix(new QZMatrix(pixels.clone()));
  return SourceImageHashId(*matrix);
}

class NoPixels : public SourcePixels {
 public:
  QZRef<QZMatrix> Load() override { return QZRef<QZMatrix>(); }
};

// Segments in the line-segment results a group holds for the image.
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

class SettlingUnderThreads : public ::testing::Test {
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
  const StageRequestMap m_keep = EveryStage();
};

TEST_F(SettlingUnderThreads, KnownImagesWithoutPixelsRacingAddsWithPixelsAllEndWithTheRealRegions) {
  QZ_ImageParameter parameters = PageParameters(10);
  QZRef<ParamTreeGroup> known = Register("-known", &parameters);
  QZRef<ParamTreeGroup> decoded = Register("-decoded", &parameters);
  const int tableBefore = Table()->GetDataMapSize();
  for (int round = 0; round < kRounds; ++round) {
    const cv::Mat page = Page(round);
    const std::string id = IdOf(page);
    std::vector<std::vector<std::string>> found(kThreads);
    RunOnThreads([&](int t) {
      if (t % 2 == 0) {
        ASSERT_TRUE(ParamTreeGroup::AddKnownImageToGroups({known.get()}, id, new NoPixels, 0, 0, m_keep));
        found[t] = known->AddCandidateRegions(id);
      } else {
        QZRef<QZMatrix> pixels(new QZMatrix(page.clone()));
        char added[kHashIdBufferSize] = "";
        ASSERT_TRUE(decoded->AddSourceData(pixels, 0, 0, added, m_keep));
        found[t] = AddRegionsAndGenerateLines(*decoded, id);
        EXPECT_FALSE(found[t].empty()) << "a host that brought the pixels found no regions";
      }
    });
    // Once any host brought the pixels, every holder finds the same regions.
    const std::vector<std::string> regions = known->AddCandidateRegions(id);
    EXPECT_FALSE(regions.empty());
    for (int t = 0; t < kThreads; ++t) {
      if (!found[t].empty()) {
        EXPECT_EQ(found[t], regions) << "thread " << t;
      }
    }
    for (int t = 0; t < kThreads; ++t) {
      ParamTreeGroup& group = t % 2 == 0 ? *known : *decoded;
      group.MinusSavedTypeCount(id, m_keep);
    }
    known->RemoveSameSourceData(id);
    decoded->RemoveSameSourceData(id);
  }
  EXPECT_EQ(Table()->GetDataMapSize(), tableBefore);
}

TEST_F(SettlingUnderThreads, TwoTreesAdoptingEachOthersRegionsKeepEveryChainWholeWhileTheyComeAndGo) {
  QZ_ImageParameter gray = PageParameters(10);
  QZ_ImageParameter automatic = PageParameters(10);
  automatic.regionPredetectionModes[0].mode = RPM_AUTO;
  QZRef<ParamTreeGroup> groups[2] = {Register("-gray", &gray), Register("-auto", &automatic)};
  const cv::Mat page = Page(0);
  const std::string id = IdOf(page);
  // What one tree finds alone.
  int segmentsAlone = 0;
  {
    QZRef<QZMatrix> pixels(new QZMatrix(page.clone()));
    char added[kHashIdBufferSize] = "";
    ASSERT_TRUE(groups[0]->AddSourceData(pixels, 0, 0, added, m_keep));
    AddRegionsAndGenerateLines(*groups[0], id);
    segmentsAlone = CountSegments(*groups[0], id);
    groups[0]->MinusSavedTypeCount(id, m_keep);
    groups[0]->RemoveSameSourceData(id);
  }
  ASSERT_GT(segmentsAlone, 0);
  const int tableBefore = Table()->GetDataMapSize();
  RunOnThreads([&](int t) {
    ParamTreeGroup& group = *groups[t % 2];
    for (int round = 0; round < kRounds; ++round) {
      QZRef<QZMatrix> pixels(new QZMatrix(page.clone()));
      char added[kHashIdBufferSize] = "";
      ASSERT_TRUE(group.AddSourceData(pixels, 0, 0, added, m_keep));
      AddRegionsAndGenerateLines(group, id);
      EXPECT_EQ(CountSegments(group, id), segmentsAlone);
      // Every region the tree lists walks up to the source image.
      tav::CDataUnitArray regions;
      ASSERT_EQ(group.GetDataUnits(tav::DUST_ROI_COLOUR_IMAGE, id.c_str(), &regions), 0);
      for (int i = 0; i < regions.GetCount(); ++i) {
        int depth = 0;
        for (const tav::CDataUnit* unit = regions.GetDataUnit(i); unit != nullptr; ++depth) {
          tav::CDataUnit* parent = nullptr;
          ASSERT_EQ(unit->GetParentDataUnit(&parent), 0);
          unit = parent;
        }
        EXPECT_EQ(depth, tav::DUST_ROI_COLOUR_IMAGE);
      }
      group.MinusSavedTypeCount(id, m_keep);
      group.RemoveSameSourceData(id);
    }
  });
  Loader()->UpdateTreeGroups();
  Table()->UpdateTotalDataMapUntilSettled();
  EXPECT_EQ(Table()->GetDataMapSize(), tableBefore);
}

}  // namespace
}  // namespace orvex
