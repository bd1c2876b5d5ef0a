// The sharing promise under threads: one result object per data hash id, computed once,
// never freed under a reader, and nothing held by one requester dropped by another.
#include <OrvexStagecache.h>
#include <OrvexStagecacheHost.h>

#include "../support/HostPipeline.h"
#include "../support/TestScene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvex {
namespace {

using testing::AddRegionsAndGenerateLines;
using testing::ComputationCounts;
using testing::ComputationsSince;
using testing::GenerateLineSegments;
using testing::PageParameters;
using testing::RegisterGroup;

constexpr int kThreads = 8;

DataUnitManager* Table() { return QZParameterTreeAndDataPool::GetInstance()->GetDataManager(); }
QZParameterTreeLoader* Loader() { return QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader(); }

// What lives in the process: results in the table, wraps, stage objects, nodes.
struct LiveObjects {
  int tableEntries = Table()->GetDataMapSize();
  int wraps = DW_Base::GetLiveCount();
  int stages = DP_CommonBase::GetTotalLiveCount();
  int nodes = ParameterNodeBase::GetLiveCount();
};

void ExpectBackAt(const LiveObjects& baseline) {
  const LiveObjects now;
  EXPECT_EQ(now.tableEntries, baseline.tableEntries);
  EXPECT_EQ(now.wraps, baseline.wraps);
  EXPECT_EQ(now.stages, baseline.stages);
  EXPECT_EQ(now.nodes, baseline.nodes);
}

// Runs `work(thread index)` on kThreads threads started together.
template <class Work>
void RunOnThreads(int threads, Work work) {
  std::atomic<int> ready{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < threads) std::this_thread::yield();
      work(t);
    });
  }
  for (std::thread& thread : pool) thread.join();
}

// A small drawn page; `serial` makes its pixels (and so its id) its own.
cv::Mat SmallPage(int serial, cv::Size size = cv::Size(96, 72)) {
  cv::Mat page = testing::DrawBarPage(size);
  page.at<cv::Vec3b>(0, 0) = cv::Vec3b(serial & 0xff, (serial >> 8) & 0xff, 7);
  return page;
}

// Four parameter sets whose trees overlap: b differs from a in binarization only, c has a's
// whole branch and an HSV one beside it, d transforms to both original and inverted gray and
// binarizes with both of a's and b's settings.
std::vector<QZ_ImageParameter> OverlappingParameters() {
  QZ_ImageParameter a = PageParameters(10);
  QZ_ImageParameter b = PageParameters(2);
  QZ_ImageParameter c = PageParameters(10);
  QZVP_ColourConversionModeStruct hsv;
  hsv.mode = CICM_HSV;
  hsv.channel = QZVP_V_CHANNEL;
  c.colourConversionModes.push_back(hsv);
  QZ_ImageParameter d = PageParameters(10);
  d.grayscaleTransformationModes = {QZVP_GrayscaleTransformationModeStruct(GTM_AUTO)};
  d.binarizationModes.push_back(b.binarizationModes[0]);
  return {a, b, c, d};
}

// Four groups registered in the process-wide pool, dropped again at the end.
class SharingUnderThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    m_parameters = OverlappingParameters();
    const std::string prefix = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (size_t i = 0; i < m_parameters.size(); ++i) {
      const std::string name = prefix + "-" + std::to_string(i);
      m_groups.push_back(Loader()->InitParameterTreeGroup(&m_parameters[i], &RegisterGroup, name.c_str()));
      ASSERT_TRUE(m_groups.back());
    }
  }

  void TearDown() override {
    m_groups.clear();
    Loader()->UpdateTreeGroups();
  }

  std::vector<QZ_ImageParameter> m_parameters;
  std::vector<QZRef<ParamTreeGroup>> m_groups;
};

