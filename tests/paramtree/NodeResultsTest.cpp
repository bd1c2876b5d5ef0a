// Node results: adding images and regions, own, shared and computed results, copies,
// purges, and many threads on one chain.
#include "HandTree.h"

#include "../support/TestScene.h"

#include <gtest/gtest.h>

#include <thread>

namespace orvex {
namespace testing {
namespace {

class NodeResults : public ::testing::Test {
 protected:
  void SetUp() override { m_liveBefore = DP_CommonBase::GetTotalLiveCount(); }
  void TearDown() override {
    // Everything a test made is gone once its trees are gone and the table is purged.
    while (Table()->UpdateTotalDataMap()) {
    }
    EXPECT_EQ(DP_CommonBase::GetTotalLiveCount(), m_liveBefore);
  }

  // A page that no other test uses, so its results are this test's own.
  static cv::Mat UniquePage(int variant) {
    cv::Mat page = DrawBarPage(cv::Size(480, 360));
    page.at<cv::Vec3b>(0, variant) = cv::Vec3b(1, 2, 3);
    return page;
  }

 private:
  int m_liveBefore = 0;
};

TEST_F(NodeResults, ImagesSmallerThanEightAreRefusedAndAddingTwiceKeepsOneResult) {
  HandTree t;
  EXPECT_EQ(t.AddImage(cv::Mat(7, 100, CV_8UC3, cv::Scalar::all(9))), "");
  EXPECT_EQ(t.AddImage(cv::Mat(100, 7, CV_8UC3, cv::Scalar::all(9))), "");
  QZRef<QZMatrix> none;
  char id[kHashIdBufferSize] = "untouched";
  EXPECT_FALSE(t.source->AddData(none, 0, 0, id));
  EXPECT_STREQ(id, "untouched");
  const cv::Mat small(8, 8, CV_8UC3, cv::Scalar(1, 2, 3));
  const std::string first = t.AddImage(small);
  EXPECT_EQ(first.size(), 32u);
  EXPECT_EQ(t.AddImage(small.clone()), first);
  EXPECT_EQ(t.source->GetDataCount(), 1);
  QZRef<DW_SourceImage> result = t.source->GetData(first, false, false);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->GetDataHashID(), first);
  EXPECT_EQ(result->GetSourceHashID(), first);
}

std::string SameIdForEveryImage(const cv::Mat&) { return "0123456789abcdef0123456789abcdef"; }

TEST_F(NodeResults, AnImageWhoseIdIsTakenByOtherPixelsIsRefused) {
  HandTree a, b;
  QZMatrix::SetHashFunctionForTesting(&SameIdForEveryImage);
  const std::string first = a.AddImage(cv::Mat(16, 16, CV_8UC3, cv::Scalar(10, 20, 30)));
  const std::string same = a.AddImage(cv::Mat(16, 16, CV_8UC3, cv::Scalar(10, 20, 30)));
  const std::string otherInOwnNode = a.AddImage(cv::Mat(16, 16, CV_8UC3, cv::Scalar(99, 20, 30)));
  const std::string otherThroughTable = b.AddImage(cv::Mat(16, 17, CV_8UC3, cv::Scalar(10, 20, 30)));
  QZMatrix::SetHashFunctionForTesting(nullptr);
  EXPECT_EQ(first, SameIdForEveryImage(cv::Mat()));
  EXPECT_EQ(same, first);
  EXPECT_EQ(otherInOwnNode, "");
  EXPECT_EQ(otherThroughTable, "");
  EXPECT_EQ(b.source->GetDataCount(), 0);
  a.source->RemoveSameSourceData(first);
}

TEST_F(NodeResults, SecondTreeAdoptsTheFirstTreesResultsWithoutComputing) {
  const cv::Mat page = UniquePage(1);
  HandTree a, b;
  const std::string image = a.AddImage(page);
  const std::string region = a.AddFirstRegion(image);
  ASSERT_FALSE(region.empty());
  QZRef<DW_LineSegments> linesA = a.lines->GetData(region, true, true);
  ASSERT_TRUE(linesA);
  ASSERT_NE(linesA->GetData(true), nullptr);

  const std::vector<int> before = ComputationCounts();
  EXPECT_EQ(b.AddImage(page), image);
  EXPECT_EQ(b.source->GetData(image, false, false).get(), a.source->GetData(image, false, false).get());
  EXPECT_EQ(b.AddFirstRegion(image), region);
  QZRef<DW_LineSegments> linesB = b.lines->GetData(region, true, true);
  EXPECT_EQ(linesB.get(), linesA.get());
  EXPECT_NE(linesB->GetData(true), nullptr);
  const std::vector<int> computed = ComputationsSince(before);
  for (int count : computed) EXPECT_EQ(count, 0);

  a.tree->RemoveSameSourceData(image, nullptr);
  b.tree->RemoveSameSourceData(image, nullptr);
}

TEST_F(NodeResults, RegionAddedThroughASecondTreeIsTheFirstTreesResult) {
  const cv::Mat page = UniquePage(8);
  HandTree a, b;
  const std::string image = a.AddImage(page);
  const std::string region = a.AddFirstRegion(image);
  ASSERT_FALSE(region.empty());
  QZRef<DW_ROIColourImage> first = a.roiColour->GetData(region, false, false);
  EXPECT_EQ(b.AddImage(page), image);
  EXPECT_EQ(b.AddFirstRegion(image), region);
  QZRef<DW_ROIColourImage> second = b.roiColour->GetData(region, false, false);
  EXPECT_EQ(second.get(), first.get());
  QZRef<DW_Base> inTable;
  ASSERT_TRUE(Table()->GetFromTotalDataMap(region, inTable));
  EXPECT_EQ(inTable.get(), first.get());
  EXPECT_EQ(b.tree->GetRegionIds(image), std::vector<std::string>({region}));
  // The region's result below it is made once, through either tree, with its pixels.
  ASSERT_NE(b.lines->GetData(region, true, true)->GetData(true), nullptr);
  core::CImageData* pixels = nullptr;
  ASSERT_EQ(first->GetDataAsImageData(&pixels), 0);
  EXPECT_NE(pixels, nullptr);
  EXPECT_EQ(a.lines->GetData(region, false, false).get(), b.lines->GetData(region, false, false).get());
  first.reset();
  second.reset();
  inTable.reset();
  a.tree->RemoveSameSourceData(image, nullptr);
  b.tree->RemoveSameSourceData(image, nullptr);
}

TEST_F(NodeResults, ResultFetchedWithoutItsExtraInputsWaitsForThemAndIsMadeOnce) {
  const cv::Mat page = UniquePage(9);
  HandTree a, b;
  const std::string image = a.AddImage(page);
  QZRef<DW_CandidateROIs> bare = a.regions->GetData(image, true, false);
  ASSERT_TRUE(bare);
  const std::vector<int> before = ComputationCounts();
  EXPECT_EQ(bare->GetData(true), nullptr);  // no colour image attached: nothing is made
  EXPECT_EQ(ComputationsSince(before)[DPK_DETECT_ROIS], 0);
  // Another tree's request supplies the inputs; the shared result is then made once, right.
  b.AddImage(page);
  QZRef<DW_CandidateROIs> supplied = b.regions->GetData(image, true, true);
  EXPECT_EQ(supplied.get(), bare.get());
  ASSERT_NE(supplied->GetData(true), nullptr);
  EXPECT_TRUE(supplied->GetColourImage());
  EXPECT_EQ(a.regions->GetData(image, true, true)->GetData(true), supplied->GetData(false));
  EXPECT_EQ(ComputationsSince(before)[DPK_DETECT_ROIS], 1);
  // An input offered after the stage exists is not kept, so it pins nothing.
  QZRef<DW_ColourImageAfterScalingDown> colour = a.scaled->GetData(image, false, false);
  const int count = colour->GetRefCount();
  supplied->SetColourImageAfterScalingDownDataUnit(colour.get());
  EXPECT_EQ(colour->GetRefCount(), count);
  bare.reset();
  supplied.reset();
  colour.reset();
  a.tree->RemoveSameSourceData(image, nullptr);
  b.tree->RemoveSameSourceData(image, nullptr);
}

struct MessageLog {
  static void Sink(void* context, const QZLogRecord& record) {
    if (record.kind == QZLogRecord::kMessage) static_cast<MessageLog*>(context)->messages.push_back(record.label);
  }
  std::vector<std::string> messages;
};

TEST_F(NodeResults, ImageAddedAgainWithOtherSizeArgumentsIsRefusedWithAReason) {
  const cv::Mat page = UniquePage(10);
  HandTree a, b;
  QZRef<QZMatrix> matrix(new QZMatrix(page));
  char id[kHashIdBufferSize] = "";
  ASSERT_TRUE(a.source->AddData(matrix, 100, 100, id));
  MessageLog log;
  QZLog::m_instance.Configure(&MessageLog::Sink, &log, 1, 0);
  char other[kHashIdBufferSize] = "untouched";
  EXPECT_FALSE(b.source->AddData(matrix, 0, 0, other));
  EXPECT_FALSE(a.source->AddData(matrix, 100, 0, other));
  QZLog::m_instance.Configure(nullptr, nullptr, 0, 0);
  EXPECT_STREQ(other, "untouched");
  EXPECT_EQ(b.source->GetDataCount(), 0);
  ASSERT_EQ(log.messages.size(), 2u);
  EXPECT_NE(log.messages[0].find("size arguments"), std::string::npos);
  EXPECT_TRUE(b.source->AddData(matrix, 100, 100, other));  // the same arguments share
  EXPECT_STREQ(other, id);
  a.tree->RemoveSameSourceData(id, nullptr);
  b.tree->RemoveSameSourceData(id, nullptr);
}

TEST_F(NodeResults, LookupsWithoutCalcCreateNothingAndWrongStageEntriesAreNotAdopted) {
  const cv::Mat page = UniquePage(2);
  HandTree t;
  const std::string image = t.AddImage(page);
  EXPECT_FALSE(t.gray->GetData(image, false, false));
  EXPECT_EQ(t.gray->GetDataCount(), 0);
  EXPECT_EQ(t.colourForRegions->GetDataCount(), 0);

  // A result of another stage sits in the table under the gray node's data hash id.
  char id[kHashIdBufferSize];
  ASSERT_TRUE(t.gray->CalcDataHashId(image, id));
  QZRef<DW_ColourImageAfterSizeFitting> impostor = t.fitted->GetData(image, true, true);
  Table()->AddToTotalDataMap(id, impostor);
  EXPECT_FALSE(t.gray->GetData(image, false, false));
  QZRef<DW_GrayscaleImageColourConverted> computed = t.gray->GetData(image, true, true);
  ASSERT_TRUE(computed);
  EXPECT_EQ(computed->GetStageType(), tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED);
  EXPECT_EQ(computed->GetDataHashID(), std::string(id));
  QZRef<DW_Base> inTable;
  ASSERT_TRUE(Table()->GetFromTotalDataMap(id, inTable));
  EXPECT_EQ(inTable.get(), computed.get());  // the new result replaced the impostor
  EXPECT_EQ(t.gray->GetData(image, true, true).get(), computed.get());
  // The ancestors up to the source now hold a result for the image as well.
  for (ParameterNodeBase* node : {static_cast<ParameterNodeBase*>(t.colourForRegions),
                                  static_cast<ParameterNodeBase*>(t.scaled), static_cast<ParameterNodeBase*>(t.fitted)}) {
    EXPECT_EQ(node->GetDataCount(), 1);
  }
  t.tree->RemoveSameSourceData(image, nullptr);
}

TEST_F(NodeResults, RegionsAddedTwiceGiveOneResultAndAreRecordedBySource) {
  const cv::Mat page = UniquePage(3);
  HandTree t;
  const std::string image = t.AddImage(page);
  const std::string region = t.AddFirstRegion(image);
  ASSERT_EQ(region.substr(region.size() - 2), "-9");
  EXPECT_EQ(t.AddFirstRegion(image), region);
  EXPECT_EQ(t.roiColour->GetDataCount(), 1);
  EXPECT_EQ(t.tree->GetRegionIds(image), std::vector<std::string>({region}));
  char id[kHashIdBufferSize] = "untouched";
  EXPECT_FALSE(t.roiColour->AddData(nullptr, QZ_Quad(), id));
  EXPECT_STREQ(id, "untouched");
  // Nothing below a region colour image exists before its region was added.
  EXPECT_FALSE(t.roiGray->GetData("no-such-region-9", true, true));
  t.tree->RemoveSameSourceData(image, nullptr);
}

TEST_F(NodeResults, PurgeKeepsCountedStagesAndResultsCallersStillHold) {
  const cv::Mat page = UniquePage(4);
  HandTree t;
  const std::string image = t.AddImage(page);
  ASSERT_NE(t.grayForRegions->GetData(image, true, true)->GetData(true), nullptr);
  const int tableBefore = Table()->GetDataMapSize();

  StageTypeCounter keepSix;
  keepSix.UpdateCounter({{tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED, 1}});
  t.tree->RemoveSameSourceData(image, &keepSix);
  EXPECT_EQ(t.transformed->GetDataCount(), 1);
  for (ParameterNodeBase* node : {static_cast<ParameterNodeBase*>(t.source), static_cast<ParameterNodeBase*>(t.gray),
                                  static_cast<ParameterNodeBase*>(t.grayForRegions)}) {
    EXPECT_EQ(node->GetDataCount(), 0);
  }
  EXPECT_LT(Table()->GetDataMapSize(), tableBefore);

  QZRef<DW_GrayscaleImageTransformed> held = t.transformed->GetData(image, false, false);
  char id[kHashIdBufferSize];
  ASSERT_TRUE(t.transformed->CalcDataHashId(image, id));
  t.tree->RemoveSameSourceData(image, nullptr);
  EXPECT_EQ(t.transformed->GetDataCount(), 0);
  QZRef<DW_Base> stillShared;
  EXPECT_TRUE(Table()->GetFromTotalDataMap(id, stillShared));  // the caller's handle keeps it
  stillShared.reset();
  EXPECT_FALSE(Table()->UpdateDataInTotalDataMap(id));
  held.reset();
  EXPECT_TRUE(Table()->UpdateDataInTotalDataMap(id));
  EXPECT_FALSE(Table()->GetFromTotalDataMap(id, stillShared));
  t.source->RemoveSameSourceData("");  // an empty id removes nothing
}

TEST_F(NodeResults, CreateDataUnitAsMakesDistinctCopiesThatStayAlive) {
  const cv::Mat page = UniquePage(5);
  HandTree t;
  const std::string image = t.AddImage(page);
  QZRef<DW_GrayscaleImageColourConverted> original = t.gray->GetData(image, true, true);
  tav::CDataUnit* out = nullptr;
  EXPECT_EQ(t.fitted->CreateDataUnitAs(original.get(), &out), -1);  // another stage
  EXPECT_EQ(t.gray->CreateDataUnitAs(nullptr, &out), -1);
  EXPECT_EQ(t.gray->CreateDataUnitAs(original.get(), nullptr), -1);
  EXPECT_EQ(out, nullptr);

  tav::CDataUnit* first = nullptr;
  tav::CDataUnit* second = nullptr;
  ASSERT_EQ(t.gray->CreateDataUnitAs(original.get(), &first), 0);
  ASSERT_EQ(t.gray->CreateDataUnitAs(original.get(), &second), 0);  // within the same second
  ASSERT_NE(first, second);
  EXPECT_STRNE(first->GetHashId(), second->GetHashId());
  EXPECT_STREQ(first->GetSourceImageHashId(), image.c_str());
  EXPECT_EQ(t.gray->GetDataCount(), 3);
  tav::CDataUnitArray units;
  ASSERT_EQ(t.gray->GetDataUnits(image.c_str(), &units), 0);
  EXPECT_EQ(units.GetCount(), 3);
  QZRef<DW_Base> found;
  ASSERT_TRUE(Table()->GetFromTotalDataMap(first->GetHashId(), found));
  EXPECT_EQ(static_cast<tav::CDataUnit*>(found.get()), first);
  EXPECT_EQ(t.gray->GetDataUnits(nullptr, &units), -1);
  EXPECT_EQ(t.gray->GetDataUnits("unknown", &units), 0);
  EXPECT_EQ(units.GetCount(), 0);

  t.gray->RemoveSameSourceData(image);  // copies go with the computed results
  EXPECT_EQ(t.gray->GetDataCount(), 0);
  t.tree->RemoveSameSourceData(image, nullptr);
}

TEST_F(NodeResults, ManyThreadsOnDifferentNodesOfOneChainComputeEachResultOnce) {
  const cv::Mat page = UniquePage(6);
  HandTree t;
  const std::string image = t.AddImage(page);
  const std::string region = t.AddFirstRegion(image);
  ASSERT_FALSE(region.empty());
  const std::vector<int> before = ComputationCounts();
  std::vector<std::thread> threads;
  std::vector<const void*> lineResults(4, nullptr);
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] { lineResults[i] = t.lines->GetData(region, true, true)->GetData(true); });
    threads.emplace_back([&] { t.textFiltering->GetData(region, true, true)->GetData(true); });
    threads.emplace_back([&] { t.regions->GetData(image, true, true)->GetData(true); });
  }
  for (auto& thread : threads) thread.join();
  for (int i = 1; i < 4; ++i) EXPECT_EQ(lineResults[i], lineResults[0]);
  const std::vector<int> computed = ComputationsSince(before);
  for (int kind = DPK_COLOUR_CONVERT_ROI_IMAGE; kind < DPK_COUNT; ++kind) EXPECT_EQ(computed[kind], 1) << kind;
  EXPECT_EQ(computed[DPK_DETECT_ROIS], 0);  // computed already for the region
  t.tree->RemoveSameSourceData(image, nullptr);
}

