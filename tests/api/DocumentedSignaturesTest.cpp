// The host-facing signatures of the group, loader, pool, table, tree, nodes and wraps, as
// hosts written against them use them: the file stops compiling when one changes. The
// tests below run the uses the signatures exist for.

// A host declares the stage classes it names ahead of the headers that define them.
namespace orvex {
class DW_ROIBinaryImage;
class DW_LineSegments;
class PN_ROIBinaryImage;
class PN_LineSegments;
}  // namespace orvex

#include <OrvexStagecacheHost.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "../support/HostPipeline.h"
#include "../support/TestScene.h"

namespace orvex {
namespace {

// Compiles only when `member` has exactly the signature `Type`.
#define ORVEX_EXPECT_SIGNATURE(Type, member) \
  static_assert(std::is_same<decltype(static_cast<Type>(&member)), Type>::value, #member)

using StageRequests = const std::map<tav::DataUnitStageType, int>&;
using GroupPool = std::map<std::string, QZRef<ParamTreeGroup>>;

// The group.
ORVEX_EXPECT_SIGNATURE(QZParameterTree* (ParamTreeGroup::*)() const, ParamTreeGroup::GetTree);
ORVEX_EXPECT_SIGNATURE(ParamNodeArray& (ParamTreeGroup::*)(), ParamTreeGroup::GetRegionNodes);
ORVEX_EXPECT_SIGNATURE(bool (ParamTreeGroup::*)(QZRef<QZMatrix>&, int, int, char*, StageRequests),
                       ParamTreeGroup::AddSourceData);
ORVEX_EXPECT_SIGNATURE(void (ParamTreeGroup::*)(const std::string&, StageRequests), ParamTreeGroup::PlusSavedTypeCount);
ORVEX_EXPECT_SIGNATURE(void (ParamTreeGroup::*)(const std::string&, StageRequests), ParamTreeGroup::MinusSavedTypeCount);
ORVEX_EXPECT_SIGNATURE(void (ParamTreeGroup::*)(const std::string&), ParamTreeGroup::RemoveSameSourceData);
ORVEX_EXPECT_SIGNATURE(bool (*)(int, tav::DataUnitStageType&), ParamTreeGroup::TransIntToDataUnitStageType);
ORVEX_EXPECT_SIGNATURE(int (ParamTreeGroup::*)(tav::CParameterTreeNode**) const, ParamTreeGroup::GetRootNode);
ORVEX_EXPECT_SIGNATURE(int (ParamTreeGroup::*)(const char*, tav::CParameterTreeNode**) const, ParamTreeGroup::GetNode);
ORVEX_EXPECT_SIGNATURE(int (ParamTreeGroup::*)(const char*, tav::CDataUnit**) const, ParamTreeGroup::GetDataUnit);

// The loader and the pool.
ORVEX_EXPECT_SIGNATURE(QZRef<ParamTreeGroup> (QZParameterTreeLoader::*)(void*, ParamTreeGroupCallback, const char*),
                       QZParameterTreeLoader::InitParameterTreeGroup);
ORVEX_EXPECT_SIGNATURE(QZRef<QZParameterTree> (QZParameterTreeLoader::*)(const std::string&, QZ_ImageParameter*),
                       QZParameterTreeLoader::CreateParameterTree);
ORVEX_EXPECT_SIGNATURE(void (QZParameterTreeLoader::*)(QZParameterTree*, ParameterNodeBase*, QZ_ImageParameter*),
                       QZParameterTreeLoader::ExtandRegionPart);
ORVEX_EXPECT_SIGNATURE(bool (QZParameterTreeLoader::*)(), QZParameterTreeLoader::UpdateTreeGroups);
ORVEX_EXPECT_SIGNATURE(GroupPool& (QZParameterTreeLoader::*)(),
                       QZParameterTreeLoader::GetParamTreeGroupPool);
ORVEX_EXPECT_SIGNATURE(bool (*)(tav::DataUnitStageType), CheckTreeTypeByDataUnitStageType);
ORVEX_EXPECT_SIGNATURE(QZParameterTreeAndDataPool* (*)(), QZParameterTreeAndDataPool::GetInstance);
ORVEX_EXPECT_SIGNATURE(QZParameterTreeAndDataPool* (*)(QZParameterTreeAndDataPool*), QZParameterTreeAndDataPool::SetInstance);
ORVEX_EXPECT_SIGNATURE(QZParameterTreeAndDataPool* (*)(QZParameterTreeAndDataPool*), InitParamTreeAndDataPool);

// The table.
ORVEX_EXPECT_SIGNATURE(void (DataUnitManager::*)(const std::string&, QZRef<DW_Base>), DataUnitManager::AddToTotalDataMap);
ORVEX_EXPECT_SIGNATURE(bool (DataUnitManager::*)(const std::string&, QZRef<DW_Base>&), DataUnitManager::GetFromTotalDataMap);
ORVEX_EXPECT_SIGNATURE(bool (DataUnitManager::*)(const std::string&), DataUnitManager::UpdateDataInTotalDataMap);
ORVEX_EXPECT_SIGNATURE(bool (DataUnitManager::*)(), DataUnitManager::UpdateTotalDataMap);

// The tree.
ORVEX_EXPECT_SIGNATURE(bool (QZParameterTree::*)(const std::string&, QZRef<ParameterNodeBase>), QZParameterTree::PushBackNode);
ORVEX_EXPECT_SIGNATURE(QZRef<ParameterNodeBase> (QZParameterTree::*)(const std::string&) const,
                       QZParameterTree::FindTreeNodeFromMapByID);
ORVEX_EXPECT_SIGNATURE(ParamNodeArray& (QZParameterTree::*)(tav::DataUnitStageType), QZParameterTree::GetNodesFromMap);
ORVEX_EXPECT_SIGNATURE(ParamNodeArray& (QZParameterTree::*)(), QZParameterTree::GetNodesOfTreeEnd);
ORVEX_EXPECT_SIGNATURE(void (QZParameterTree::*)(tav::DataUnitStageType), QZParameterTree::SetEndNodeType);

// The nodes.
ORVEX_EXPECT_SIGNATURE(bool (ParameterNodeBase::*)(const std::string&, char*) const, ParameterNodeBase::CalcDataHashId);
ORVEX_EXPECT_SIGNATURE(const std::string& (ParameterNodeBase::*)() const, ParameterNodeBase::GetGlobalHash);
ORVEX_EXPECT_SIGNATURE(const ParamNodeArray& (ParameterNodeBase::*)() const, ParameterNodeBase::GetChildren);
ORVEX_EXPECT_SIGNATURE(int (ParameterNodeBase::*)(tav::CParameterTreeNode**) const, ParameterNodeBase::GetParentNode);
ORVEX_EXPECT_SIGNATURE(int (ParameterNodeBase::*)(tav::CParameterTreeNodeArray*) const, ParameterNodeBase::GetChildNodes);

// The wraps.
ORVEX_EXPECT_SIGNATURE(void (DW_Base::*)(const std::string&), DW_Base::SetDataHashID);
ORVEX_EXPECT_SIGNATURE(std::string (DW_Base::*)() const, DW_Base::GetDataHashID);
ORVEX_EXPECT_SIGNATURE(void (DW_Base::*)(const std::string&), DW_Base::SetSourceHashID);
ORVEX_EXPECT_SIGNATURE(std::string (DW_Base::*)() const, DW_Base::GetSourceHashID);
ORVEX_EXPECT_SIGNATURE(void (DW_Base::*)(bool), DW_Base::SetRequiredDataAvailableFlag);
ORVEX_EXPECT_SIGNATURE(bool (DW_Base::*)() const, DW_Base::IsRequiredDataAvailable);
ORVEX_EXPECT_SIGNATURE(void (DW_Base::*)(DW_Base*), DW_Base::AddChildData);
ORVEX_EXPECT_SIGNATURE(void (DW_Base::*)(DW_Base*), DW_Base::RemoveChildData);
ORVEX_EXPECT_SIGNATURE(void (DW_Base::*)(), DW_Base::RemoveParentData);
ORVEX_EXPECT_SIGNATURE(void (DW_Base::*)(const DW_Base*), DW_Base::CloneSourceHashID);
ORVEX_EXPECT_SIGNATURE(void (DW_Base::*)(const DW_Base*), DW_Base::Clone);
ORVEX_EXPECT_SIGNATURE(QZRef<QZMatrix> (DW_Base::*)() const, DW_Base::GetTransMatFromSourceImage);
ORVEX_EXPECT_SIGNATURE(QZRef<QZMatrix> (DW_Base::*)() const, DW_Base::GetTransMatInvertToSourceImage);
ORVEX_EXPECT_SIGNATURE(int (DW_Base::*)(tav::CDataUnit**) const, DW_Base::GetParentDataUnit);
ORVEX_EXPECT_SIGNATURE(int (DW_Base::*)(const tav::CParameterTree*, tav::CDataUnitArray*) const, DW_Base::GetChildDataUnits);
ORVEX_EXPECT_SIGNATURE(int (DW_Base::*)(const tav::CParameterTree*, tav::CDataUnitArray*) const,
                       DW_Base::GetSiblingDataUnits);
// The wrap templates, on one stage's wrap: GetData hands out the stage object uncounted,
// and the parent (a pinned handle, so that it outlives a concurrent release) reads as
// the parent's class.
// Each is held to its whole type, its result included.
ORVEX_EXPECT_SIGNATURE(DP_BinarizeROIImage* (DW_ROIBinaryImage::*)(bool), DW_ROIBinaryImage::GetData);
ORVEX_EXPECT_SIGNATURE(bool (DW_ROIBinaryImage::*)() const, DW_ROIBinaryImage::IsDataExist);
ORVEX_EXPECT_SIGNATURE(void (DW_ROIBinaryImage::*)(), DW_ROIBinaryImage::GenerateDataIfEmpty);
ORVEX_EXPECT_SIGNATURE(QZRef<DW_ROIGaryImageProcessed> (DW_ROIBinaryImage::*)() const, DW_ROIBinaryImage::GetParentData);
ORVEX_EXPECT_SIGNATURE(int (DW_ROIBinaryImage::*)(core::CImageData**) const, DW_ROIBinaryImage::GetDataAsImageData);
ORVEX_EXPECT_SIGNATURE(int (DW_ROIBinaryImage::*)(int, int, int, core::ImagePixelFormat, core::CImageData**),
                       DW_ROIBinaryImage::CreateDataAsImageData);
ORVEX_EXPECT_SIGNATURE(QZRef<QZMatrix> (DP_BinarizeROIImage::*)(bool), DP_BinarizeROIImage::GetPrimaryData);
static_assert(std::is_convertible<decltype(std::declval<const DW_ROIBinaryImage&>().GetParentData()),
                                  DW_ROIGaryImageProcessed*>::value,
              "GetParentData reads as the parent's class");
static_assert(std::is_constructible<DW_ROIBinaryImage, DW_ROIGaryImageProcessed*, const QZVP_BinarizationModeStruct*>::value,
              "a stage wrap is made below its parent with its parameters");

// A host's node: overrides the protected operations as documented, and reaches the
// protected lookup.
class HostNode : public PN_ColourImageForROI {
 public:
  using PN_ColourImageForROI::PN_ColourImageForROI;
  int calcCalls = 0;

  QZRef<DW_Base> Result(const std::string& key) { return GetDataBase(key, true, true); }

 protected:
  QZRef<DW_Base> CalcData(const std::string& key) override {
    ++calcCalls;
    return PN_ColourImageForROI::CalcData(key);
  }
  void SetRequiredData(const std::string& key, DW_Base* data) override { PN_ColourImageForROI::SetRequiredData(key, data); }
};

// Wraps a host makes without parent, of a stage without and one with parameters.
QZRef<DW_Base> MakeOrphanFittedWrap() { return new DW_ColourImageAfterSizeFitting(nullptr); }
QZRef<DW_Base> MakeOrphanBinaryWrap() { return new DW_ROIBinaryImage(nullptr); }

// The named wrap and node class of every stage, by stage number from 1.
template <std::size_t... I>
std::vector<std::pair<const std::type_info*, const std::type_info*>> NamedClasses(std::index_sequence<I...>) {
  return {{&typeid(stages::WrapOf<stages::kFirstStage + static_cast<int>(I)>),
           &typeid(stages::NodeOf<stages::kFirstStage + static_cast<int>(I)>)}...};
}
const std::pair<const std::type_info*, const std::type_info*>& NamedClassesOf(int stage) {
  static const auto kClasses = NamedClasses(std::make_index_sequence<stages::kLastStage - stages::kFirstStage + 1>{});
  return kClasses.at(static_cast<std::size_t>(stage - stages::kFirstStage));
}

TEST(DocumentedSignatures, AHandleTakesANewObjectAndIsReturnedAsAPointer) {
  QZRef<QZMatrix> matrix = new QZMatrix(cv::Mat(8, 8, CV_8UC1, cv::Scalar(3)));
  EXPECT_EQ(matrix->GetRefCount(), 1);
  const auto handOut = [&]() -> QZRef<QZMatrix> { return matrix.get(); };
  QZRef<QZMatrix> second = handOut();
  EXPECT_EQ(matrix->GetRefCount(), 2);
}

TEST(DocumentedSignatures, AWrapMadeWithANullParentHasNoParentAndIsNoCopy) {
  for (const QZRef<DW_Base>& orphan : {MakeOrphanFittedWrap(), MakeOrphanBinaryWrap()}) {
    tav::CDataUnit* parent = reinterpret_cast<tav::CDataUnit*>(0x1);
    EXPECT_EQ(orphan->GetParentDataUnit(&parent), 0);
    EXPECT_EQ(parent, nullptr);
    EXPECT_EQ(typeid(*orphan), *NamedClassesOf(orphan->GetStageType()).first);
  }
  EXPECT_EQ(MakeOrphanFittedWrap()->GetStageType(), tav::DUST_COLOUR_IMAGE_AFTER_SIZE_FITTING);
  EXPECT_EQ(MakeOrphanBinaryWrap()->GetStageType(), tav::DUST_ROI_BINARY_IMAGE);
}

TEST(DocumentedSignatures, TreesAreMadeOfTheNamedNodeClassesAndTheirResultsOfTheNamedWraps) {
  QZParameterTreeLoader* loader = QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader();
  QZ_ImageParameter parameters = testing::PageParameters(10);
  QZRef<ParamTreeGroup> group = loader->InitParameterTreeGroup(&parameters, &testing::RegisterGroup, "named-classes");
  ASSERT_TRUE(group);
  QZRef<QZMatrix> page = new QZMatrix(testing::DrawBarPage(cv::Size(640, 480)));
  char id[kHashIdBufferSize];
  ASSERT_TRUE(group->AddSourceData(page, 0, 0, id, {{tav::DUST_LINE_SEGMENTS, 1}}));
  ASSERT_FALSE(testing::AddRegionsAndGenerateLines(*group, id).empty());

  int nodes = 0;
  for (const auto& entry : group->GetTree()->GetNodesMap()) {
    const ParamNodeArray& stageNodes = entry.second;
    for (int i = 0; i < stageNodes.GetCount(); ++i, ++nodes)
      EXPECT_EQ(typeid(*stageNodes[i]), *NamedClassesOf(entry.first).second) << "stage " << entry.first;
  }
  EXPECT_GT(nodes, 0);
  // A line-segment result and every result above it.
  const ParamNodeArray& lineNodes = group->GetTree()->GetNodesFromMap(tav::DUST_LINE_SEGMENTS);
  ASSERT_GT(lineNodes.GetCount(), 0);
  tav::CDataUnitArray lines;
  ASSERT_EQ(lineNodes[0]->GetDataUnits(id, &lines), 0);
  ASSERT_GT(lines.GetCount(), 0);
  ASSERT_NE(dynamic_cast<const DW_LineSegments*>(lines.GetDataUnit(0)), nullptr);
  int stages = 0;
  for (const tav::CDataUnit* walk = lines.GetDataUnit(0); walk != nullptr; ++stages) {
    EXPECT_EQ(typeid(*walk), *NamedClassesOf(walk->GetStageType()).first) << "stage " << walk->GetStageType();
    tav::CDataUnit* parent = nullptr;
    walk->GetParentDataUnit(&parent);
    walk = parent;
  }
  EXPECT_EQ(stages, stages::kLastStage);
  group->RemoveSameSourceData(id);
}

TEST(DocumentedSignatures, RegionNodesOfATreeWithoutThemAreAnEmptyListAndTheTreeGainsNoStage) {
  QZRef<QZParameterTree> tree = new QZParameterTree(tav::DUST_CANDIDATE_ROIS);
  ParamTreeGroup group(tree);
  ParamNodeArray& nodes = group.GetRegionNodes();
  EXPECT_EQ(nodes.GetCount(), 0);
  EXPECT_EQ(tree->GetNodesMap().count(tav::DUST_CANDIDATE_ROIS), 0u);
  ParamTreeGroup withoutTree;
  EXPECT_EQ(withoutTree.GetRegionNodes().GetCount(), 0);
}

TEST(DocumentedSignatures, AHostNodeOverridingCalcDataWithOneKeyIsCalledForItsResults) {
  QZRef<QZParameterTree> tree = new QZParameterTree(tav::DUST_CANDIDATE_ROIS);
  auto* source = new PN_SourceImage(tree.get());
  ASSERT_TRUE(tree->PushBackNode(source->GetGlobalHash(), source));
  tree->SetRootNode(source);
  auto* fitted = new PN_ColourImageAfterSizeFitting(tree.get(), source);
  ASSERT_TRUE(tree->PushBackNode(fitted->GetGlobalHash(), fitted));
  auto* scaled = new PN_ColourImageAfterScalingDown(tree.get(), fitted, 0);
  ASSERT_TRUE(tree->PushBackNode(scaled->GetGlobalHash(), scaled));
  auto* host = new HostNode(tree.get(), scaled);
  ASSERT_TRUE(tree->PushBackNode(host->GetGlobalHash(), host));

  QZRef<QZMatrix> page = new QZMatrix(testing::DrawBarPage(cv::Size(640, 480)));
  char id[kHashIdBufferSize];
  ASSERT_TRUE(source->AddData(page, 0, 0, id));
  QZRef<DW_Base> result = host->Result(id);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->GetStageType(), tav::DUST_COLOUR_IMAGE_FOR_ROI);
  EXPECT_EQ(host->calcCalls, 1);
  EXPECT_EQ(host->Result(id).get(), result.get());
  EXPECT_EQ(host->calcCalls, 1) << "a result is made once";
}

}  // namespace
}  // namespace orvex