// Reads every result of the image through the C functions and the interface classes,
// and checks that each listing holds live units only and that the table agrees.
void ReadEveryResult(const ParamTreeGroup& group, const char* imageId) {
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    tav::CDataUnitArray units;
    ASSERT_EQ(TAV_ParameterTree_GetDataUnits(&group, static_cast<tav::DataUnitStageType>(stage), imageId, &units), 0);
    for (int i = 0; i < units.GetCount(); ++i) {
      const tav::CDataUnit* unit = units.GetDataUnit(i);
      ASSERT_NE(unit, nullptr);
      ASSERT_NE(unit->GetHashId(), nullptr);
      tav::CDataUnit* found = nullptr;
      EXPECT_EQ(TAV_ParameterTree_GetDataUnit(&group, unit->GetHashId(), &found), 0);
      EXPECT_EQ(found, unit) << "the table and the node disagree on " << unit->GetHashId();
      tav::CDataUnit* parent = nullptr;
      EXPECT_EQ(TAV_DataUnit_GetParentDataUnit(unit, &parent), 0);
      EXPECT_EQ(parent != nullptr, stage > tav::DUST_SOURCE_IMAGE);
      tav::CDataUnitArray children;
      EXPECT_EQ(TAV_DataUnit_GetChildDataUnits(unit, &group, &children), 0);
      for (int c = 0; c < children.GetCount(); ++c) {
        tav::CDataUnit* childParent = nullptr;
        ASSERT_NE(children.GetDataUnit(c), nullptr);
        TAV_DataUnit_GetParentDataUnit(children.GetDataUnit(c), &childParent);
        EXPECT_EQ(childParent, unit);
      }
      tav::CDataUnitArray siblings;
      EXPECT_EQ(TAV_DataUnit_GetSiblingDataUnits(unit, &group, &siblings), 0);
      for (int s = 0; s < siblings.GetCount(); ++s) {
        ASSERT_NE(siblings.GetDataUnit(s), nullptr);
        EXPECT_NE(siblings.GetDataUnit(s), unit);
      }
      if (unit->GetMediaType() == tav::DUMT_IMAGE) {
        core::CImageData* image = nullptr;
        EXPECT_EQ(TAV_DataUnit_GetDataAsImageData(unit, &image), 0);
        EXPECT_NE(image, nullptr) << "stage " << stage;
      }
    }
  }
}

// Every result a node of the group holds for the image is the table's object for its id.
void ExpectNodesAgreeWithTable(ParamTreeGroup& group, const std::string& imageId) {
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    for (ParameterNodeBase* node : group.GetTree()->GetAllNodesOfStage(static_cast<tav::DataUnitStageType>(stage))) {
      tav::CDataUnitArray units;
      node->GetDataUnits(imageId.c_str(), &units);
      for (int i = 0; i < units.GetCount(); ++i) {
        const tav::CDataUnit* unit = units.GetDataUnit(i);
        QZRef<DW_Base> entry;
        ASSERT_TRUE(Table()->GetFromTotalDataMap(unit->GetHashId(), entry)) << unit->GetHashId();
        EXPECT_EQ(static_cast<const tav::CDataUnit*>(entry.get()), unit);
      }
    }
  }
}

// One image as a host works on it: added to every group and twice to one, regions added
// and line segments made through each, everything read back, then released.
void WorkOnImage(std::vector<QZRef<ParamTreeGroup>>& groups, const cv::Mat& page, size_t doubled) {
  const StageRequestMap keep = RequestEveryStage();
  QZRef<QZMatrix> matrix(new QZMatrix(page));
  std::string imageId;
  std::vector<ParamTreeGroup*> requesters;
  for (size_t g = 0; g < groups.size(); ++g) {
    for (int copy = 0; copy < (g == doubled ? 2 : 1); ++copy) {
      char id[kHashIdBufferSize];
      ASSERT_TRUE(groups[g]->AddSourceData(matrix, 0, 0, id, keep));
      imageId = id;
      requesters.push_back(groups[g].get());
    }
  }
  for (QZRef<ParamTreeGroup>& group : groups) {
    EXPECT_FALSE(AddRegionsAndGenerateLines(*group, imageId).empty());
  }
  for (QZRef<ParamTreeGroup>& group : groups) {
    ReadEveryResult(*group, imageId.c_str());
    ExpectNodesAgreeWithTable(*group, imageId);
  }
  for (ParamTreeGroup* group : requesters) {
    group->MinusSavedTypeCount(imageId, keep);
    group->RemoveSameSourceData(imageId);
  }
}

