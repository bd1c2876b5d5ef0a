// The pool: its replaceable instance and the statistics it keeps for its own table.
#include <OrvexStagecacheHost.h>

#include "paramtree/TreeGeneration.h"

#include "../support/HostPipeline.h"
#include "../support/TestScene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace orvex {
namespace {

// A pool address that is never used: the tests below only install and read it.
QZParameterTreeAndDataPool* StandInPool() {
  alignas(QZParameterTreeAndDataPool) static unsigned char storage[sizeof(QZParameterTreeAndDataPool)];
  return reinterpret_cast<QZParameterTreeAndDataPool*>(storage);
}

TEST(Pool, NullOnlyQueriesAndAnInstalledPoolIsTheOneInUseUntilReplaced) {
  QZParameterTreeAndDataPool* own = QZParameterTreeAndDataPool::GetInstance();
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(QZParameterTreeAndDataPool::SetInstance(nullptr), own);
  EXPECT_EQ(InitParamTreeAndDataPool(nullptr), own);
  EXPECT_EQ(QZParameterTreeAndDataPool::SetInstance(StandInPool()), StandInPool());
  EXPECT_EQ(QZParameterTreeAndDataPool::GetInstance(), StandInPool());
  EXPECT_EQ(InitParamTreeAndDataPool(own), own);
  EXPECT_EQ(QZParameterTreeAndDataPool::GetInstance(), own);
}

TEST(Pool, TreesMadeWithoutATableShareThroughTheTableOfThePoolInUse) {
  QZParameterTreeAndDataPool* pool = QZParameterTreeAndDataPool::GetInstance();
  QZRef<QZParameterTree> tree = new QZParameterTree(tav::DUST_CANDIDATE_ROIS);
  ASSERT_NE(tree->GetTable(), nullptr);
  EXPECT_EQ(tree->GetTable(), pool->GetDataManager());
}

DataUnitManager* SecondTable() {
  static DataUnitManager table;
  return &table;
}

TEST(Pool, EightThreadsMakingTreesWhileTheDefaultTableSourceChangesGetATableOfASourceNamed) {
  DataUnitManager* poolTable = QZParameterTreeAndDataPool::GetInstance()->GetDataManager();
  const QZParameterTree::DefaultTableSource poolSource = QZParameterTree::SetDefaultTableSource(&SecondTable);
  QZParameterTree::SetDefaultTableSource(poolSource);
  ASSERT_NE(poolSource, nullptr);
  std::atomic<bool> done{false};
  std::atomic<int> strangers{0};
  std::atomic<int> made{0};
  std::vector<std::thread> makers;
  for (int t = 0; t < 8; ++t) {
    makers.emplace_back([&] {
      while (!done.load()) {
        QZRef<QZParameterTree> tree = new QZParameterTree(tav::DUST_CANDIDATE_ROIS);
        if (tree->GetTable() != poolTable && tree->GetTable() != SecondTable()) ++strangers;
        ++made;
      }
    });
  }
  QZParameterTree::DefaultTableSource named = poolSource;
  for (int round = 0; round < 20000 || made.load() < 2000; ++round) {
    named = round % 2 == 0 ? poolSource : &SecondTable;
    QZParameterTree::SetDefaultTableSource(named);
  }
  EXPECT_EQ(QZParameterTree::SetDefaultTableSource(poolSource), named);
  done = true;
  for (std::thread& maker : makers) maker.join();
  EXPECT_EQ(strangers.load(), 0);
  EXPECT_EQ(QZRef<QZParameterTree>(new QZParameterTree(tav::DUST_CANDIDATE_ROIS))->GetTable(), poolTable);
}

TEST(Pool, EightThreadsReadingTheInstanceWhileItIsReplacedSeeOnlyInstalledPools) {
  QZParameterTreeAndDataPool* own = QZParameterTreeAndDataPool::GetInstance();
  std::atomic<bool> done{false};
  std::atomic<int> strangers{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 8; ++t) {
    readers.emplace_back([&] {
      while (!done.load()) {
        QZParameterTreeAndDataPool* seen = QZParameterTreeAndDataPool::GetInstance();
        if (seen != own && seen != StandInPool()) ++strangers;
      }
    });
  }
  for (int round = 0; round < 20000; ++round) {
    QZParameterTreeAndDataPool::SetInstance(round % 2 == 0 ? StandInPool() : own);
  }
  QZParameterTreeAndDataPool::SetInstance(own);
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(strangers.load(), 0);
  EXPECT_EQ(QZParameterTreeAndDataPool::GetInstance(), own);
}

TEST(Pool, StatisticsCountOnlyTheRequestsOfThePoolsOwnTable) {
  QZParameterTreeAndDataPool* pool = QZParameterTreeAndDataPool::GetInstance();
  QZ_ImageParameter parameters = testing::PageParameters(10);
  const auto treeOn = [&](DataUnitManager* table) {
    return QZRef<ParamTreeGroup>(new ParamTreeGroup(GenerateWholeImageParamTreeByModes(
        table, parameters.scalingDownValue, parameters.colourConversionModes, parameters.grayscaleTransformationModes,
        parameters.regionPredetectionModes)));
  };
  const auto colourConverted = [](ParamTreeGroup& group, const std::string& image) {
    const ParamNodeArray& nodes = group.GetTree()->FindNodesOfStage(tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED);
    return static_cast<PN_GrayscaleImageColourConverted*>(nodes[0])->GetData(image, true, true);
  };
  DataUnitManager privateTable;  // outlives the tree that shares through it
  QZRef<ParamTreeGroup> apart = treeOn(&privateTable);
  QZRef<ParamTreeGroup> pooled = treeOn(pool->GetDataManager());
  QZRef<QZMatrix> image(new QZMatrix(testing::DrawBarPage(cv::Size(320, 240))));
  char id[kHashIdBufferSize];
  pool->ResetStatistics();

  ASSERT_TRUE(apart->AddSourceData(image, 0, 0, id, {}));
  ASSERT_TRUE(colourConverted(*apart, id));
  const tav::DataUnitStageType gray = tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED;
  EXPECT_EQ(privateTable.Requests().Get(gray, RequestCounters::kCreated), 1u);
  EXPECT_EQ(pool->GetStatistics().stages[gray].createdResults, 0u);
  EXPECT_EQ(pool->GetStatistics().stages[tav::DUST_SOURCE_IMAGE].createdResults, 0u);

  ASSERT_TRUE(pooled->AddSourceData(image, 0, 0, id, {}));
  ASSERT_TRUE(colourConverted(*pooled, id));  // not shared with the other table: made anew
  EXPECT_EQ(pool->GetStatistics().stages[gray].createdResults, 1u);
  EXPECT_EQ(privateTable.Requests().Get(gray, RequestCounters::kCreated), 1u);

  apart->RemoveSameSourceData(id);
  pooled->RemoveSameSourceData(id);
  EXPECT_EQ(privateTable.GetDataMapSize(), 0);
}

}  // namespace
}  // namespace orvex