TEST_F(NodeResults, StatisticsTellOwnAdoptedAndCreatedResultsAndComputations) {
  const cv::Mat page = UniquePage(7);
  QZParameterTreeAndDataPool* pool = QZParameterTreeAndDataPool::GetInstance();
  HandTree a, b;
  pool->ResetStatistics();
  const std::string image = a.AddImage(page);
  a.gray->GetData(image, true, true)->GetData(true);
  a.gray->GetData(image, true, true);
  b.AddImage(page);
  b.gray->GetData(image, true, true);
  const CacheStatistics stats = pool->GetStatistics();
  const StageStatistics& gray = stats.stages[tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED];
  EXPECT_EQ(gray.createdResults, 1u);
  EXPECT_EQ(gray.ownResults, 1u);
  EXPECT_EQ(gray.adoptedResults, 1u);
  EXPECT_EQ(gray.computations, 1u);
  EXPECT_GT(gray.computeNanoseconds, 0u);
  EXPECT_EQ(stats.stages[tav::DUST_SOURCE_IMAGE].createdResults, 1u);
  EXPECT_EQ(stats.stages[tav::DUST_SOURCE_IMAGE].adoptedResults, 1u);
  EXPECT_EQ(stats.stages[tav::DUST_COLOUR_IMAGE_FOR_ROI].computations, 0u);  // shares stage 3's computation
  EXPECT_EQ(stats.stages[tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN].computations, 1u);
  EXPECT_GE(stats.liveResultBytes, static_cast<int64_t>(page.total() * page.elemSize()));
  EXPECT_GE(stats.tableEntries, 5);
  pool->ResetStatistics();
  EXPECT_EQ(pool->GetStatistics().stages[tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED].computations, 0u);
  a.tree->RemoveSameSourceData(image, nullptr);
  b.tree->RemoveSameSourceData(image, nullptr);
}

}  // namespace
}  // namespace testing
}  // namespace orvex