TEST_F(SharingUnderThreads, EightThreadsComputeAndCountWhatOneThreadDoesAndLeaveNothingBehind) {
  const int images = 32;
  std::vector<cv::Mat> pages;
  for (int i = 0; i < images; ++i) pages.push_back(SmallPage(i));
  const LiveObjects baseline;
  QZParameterTreeAndDataPool* pool = QZParameterTreeAndDataPool::GetInstance();

  pool->ResetStatistics();
  std::vector<int> before = ComputationCounts();
  for (int i = 0; i < images; ++i) WorkOnImage(m_groups, pages[i], i % m_groups.size());
  const std::vector<int> oneThread = ComputationsSince(before);
  const CacheStatistics oneThreadRequests = pool->GetStatistics();
  ExpectBackAt(baseline);

  pool->ResetStatistics();
  before = ComputationCounts();
  std::atomic<int> next{0};
  RunOnThreads(kThreads, [&](int) {
    for (int i = next.fetch_add(1); i < images; i = next.fetch_add(1)) WorkOnImage(m_groups, pages[i], i % m_groups.size());
  });
  const std::vector<int> eightThreads = ComputationsSince(before);
  const CacheStatistics eightThreadRequests = pool->GetStatistics();
  for (int kind = 0; kind < DPK_COUNT; ++kind) {
    EXPECT_GT(oneThread[kind], 0) << "stage class " << kind;
    EXPECT_EQ(eightThreads[kind], oneThread[kind]) << "stage class " << kind;
  }
  // Each image is worked on by one thread, so every request is answered as with one
  // thread, and counted exactly.
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    const StageStatistics& one = oneThreadRequests.stages[stage];
    const StageStatistics& eight = eightThreadRequests.stages[stage];
    EXPECT_EQ(eight.ownResults, one.ownResults) << "stage " << stage;
    EXPECT_EQ(eight.adoptedResults, one.adoptedResults) << "stage " << stage;
    EXPECT_EQ(eight.createdResults, one.createdResults) << "stage " << stage;
  }
  EXPECT_GT(oneThreadRequests.stages[tav::DUST_LINE_SEGMENTS].ownResults, 0u);
  std::printf("computations per stage class, one thread / eight threads:");
  for (int kind = 0; kind < DPK_COUNT; ++kind) std::printf(" %d/%d", oneThread[kind], eightThreads[kind]);
  std::printf("\n");
  ExpectBackAt(baseline);
  const int nodes = ParameterNodeBase::GetLiveCount();
  m_groups.clear();
  EXPECT_TRUE(Loader()->UpdateTreeGroups());
  EXPECT_LT(ParameterNodeBase::GetLiveCount(), nodes);
}

TEST_F(SharingUnderThreads, ChildAndSiblingListingsHoldLiveUnitsWhileRegionsAreReAdded) {
  // Groups a and b share the candidate-regions node, so both add the same regions.
  ParamTreeGroup& group = *m_groups[0];
  ParamTreeGroup& other = *m_groups[1];
  const cv::Mat page = SmallPage(1, cv::Size(240, 180));
  const StageRequestMap keep = RequestEveryStage();
  QZRef<QZMatrix> matrix(new QZMatrix(page));
  char imageId[kHashIdBufferSize];
  ASSERT_TRUE(group.AddSourceData(matrix, 0, 0, imageId, keep));
  ASSERT_TRUE(other.AddSourceData(matrix, 0, 0, imageId, keep));
  ASSERT_FALSE(group.AddCandidateRegions(imageId).empty());
  QZRef<DW_CandidateROIs> candidates = static_cast<PN_CandidateROIs*>(group.GetRegionNodes()[0])->GetData(imageId, false, false);
  ASSERT_TRUE(candidates);

  // Two threads add the regions again and again through both groups; six list the
  // candidates' children and their siblings meanwhile. Every listed unit stays held by a
  // node, so the readers may use it.
  std::atomic<int> writersLeft{2};
  std::atomic<long> listed{0};
  RunOnThreads(kThreads, [&](int t) {
    if (t < 2) {
      for (int round = 0; round < 60; ++round) GenerateLineSegments(t ? other : group, (t ? other : group).AddCandidateRegions(imageId));
      writersLeft.fetch_sub(1);
      return;
    }
    while (writersLeft.load() > 0) {
      // Half the readers list through the C functions with the tree, half every child.
      tav::CDataUnitArray children;
      const int listing = t % 2 ? TAV_DataUnit_GetChildDataUnits(candidates.get(), &group, &children)
                                : candidates->GetChildDataUnits(nullptr, &children);
      ASSERT_EQ(listing, 0);
      for (int c = 0; c < children.GetCount(); ++c) {
        const tav::CDataUnit* child = children.GetDataUnit(c);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(child->GetStageType(), tav::DUST_ROI_COLOUR_IMAGE);
        tav::CDataUnitArray siblings;
        EXPECT_EQ(TAV_DataUnit_GetSiblingDataUnits(child, &group, &siblings), 0);
        for (int s = 0; s < siblings.GetCount(); ++s) {
          ASSERT_NE(siblings.GetDataUnit(s), nullptr);
          EXPECT_EQ(siblings.GetDataUnit(s)->GetStageType(), tav::DUST_ROI_COLOUR_IMAGE);
        }
        listed.fetch_add(1);
      }
    }
  });
  EXPECT_GT(listed.load(), 0);
  tav::CDataUnitArray children;
  candidates->GetChildDataUnits(nullptr, &children);
  EXPECT_EQ(children.GetCount(), static_cast<int>(group.AddCandidateRegions(imageId).size()));
  candidates.reset();
  for (ParamTreeGroup* requester : {&group, &other}) {
    requester->MinusSavedTypeCount(imageId, keep);
    requester->RemoveSameSourceData(imageId);
  }
}

