// The sharing promise at its edges: results adopted across groups, groups over one tree,
// trees registered again while in use, listings racing the last holder, trees without a
// table, and host matrices refilled after they were added.
#include <OrvexStagecache.h>
#include <OrvexStagecacheHost.h>

#include "paramtree/TreeGeneration.h"

#include "../support/HostPipeline.h"
#include "../support/TestScene.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace orvex {
namespace {

using testing::AddRegionsAndGenerateLines;
using testing::GenerateLineSegments;
using testing::PageParameters;
using testing::RegisterGroup;

QZParameterTreeLoader* Loader() { return QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader(); }
DataUnitManager* Table() { return QZParameterTreeAndDataPool::GetInstance()->GetDataManager(); }

StageRequestMap EveryStage() {
  StageRequestMap keep;
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    keep[static_cast<tav::DataUnitStageType>(stage)] = 1;
  }
  return keep;
}

std::string Add(ParamTreeGroup& group, const cv::Mat& pixels, const StageRequestMap& keep) {
  QZRef<QZMatrix> matrix(new QZMatrix(pixels.clone()));
  char id[kHashIdBufferSize] = "";
  return group.AddSourceData(matrix, 0, 0, id, keep) ? std::string(id) : std::string();
}

void Release(ParamTreeGroup& group, const std::string& id, const StageRequestMap& keep) {
  group.MinusSavedTypeCount(id, keep);
  group.RemoveSameSourceData(id);
}

// Results of one stage that a group lists for an image.
int CountUnits(const ParamTreeGroup& group, tav::DataUnitStageType stage, const std::string& id) {
  tav::CDataUnitArray units;
  EXPECT_EQ(group.GetDataUnits(stage, id.c_str(), &units), 0);
  return units.GetCount();
}

int CountAllUnits(const ParamTreeGroup& group, const std::string& id) {
  int total = 0;
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    total += CountUnits(group, static_cast<tav::DataUnitStageType>(stage), id);
  }
  return total;
}

// Groups registered under names of their own, dropped again at the end.
class SharingEdges : public ::testing::Test {
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

  QZ_ImageParameter m_parameters = PageParameters(10);
};

TEST_F(SharingEdges, AnAdoptedResultsParentLivesWhileTheAdoptingGroupCountsIt) {
  QZRef<ParamTreeGroup> maker = Register("-maker", &m_parameters);
  QZRef<ParamTreeGroup> adopter = Register("-adopter", &m_parameters);
  const cv::Mat page = testing::DrawBarPage(cv::Size(320, 240));
  const StageRequestMap keep = EveryStage();

  const std::string id = Add(*maker, page, keep);
  ASSERT_FALSE(id.empty());
  const std::vector<std::string> regions = AddRegionsAndGenerateLines(*maker, id);
  ASSERT_FALSE(regions.empty());

  // The adopter meets every result in the table and asks only for the line segments.
  ASSERT_EQ(Add(*adopter, page, keep), id);
  ASSERT_EQ(adopter->AddCandidateRegions(id), regions);
  GenerateLineSegments(*adopter, regions);
  tav::CDataUnitArray lines;
  ASSERT_EQ(adopter->GetDataUnits(tav::DUST_LINE_SEGMENTS, id.c_str(), &lines), 0);
  ASSERT_GT(lines.GetCount(), 0);
  tav::CDataUnit* contours = nullptr;
  ASSERT_EQ(TAV_DataUnit_GetParentDataUnit(lines.GetDataUnit(0), &contours), 0);
  ASSERT_NE(contours, nullptr);
  const std::string contoursId = contours->GetHashId();

  Release(*maker, id, keep);

  // The adopter still counts every stage: the parents of what it holds are its own.
  EXPECT_EQ(std::string(contours->GetHashId()), contoursId);
  tav::CDataUnit* again = nullptr;
  ASSERT_EQ(TAV_DataUnit_GetParentDataUnit(lines.GetDataUnit(0), &again), 0);
  EXPECT_EQ(again, contours);
  EXPECT_EQ(CountUnits(*adopter, tav::DUST_CONTOURS, id), CountUnits(*adopter, tav::DUST_LINE_SEGMENTS, id));
  for (const tav::DataUnitStageType stage : {tav::DUST_SOURCE_IMAGE, tav::DUST_GRAYSCALE_IMAGE_FOR_ROI,
                                             tav::DUST_ROI_GRAYSCALE_IMAGE, tav::DUST_ROI_BINARY_IMAGE}) {
    EXPECT_GT(CountUnits(*adopter, stage, id), 0) << "stage " << stage;
  }
  Release(*adopter, id, keep);
  EXPECT_EQ(CountAllUnits(*adopter, id), 0);
}

