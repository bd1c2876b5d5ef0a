// Tree groups and the loader: the tree interface, source images and counters, caching and clean-up.
#include <OrvexStagecacheHost.h>

#include "../support/HostPipeline.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace orvex {
namespace {

// One mode per stage, with the region predetection given.
QZ_ImageParameter SmallParameters(int32_t regionMode = RPM_GENERAL) {
  QZ_ImageParameter p = testing::PageParameters(10);
  p.regionPredetectionModes[0].mode = regionMode;
  return p;
}

cv::Mat Image(int variant) {
  cv::Mat image(40, 60, CV_8UC3, cv::Scalar(200, 190, 180));
  image(cv::Rect(10, 10, 20, 20)).setTo(cv::Scalar(10, 20, variant));
  return image;
}

class TreeGroupTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& id : m_sources) {
      if (group) group->RemoveSameSourceData(id);
    }
    while (QZParameterTreeAndDataPool::GetInstance()->GetDataManager()->UpdateTotalDataMap()) {
    }
  }

  std::string Add(int variant, const StageRequestMap& keep = {}) {
    QZRef<QZMatrix> matrix(new QZMatrix(Image(variant)));
    char id[kHashIdBufferSize] = "";
    if (!group->AddSourceData(matrix, 0, 0, id, keep)) return "";
    m_sources.push_back(id);
    return id;
  }

  QZParameterTreeLoader loader;
  QZ_ImageParameter parameters = SmallParameters();
  QZRef<ParamTreeGroup> group{new ParamTreeGroup(loader.CreateParameterTree("group-test", &parameters))};

 private:
  std::vector<std::string> m_sources;
};

TEST_F(TreeGroupTest, InterfaceAnswersForRootNodesAndMissingArguments) {
  tav::CParameterTreeNode* root = nullptr;
  ASSERT_EQ(group->GetRootNode(&root), 0);
  EXPECT_EQ(root, group->GetTree()->GetRootNode());
  EXPECT_EQ(group->GetRootNode(nullptr), -1);

  tav::CParameterTreeNode* node = root;
  EXPECT_EQ(group->GetNode("", &node), -1);
  EXPECT_EQ(group->GetNode("unknown+3", &node), 0);
  EXPECT_EQ(node, root);  // left alone
  const ParamNodeArray& regions = group->GetRegionNodes();
  ASSERT_EQ(regions.GetCount(), 1);
  ASSERT_EQ(group->GetNode(regions[0]->GetHashId(), &node), 0);
  EXPECT_EQ(node, regions[0]);

  tav::CParameterTreeNodeArray nodes;
  ASSERT_EQ(group->GetNodes(tav::DUST_CONTOURS, &nodes), 0);
  EXPECT_EQ(nodes.GetCount(), 0);
  EXPECT_EQ(group->GetNodes(tav::DUST_CONTOURS, nullptr), -1);
  tav::CDataUnit* unit = nullptr;
  EXPECT_EQ(group->GetDataUnit("", &unit), -1);
  EXPECT_EQ(group->GetDataUnit("nothing-5", &unit), 0);
  EXPECT_EQ(unit, nullptr);
  tav::CDataUnitArray units;
  EXPECT_EQ(group->GetDataUnits(tav::DUST_SOURCE_IMAGE, nullptr, &units), -1);
}

TEST_F(TreeGroupTest, GroupWithoutTreeAnswersMinusOne) {
  QZRef<ParamTreeGroup> empty(new ParamTreeGroup());
  tav::CParameterTreeNode* node = nullptr;
  tav::CParameterTreeNodeArray nodes;
  tav::CDataUnitArray units;
  EXPECT_EQ(empty->GetRootNode(&node), -1);
  EXPECT_EQ(empty->GetNode("x+1", &node), -1);
  EXPECT_EQ(empty->GetNodes(tav::DUST_SOURCE_IMAGE, &nodes), -1);
  EXPECT_EQ(empty->GetDataUnits(tav::DUST_SOURCE_IMAGE, "x", &units), -1);
  EXPECT_EQ(empty->GetRegionNodes().GetCount(), 0);
  QZRef<QZMatrix> matrix(new QZMatrix(Image(1)));
  char id[kHashIdBufferSize] = "untouched";
  EXPECT_FALSE(empty->AddSourceData(matrix, 0, 0, id, {{tav::DUST_SOURCE_IMAGE, 1}}));
  EXPECT_STREQ(id, "untouched");
  empty->RemoveSameSourceData("x");
}