TEST_F(SharingUnderThreads, EightThreadsAddingTheCandidateRegionsOfANewImageGetOneListAndOneDetection) {
  ParamTreeGroup& group = *m_groups[0];
  const StageRequestMap keep = RequestEveryStage();
  QZRef<QZMatrix> matrix(new QZMatrix(SmallPage(3, cv::Size(240, 180))));
  char imageId[kHashIdBufferSize];
  ASSERT_TRUE(group.AddSourceData(matrix, 0, 0, imageId, keep));
  const std::vector<int> before = ComputationCounts();
  std::vector<std::vector<std::string>> lists(kThreads);
  RunOnThreads(kThreads, [&](int t) { lists[t] = group.AddCandidateRegions(imageId); });
  ASSERT_FALSE(lists[0].empty());
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(lists[t], lists[0]) << t;
  const std::vector<int> computed = ComputationsSince(before);
  EXPECT_EQ(computed[DPK_DETECT_ROIS], 1);
  EXPECT_EQ(computed[DPK_ROI_IMAGE], 0);  // regions are added, not computed
  // One result per region in the region node, and one per region in the table.
  tav::CDataUnitArray regions;
  ASSERT_EQ(TAV_ParameterTree_GetDataUnits(&group, tav::DUST_ROI_COLOUR_IMAGE, imageId, &regions), 0);
  EXPECT_EQ(regions.GetCount(), static_cast<int>(lists[0].size()));
  for (const std::string& id : lists[0]) {
    tav::CDataUnit* unit = nullptr;
    EXPECT_EQ(group.GetDataUnit(id.c_str(), &unit), 0);
    EXPECT_NE(unit, nullptr);
  }
  group.MinusSavedTypeCount(imageId, keep);
  group.RemoveSameSourceData(imageId);
}

TEST_F(SharingUnderThreads, ARequesterKeepsEverythingItCountsWhileAnotherReleasesTheSameImage) {
  ParamTreeGroup& group = *m_groups[0];
  const cv::Mat page = SmallPage(2);
  const StageRequestMap keep = RequestEveryStage();
  const LiveObjects baseline;
  std::atomic<int> lost{0};
  RunOnThreads(kThreads, [&](int) {
    for (int round = 0; round < 12; ++round) {
      QZRef<QZMatrix> matrix(new QZMatrix(page));
      char imageId[kHashIdBufferSize];
      ASSERT_TRUE(group.AddSourceData(matrix, 0, 0, imageId, keep));
      const std::vector<std::string> regions = AddRegionsAndGenerateLines(group, imageId);
      // While this requester's counter is up, its source, regions and line segments stay.
      tav::CDataUnitArray units;
      group.GetDataUnits(tav::DUST_SOURCE_IMAGE, imageId, &units);
      if (units.GetCount() != 1) lost.fetch_add(1);
      group.GetDataUnits(tav::DUST_ROI_COLOUR_IMAGE, imageId, &units);
      if (units.GetCount() != static_cast<int>(regions.size())) lost.fetch_add(1);
      group.GetDataUnits(tav::DUST_LINE_SEGMENTS, imageId, &units);
      if (units.GetCount() != static_cast<int>(regions.size())) lost.fetch_add(1);
      group.MinusSavedTypeCount(imageId, keep);
      group.RemoveSameSourceData(imageId);
    }
  });
  EXPECT_EQ(lost.load(), 0);
  ExpectBackAt(baseline);
}