TEST_F(SharingEdges, TwoGroupsOverOneTreeKeepWhatEitherCounts) {
  QZRef<ParamTreeGroup> first = Register("", &m_parameters);
  QZRef<ParamTreeGroup> second = Register("", &m_parameters);
  ASSERT_NE(first, second);
  ASSERT_EQ(first->GetTree(), second->GetTree());
  const cv::Mat page = testing::DrawBarPage(cv::Size(320, 240));
  const StageRequestMap keep = EveryStage();

  const std::string id = Add(*first, page, keep);
  AddRegionsAndGenerateLines(*first, id);
  const int held = CountAllUnits(*first, id);
  ASSERT_GT(held, 20);

  ASSERT_EQ(Add(*second, page, keep), id);
  Release(*second, id, keep);
  EXPECT_EQ(CountAllUnits(*first, id), held);
  EXPECT_TRUE(first->HasSavedTypeCounter(id));

  Release(*first, id, keep);
  EXPECT_EQ(CountAllUnits(*first, id), 0);
  EXPECT_FALSE(second->HasSavedTypeCounter(id));
}

// A host's callback that builds the tree itself, as a registration callback may.
QZRef<ParamTreeGroup> BuildByHand(void* host, QZParameterTreeLoader* loader, const char* name) {
  auto* parameters = static_cast<QZ_ImageParameter*>(host);
  QZRef<QZParameterTree> tree = loader->CreateParameterTree(name, parameters);
  if (!tree) return QZRef<ParamTreeGroup>();
  const ParamNodeArray regionNodes = tree->FindNodesOfStage(tav::DUST_CANDIDATE_ROIS);
  for (int i = 0; i < regionNodes.GetCount(); ++i) loader->ExtandRegionPart(tree, regionNodes[i], parameters);
  QZRef<ParamTreeGroup> group(new ParamTreeGroup(tree));
  loader->GetParamTreeGroupPool()[name] = group;
  return group;
}

TEST_F(SharingEdges, RegisteringALiveNameAgainChangesNothingItsReadersSee) {
  const std::string name = "live-name-registered-again";
  QZRef<ParamTreeGroup> group = Loader()->InitParameterTreeGroup(&m_parameters, &BuildByHand, name.c_str());
  ASSERT_TRUE(group);
  const ParamNodeArray& candidates = group->GetTree()->FindNodesOfStage(tav::DUST_CANDIDATE_ROIS);
  ASSERT_GT(candidates.GetCount(), 0);
  const int nodes = group->GetTree()->GetNodeCount();
  const int children = candidates[0]->GetChildren().GetCount();

  std::atomic<bool> done{false};
  std::atomic<int> listings{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 8; ++t) {
    readers.emplace_back([&] {
      while (!done.load()) {
        for (int i = 0; i < candidates.GetCount(); ++i) {
          tav::CParameterTreeNodeArray listed;
          ASSERT_EQ(TAV_ParameterTreeNode_GetChildNodes(candidates[i], &listed), 0);
          ASSERT_EQ(listed.GetCount(), children);
          for (int c = 0; c < listed.GetCount(); ++c) {
            ASSERT_EQ(listed.GetParameterTreeNode(c)->GetDataUnitStageType(), tav::DUST_ROI_COLOUR_IMAGE);
          }
          tav::CParameterTreeNode* found = nullptr;
          ASSERT_EQ(group->GetNode(candidates[i]->GetHashId(), &found), 0);
          ASSERT_EQ(found, candidates[i]);
        }
        listings.fetch_add(1);
      }
    });
  }
  for (int round = 0; round < 50; ++round) {
    QZRef<ParamTreeGroup> again = Loader()->InitParameterTreeGroup(&m_parameters, &BuildByHand, name.c_str());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->GetTree(), group->GetTree());
  }
  while (listings.load() < 8) std::this_thread::yield();
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(group->GetTree()->GetNodeCount(), nodes);
  EXPECT_EQ(candidates[0]->GetChildren().GetCount(), children);
}