TEST_F(TreeGroupTest, AddingAnImageTwiceKeepsOneResultAndRaisesCountersTwice) {
  const StageRequestMap keepSix = {{tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED, 1}};
  const std::string id = Add(1, keepSix);
  ASSERT_EQ(id.size(), 32u);
  EXPECT_EQ(Add(1, keepSix), id);
  tav::CDataUnitArray units;
  ASSERT_EQ(group->GetDataUnits(tav::DUST_SOURCE_IMAGE, id.c_str(), &units), 0);
  EXPECT_EQ(units.GetCount(), 1);
  group->MinusSavedTypeCount(id, keepSix);
  EXPECT_TRUE(group->HasSavedTypeCounter(id));
  group->MinusSavedTypeCount(id, keepSix);
  EXPECT_FALSE(group->HasSavedTypeCounter(id));

  group->PlusSavedTypeCount("other", {});
  EXPECT_FALSE(group->HasSavedTypeCounter("other"));
  group->MinusSavedTypeCount("other", keepSix);
  EXPECT_FALSE(group->HasSavedTypeCounter("other"));
  QZRef<QZMatrix> tiny(new QZMatrix(cv::Mat(7, 100, CV_8UC3)));
  char out[kHashIdBufferSize] = "untouched";
  EXPECT_FALSE(group->AddSourceData(tiny, 0, 0, out, keepSix));
  EXPECT_STREQ(out, "untouched");
}

TEST_F(TreeGroupTest, DataUnitsOfAStageRunTogetherInNodeOrderAndAreFoundAcrossGroups) {
  QZ_ImageParameter two = SmallParameters();
  QZVP_ColourConversionModeStruct hsv;
  hsv.mode = CICM_HSV;
  hsv.channel = QZVP_V_CHANNEL;
  two.colourConversionModes.push_back(hsv);
  QZRef<ParamTreeGroup> wide(new ParamTreeGroup(loader.CreateParameterTree("two-colours", &two)));
  QZRef<QZMatrix> matrix(new QZMatrix(Image(2)));
  char id[kHashIdBufferSize];
  ASSERT_TRUE(wide->AddSourceData(matrix, 0, 0, id, {}));
  const ParamNodeArray& grays = wide->GetTree()->GetNodesFromMap(tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED);
  ASSERT_EQ(grays.GetCount(), 2);
  QZRef<DW_Base> first = static_cast<PN_GrayscaleImageColourConverted*>(grays[0])->GetData(id, true, true);
  QZRef<DW_Base> second = static_cast<PN_GrayscaleImageColourConverted*>(grays[1])->GetData(id, true, true);
  tav::CDataUnitArray units;
  ASSERT_EQ(wide->GetDataUnits(tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED, id, &units), 0);
  ASSERT_EQ(units.GetCount(), 2);
  EXPECT_EQ(units.GetDataUnit(0), first.get());
  EXPECT_EQ(units.GetDataUnit(1), second.get());

  tav::CDataUnit* found = nullptr;  // through the other group: the table is process-wide
  ASSERT_EQ(group->GetDataUnit(second->GetHashId(), &found), 0);
  EXPECT_EQ(found, second.get());
  first.reset();
  second.reset();
  wide->RemoveSameSourceData(id);
}

TEST_F(TreeGroupTest, RemovingASourceKeepsTheStagesStillCounted) {
  const StageRequestMap keepSix = {{tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED, 1}};
  const std::string id = Add(3, keepSix);
  auto* node = static_cast<PN_GrayscaleImageForROI*>(group->GetTree()->GetNodesFromMap(tav::DUST_GRAYSCALE_IMAGE_FOR_ROI)[0]);
  ASSERT_NE(node->GetData(id, true, true)->GetData(true), nullptr);
  group->RemoveSameSourceData(id);
  tav::CDataUnitArray units;
  group->GetDataUnits(tav::DUST_SOURCE_IMAGE, id.c_str(), &units);
  EXPECT_EQ(units.GetCount(), 0);
  EXPECT_EQ(node->GetDataCount(), 0);
  EXPECT_EQ(node->GetParent()->GetDataCount(), 1);  // stage 6 is still wanted
  group->MinusSavedTypeCount(id, keepSix);
  group->RemoveSameSourceData(id);
  EXPECT_EQ(node->GetParent()->GetDataCount(), 0);
}