TEST_F(SharingUnderThreads, FirstListingsOfAFreshTreeChangeNothing) {
  QZ_ImageParameter parameters = PageParameters(5);
  QZRef<ParamTreeGroup> fresh = Loader()->InitParameterTreeGroup(&parameters, &RegisterGroup, "first-listings-fresh");
  ASSERT_TRUE(fresh);
  const size_t listedStages = fresh->GetTree()->GetNodesMap().size();
  std::vector<int> seen(kThreads, 0);
  RunOnThreads(kThreads, [&](int t) {
    for (int stage : {0, 2, 3, 6, 10, 11, 13, 14, 15, 18, 20, 24, 28, 999, 1, 8, 23}) {
      const auto type = static_cast<tav::DataUnitStageType>(stage);
      tav::CParameterTreeNodeArray nodes;
      tav::CDataUnitArray units;
      EXPECT_EQ(TAV_ParameterTree_GetNodes(fresh.get(), type, &nodes), 0);
      EXPECT_EQ(fresh->GetDataUnits(type, "no-such-image", &units), 0);
      EXPECT_EQ(units.GetCount(), 0);
      seen[t] += nodes.GetCount() + fresh->GetRegionNodes().GetCount();
    }
  });
  EXPECT_EQ(fresh->GetTree()->GetNodesMap().size(), listedStages);
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[t], seen[0]);
  EXPECT_GT(seen[0], 0);
  fresh.reset();
  Loader()->UpdateTreeGroups();
}

long ResidentKiB() {
  long pages = 0, resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(statm);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMeasuresMemory = false;  // the sanitizers keep freed memory on purpose
#else
constexpr bool kMeasuresMemory = true;
#endif

TEST_F(SharingUnderThreads, TwoThousandImagesThroughOnePoolLeaveNoRecordsBehind) {
  ParamTreeGroup& group = *m_groups[0];
  const StageRequestMap keep = RequestEveryStage();
  const LiveObjects baseline;
  const int regionRecords = group.GetTree()->GetRegionIdSourceCount();
  const int images = 2000, batch = 100;
  long residentAt100 = 0;
  for (int first = 0; first < images; first += batch) {
    std::atomic<int> next{first};
    RunOnThreads(kThreads, [&](int) {
      for (int i = next.fetch_add(1); i < first + batch; i = next.fetch_add(1)) {
        QZRef<QZMatrix> matrix(new QZMatrix(SmallPage(i, cv::Size(64, 48))));
        char imageId[kHashIdBufferSize];
        ASSERT_TRUE(group.AddSourceData(matrix, 0, 0, imageId, keep));
        AddRegionsAndGenerateLines(group, imageId);
        group.MinusSavedTypeCount(imageId, keep);
        group.RemoveSameSourceData(imageId);
        EXPECT_FALSE(group.HasSavedTypeCounter(imageId));
      }
    });
    ExpectBackAt(baseline);
    ASSERT_EQ(group.GetTree()->GetRegionIdSourceCount(), regionRecords) << "after " << first + batch << " images";
    if (first + batch == 100) residentAt100 = ResidentKiB();
  }
  const long residentAtEnd = ResidentKiB();
  std::printf("resident memory: %ld KiB after 100 images, %ld KiB after %d\n", residentAt100, residentAtEnd, images);
  if (kMeasuresMemory) {
    EXPECT_LE(residentAtEnd, residentAt100 + residentAt100 / 10);
  }
}

}  // namespace
}  // namespace orvex