TEST_F(SharingEdges, ChildListingsRacingTheLastHolderNeitherDeadlockNorHandOutTheDying) {
  // Wraps held by host handles only, without a tree or a table.
  QZRef<QZMatrix> image(new QZMatrix(testing::DrawBarPage(cv::Size(64, 48))));
  QZRef<DW_SourceImage> source(new DW_SourceImage(image, 0, 0));
  source->SetDataHashID("source");
  source->SetSourceHashID("source");
  std::atomic<bool> done{false};
  std::atomic<long> listed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 40000; ++i) {
        QZRef<DW_ColourImageAfterSizeFitting> child(new DW_ColourImageAfterSizeFitting(source.get()));
        child.reset();
      }
    });
  }
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      while (!done.load()) {
        tav::CDataUnitArray children;
        ASSERT_EQ(source->GetChildDataUnits(nullptr, &children), 0);
        for (int c = 0; c < children.GetCount(); ++c) ASSERT_NE(children.GetDataUnit(c), nullptr);
        listed.fetch_add(1);
      }
    });
  }
  for (int t = 0; t < 4; ++t) threads[t].join();
  done = true;
  for (size_t t = 4; t < threads.size(); ++t) threads[t].join();
  EXPECT_GT(listed.load(), 0);
  tav::CDataUnitArray children;
  EXPECT_EQ(source->GetChildDataUnits(nullptr, &children), 0);
  EXPECT_EQ(children.GetCount(), 0);
}

TEST_F(SharingEdges, AGroupOverATreeWithoutTableAddsListsAndReleases) {
  std::vector<QZVP_GrayscaleTransformationModeStruct> transforms;
  FilterGrayscaleTransformationMode(m_parameters.grayscaleTransformationModes, transforms);
  QZRef<QZParameterTree> tree = GenerateWholeImageParamTreeByModes(
      static_cast<DataUnitManager*>(nullptr), m_parameters.scalingDownValue, m_parameters.colourConversionModes,
      transforms, m_parameters.regionPredetectionModes);
  ASSERT_EQ(tree->GetTable(), nullptr);
  QZRef<ParamTreeGroup> group(new ParamTreeGroup(tree));
  const StageRequestMap keep = EveryStage();
  const std::string id = Add(*group, testing::DrawBarPage(cv::Size(160, 120)), keep);
  ASSERT_FALSE(id.empty());
  group->AddCandidateRegions(id);
  EXPECT_GT(CountUnits(*group, tav::DUST_CANDIDATE_ROIS, id), 0);

  tav::CDataUnit* unit = nullptr;
  EXPECT_EQ(group->GetDataUnit(id.c_str(), &unit), 0);
  EXPECT_EQ(TAV_ParameterTree_GetDataUnit(group.get(), id.c_str(), &unit), 0);
  Release(*group, id, keep);
  EXPECT_EQ(CountAllUnits(*group, id), 0);
}

// The pixels a result shows, as one hash.
std::string PixelsOf(const ParamTreeGroup& group, tav::DataUnitStageType stage, const std::string& id) {
  tav::CDataUnitArray units;
  EXPECT_EQ(group.GetDataUnits(stage, id.c_str(), &units), 0);
  if (units.GetCount() == 0) return std::string();
  core::CImageData* image = nullptr;
  if (units.GetDataUnit(0)->GetDataAsImageData(&image) != 0 || image == nullptr) return std::string();
  QZRef<QZMatrix> copy(new QZMatrix);
  int error = 0;
  QZMatrix::GetMatrixByBuffer(image->GetBytes(), image->GetWidth(), image->GetHeight(), image->GetStride(),
                              image->GetImagePixelFormat(), &error, 2, copy.get(), CCUT_ALL_CHANNELS);
  return copy->CalcHashID() ? copy->GetHashID() : std::string();
}