TEST(Loader, StagesAfterTheCandidateRegionsAreRegionStages) {
  EXPECT_FALSE(CheckTreeTypeByDataUnitStageType(tav::DUST_CANDIDATE_ROIS));
  EXPECT_TRUE(CheckTreeTypeByDataUnitStageType(tav::DUST_ROI_COLOUR_IMAGE));
  EXPECT_FALSE(CheckTreeTypeByDataUnitStageType(static_cast<tav::DataUnitStageType>(0)));
}

TEST(Loader, TreesAreCachedByNameWhateverTheParameters) {
  QZParameterTreeLoader loader;
  QZ_ImageParameter a = SmallParameters(RPM_GENERAL), b = SmallParameters(RPM_AUTO);
  QZRef<QZParameterTree> first = loader.CreateParameterTree("name", &a);
  QZRef<QZParameterTree> second = loader.CreateParameterTree("name", &b);
  EXPECT_EQ(first.get(), second.get());
  EXPECT_FALSE(loader.CreateParameterTree("", &a));
  EXPECT_EQ(loader.GetCachedTreeCount(), 1);
}

QZRef<ParamTreeGroup> RegisterGroup(void* host, QZParameterTreeLoader* loader, const char* name) {
  return loader->BuildTreeGroup(name, static_cast<QZ_ImageParameter*>(host));
}

QZRef<ParamTreeGroup> RegisterNothing(void*, QZParameterTreeLoader*, const char*) { return QZRef<ParamTreeGroup>(); }

QZRef<ParamTreeGroup> Throw(void*, QZParameterTreeLoader*, const char*) { throw std::runtime_error("host failure"); }

TEST(Loader, GroupsAndTreesGoOnceOnlyThePoolHoldsThem) {
  QZParameterTreeLoader loader;
  QZ_ImageParameter parameters = SmallParameters();
  EXPECT_FALSE(loader.UpdateTreeGroups());  // empty pool
  loader.CreateParameterTree("unused", &parameters);
  EXPECT_FALSE(loader.UpdateTreeGroups());
  EXPECT_EQ(loader.GetCachedTreeCount(), 1);  // untouched while no group went

  QZRef<ParamTreeGroup> group = loader.InitParameterTreeGroup(&parameters, &RegisterGroup, "g");
  ASSERT_TRUE(group);
  EXPECT_EQ(loader.GetParamTreeGroupPool()["g"].get(), group.get());
  // The group's tree has its region part down to the line segments.
  EXPECT_EQ(group->GetTree()->FindNodesOfStage(tav::DUST_LINE_SEGMENTS).GetCount(), 1);
  EXPECT_FALSE(loader.UpdateTreeGroups());
  group.reset();
  EXPECT_TRUE(loader.UpdateTreeGroups());
  EXPECT_EQ(loader.GetParamTreeGroupPool().count("g"), 0u);
  EXPECT_EQ(loader.GetCachedTreeCount(), 0);  // its tree went, and the unused one with it

  EXPECT_FALSE(loader.InitParameterTreeGroup(nullptr, &RegisterNothing, "none"));
  EXPECT_FALSE(loader.InitParameterTreeGroup(nullptr, nullptr, "none"));
}

TEST(Loader, MutexIsReleasedWhenTheCallbackThrows) {
  QZParameterTreeLoader loader;
  EXPECT_THROW(loader.InitParameterTreeGroup(nullptr, &Throw, "bad"), std::runtime_error);
  EXPECT_FALSE(loader.UpdateTreeGroups());  // would deadlock if the mutex were still held
  QZ_ImageParameter parameters = SmallParameters();
  EXPECT_TRUE(loader.InitParameterTreeGroup(&parameters, &RegisterGroup, "after"));
}

}  // namespace
}  // namespace orvex