TEST_F(SharingEdges, RefillingTheHostsMatrixWithTheNextFrameChangesNoCachedResult) {
  QZRef<ParamTreeGroup> group = Register("", &m_parameters);
  const StageRequestMap keep = EveryStage();
  const cv::Mat frameA = testing::DrawBarPage(cv::Size(320, 240));
  cv::Mat frameB = frameA.clone();
  frameB(cv::Rect(40, 40, 120, 60)).setTo(cv::Scalar(0, 0, 255));

  // One matrix, refilled in place with every frame, as a camera loop does.
  QZRef<QZMatrix> matrix(new QZMatrix(frameA.clone()));
  char idA[kHashIdBufferSize] = "";
  ASSERT_TRUE(group->AddSourceData(matrix, 0, 0, idA, keep));
  group->AddCandidateRegions(idA);
  const std::string sourceA = PixelsOf(*group, tav::DUST_SOURCE_IMAGE, idA);
  const std::string grayA = PixelsOf(*group, tav::DUST_GRAYSCALE_IMAGE_FOR_ROI, idA);
  ASSERT_EQ(sourceA, std::string(idA));

  frameB.copyTo(matrix->GetMat());
  char idB[kHashIdBufferSize] = "";
  ASSERT_TRUE(group->AddSourceData(matrix, 0, 0, idB, keep));
  ASSERT_STRNE(idA, idB);
  group->AddCandidateRegions(idB);

  EXPECT_EQ(PixelsOf(*group, tav::DUST_SOURCE_IMAGE, idA), sourceA);
  EXPECT_EQ(PixelsOf(*group, tav::DUST_GRAYSCALE_IMAGE_FOR_ROI, idA), grayA);
  EXPECT_EQ(PixelsOf(*group, tav::DUST_SOURCE_IMAGE, idB), std::string(idB));
  // Frame A again, from a fresh matrix: the same image, not a collision.
  EXPECT_EQ(Add(*group, frameA, keep), std::string(idA));
  Release(*group, idA, keep);
  Release(*group, idA, keep);
  Release(*group, idB, keep);
}

TEST_F(SharingEdges, TwoSourcesThatScaleDownToEqualImagesKeepTheirRegionsApart) {
  QZRef<ParamTreeGroup> group = Register("", &m_parameters);
  const StageRequestMap keep = EveryStage();
  const cv::Mat page = testing::DrawBarPage(cv::Size(800, 600));
  cv::Mat twice;  // scaled down to `page` again by the tree's scaling-down stage (800)
  cv::resize(page, twice, cv::Size(), 2.0, 2.0, cv::INTER_NEAREST);
  const std::string small = Add(*group, page, keep), large = Add(*group, twice, keep);
  ASSERT_NE(small, large);
  const std::vector<std::string> smallRegions = AddRegionsAndGenerateLines(*group, small);
  const std::vector<std::string> largeRegions = AddRegionsAndGenerateLines(*group, large);
  ASSERT_FALSE(largeRegions.empty());
  for (const std::string& region : largeRegions) {
    EXPECT_EQ(std::count(smallRegions.begin(), smallRegions.end(), region), 0) << "a region of two sources";
  }
  const int lines = CountUnits(*group, tav::DUST_LINE_SEGMENTS, large);
  EXPECT_EQ(lines, CountUnits(*group, tav::DUST_LINE_SEGMENTS, small));
  Release(*group, small, keep);
  EXPECT_EQ(CountUnits(*group, tav::DUST_LINE_SEGMENTS, large), lines) << "the other source's release took them";
  Release(*group, large, keep);
  EXPECT_EQ(CountAllUnits(*group, large), 0);
}

// The matrix a group's source result keeps for an image.
const QZMatrix* KeptMatrix(const ParamTreeGroup& group, const std::string& id) {
  tav::CDataUnit* unit = nullptr;
  EXPECT_EQ(group.GetDataUnit(id.c_str(), &unit), 0);
  const auto* source = dynamic_cast<const DW_SourceImage*>(unit);
  return source != nullptr ? source->GetSourceImage().get() : nullptr;
}

TEST_F(SharingEdges, AMatrixHandedOverIsKeptAsItIsUnlessItsPixelsAreShared) {
  QZRef<ParamTreeGroup> group = Register("", &m_parameters);
  const StageRequestMap keep = EveryStage();
  const cv::Mat page = testing::DrawBarPage(cv::Size(160, 120));

  QZRef<QZMatrix> own(new QZMatrix(page.clone()));
  const QZMatrix* ownAddress = own.get();
  char id[kHashIdBufferSize] = "";
  ASSERT_TRUE(group->AddSourceData(std::move(own), 0, 0, id, keep));
  EXPECT_FALSE(own);
  EXPECT_EQ(KeptMatrix(*group, id), ownAddress) << "nobody else had the pixels: no copy";
  Release(*group, id, keep);

  // The caller still has a cv::Mat of the pixels (it may write them): the library copies.
  cv::Mat callers = page.clone();
  QZRef<QZMatrix> shared(new QZMatrix(callers));
  const QZMatrix* sharedAddress = shared.get();
  ASSERT_TRUE(group->AddSourceData(std::move(shared), 0, 0, id, keep));
  ASSERT_NE(KeptMatrix(*group, id), nullptr);
  EXPECT_NE(KeptMatrix(*group, id), sharedAddress);
  EXPECT_NE(KeptMatrix(*group, id)->GetMat().data, callers.data);
  Release(*group, id, keep);
}

}  // namespace
}  // namespace orvex
