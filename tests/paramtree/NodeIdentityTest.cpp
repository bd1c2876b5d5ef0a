// Node ids, data hash ids, the tree's node maps, the stage counters and the pool.
#include "HandTree.h"

#include <gtest/gtest.h>

#include <cstring>

namespace orvex {
namespace testing {
namespace {

std::string Hash(const std::string& text) { return GenerateHashId(text.data(), static_cast<unsigned int>(text.size())); }

TEST(NodeIdentity, TwoTreesBuiltFromOneChainHaveEqualIdsEverywhere) {
  HandTree a, b;
  const auto nodesA = a.Nodes(), nodesB = b.Nodes();
  std::set<std::string> distinct;
  for (size_t i = 0; i < nodesA.size(); ++i) {
    EXPECT_EQ(nodesA[i]->GetGlobalHash(), nodesB[i]->GetGlobalHash()) << i;
    EXPECT_STREQ(nodesA[i]->GetHashId(), nodesA[i]->GetGlobalHash().c_str());
    const std::string& id = nodesA[i]->GetGlobalHash();
    EXPECT_EQ(id.substr(id.find('+') + 1), std::to_string(static_cast<int>(nodesA[i]->GetDataUnitStageType())));
    distinct.insert(id);
  }
  EXPECT_EQ(distinct.size(), nodesA.size());
  EXPECT_EQ(a.tree->GetNodeCount(), 23);
}

TEST(NodeIdentity, EverySourceNodeHasTheKeyDerivedId) {
  HandTree a;
  PN_SourceImage other(nullptr);
  EXPECT_EQ(other.GetGlobalHash(), a.source->GetGlobalHash());
  EXPECT_EQ(other.GetGlobalHash(), Hash("SourceImage_GlobalHash") + "+1");
  EXPECT_EQ(other.GetReferenceHash(), other.GetGlobalHash());
  EXPECT_EQ(other.GetLayerHash(), Hash("SourceImage_LayerHash"));
  EXPECT_EQ(other.GetDataUnitStageType(), tav::DUST_SOURCE_IMAGE);
  tav::CParameterTreeNode* parent = &other;
  EXPECT_EQ(other.GetParentNode(&parent), 0);
  EXPECT_EQ(parent, nullptr);
}

TEST(NodeIdentity, ChainFollowsLayerAndReferenceHashes) {
  HandTree t;
  EXPECT_EQ(t.fitted->GetLayerHash(), Hash(t.source->GetLayerHash() + Hash("ColourImageAfterSizeFitting_SingleModeHash")));
  EXPECT_EQ(t.fitted->GetReferenceHash(), t.source->GetGlobalHash());
  EXPECT_EQ(t.fitted->GetGlobalHash(), Hash(t.fitted->GetReferenceHash() + t.fitted->GetLayerHash()) + "+2");
  QZVP_ColourConversionModeStruct colour;
  colour.mode = CICM_GENERAL;
  EXPECT_EQ(t.gray->GetSingleModeHash(), Hash(colour.ToString()));
}

TEST(NodeIdentity, AnchorsRestartTheLayerChainAndReferToThemselves) {
  HandTree t;
  EXPECT_EQ(t.roiColour->GetLayerHash(), Hash("ROIColourImage_LayerHash"));
  EXPECT_EQ(t.roiColour->GetReferenceHash(), t.roiColour->GetGlobalHash());
  EXPECT_EQ(t.roiGray->GetReferenceHash(), t.roiColour->GetGlobalHash());
  EXPECT_EQ(t.roiGray->GetLayerHash(), Hash(Hash("ROIColourImage_LayerHash") + t.roiGray->GetSingleModeHash()));
  EXPECT_EQ(t.contours->GetLayerHash(), Hash("Contours_LayerHash"));
  EXPECT_EQ(t.lines->GetReferenceHash(), t.contours->GetGlobalHash());

  // The same region chain under another candidate-regions node gets other ids.
  ChainModes otherModes;
  otherModes.regions.mode = RPM_GENERAL;
  HandTree other(otherModes);
  EXPECT_NE(other.roiColour->GetGlobalHash(), t.roiColour->GetGlobalHash());
  EXPECT_NE(other.lines->GetGlobalHash(), t.lines->GetGlobalHash());
  EXPECT_EQ(other.fitted->GetGlobalHash(), t.fitted->GetGlobalHash());
}

TEST(NodeIdentity, ScalingDownValueIsAppendedToTheKeyWithoutSeparator) {
  QZRef<QZParameterTree> tree(new QZParameterTree(tav::DUST_CANDIDATE_ROIS));
  PN_SourceImage source(tree.get());
  PN_ColourImageAfterSizeFitting fitted(tree.get(), &source);
  PN_ColourImageAfterScalingDown minusOne(tree.get(), &fitted, -1);
  PN_ColourImageAfterScalingDown zero(tree.get(), &fitted, 0);
  EXPECT_EQ(minusOne.GetSingleModeHash(), Hash("ColourImageAfterScalingDown_SingleModeHash-1"));
  EXPECT_EQ(zero.GetSingleModeHash(), Hash("ColourImageAfterScalingDown_SingleModeHash0"));
  EXPECT_EQ(fitted.GetChildren().GetCount(), 0);  // nodes join their parent when their tree takes them
  EXPECT_EQ(minusOne.GetPreviousNode(), &fitted);
  EXPECT_EQ(source.GetPreviousNode(), nullptr);
}

TEST(NodeIdentity, NodeWithoutParentHasNoIdentityAndSharesNothing) {
  PN_ColourImageAfterSizeFitting orphan(nullptr, nullptr);
  EXPECT_EQ(orphan.GetGlobalHash(), "");
  EXPECT_EQ(orphan.GetHashId(), nullptr);
  char out[kHashIdBufferSize] = "untouched";
  EXPECT_FALSE(orphan.CalcDataHashId("some-image", out));
  EXPECT_STREQ(out, "untouched");
}

TEST(DataHashId, IsTheHashOfKeyAndNodeIdWithTheStage) {
  HandTree t;
  char out[kHashIdBufferSize] = "untouched";
  EXPECT_FALSE(t.gray->CalcDataHashId("", out));
  EXPECT_STREQ(out, "untouched");
  ASSERT_TRUE(t.gray->CalcDataHashId("img", out));
  EXPECT_EQ(std::string(out), Hash("img" + t.gray->GetGlobalHash()) + "-5");
}

bool SixtyThreeCharacters(const void*, unsigned int, char* out) {
  std::memset(out, 'h', 63);
  out[63] = '\0';
  return true;
}

TEST(DataHashId, OverLongIdIsRefused) {
  HandTree t;
  SetGenerateHashForTesting(&SixtyThreeCharacters);
  char out[kHashIdBufferSize] = "untouched";
  const bool made = t.gray->CalcDataHashId("img", out);
  SetGenerateHashForTesting(nullptr);
  EXPECT_FALSE(made);  // 63 characters and "-5" are more than 64
  EXPECT_STREQ(out, "untouched");
}

TEST(TreeMaps, RefusedIdsLeaveTheExistingNodeAlone) {
  HandTree t;
  const int count = static_cast<QZObjectBase*>(t.gray)->GetRefCount();
  QZRef<ParameterNodeBase> duplicate(new PN_ColourImageForROI(nullptr, nullptr));
  EXPECT_FALSE(t.tree->PushBackNode(t.gray->GetGlobalHash(), duplicate));
  EXPECT_FALSE(t.tree->PushBackNode("", duplicate));
  EXPECT_EQ(static_cast<QZObjectBase*>(t.gray)->GetRefCount(), count);
  EXPECT_EQ(t.tree->FindTreeNodeFromMapByID(t.gray->GetGlobalHash()).get(), t.gray);
  EXPECT_FALSE(t.tree->FindTreeNodeFromMapByID("nope"));
  EXPECT_EQ(t.tree->GetNodesMap().count(tav::DUST_CANDIDATE_ROIS), 0u);
  EXPECT_EQ(t.tree->GetNodesOfTreeEnd().GetCount(), 0);
  EXPECT_EQ(t.tree->GetNodesMap().count(tav::DUST_CANDIDATE_ROIS), 1u);
  EXPECT_EQ(t.tree->GetUserCustomNode(tav::DUST_CONTOURS), nullptr);
}

TEST(TreeMaps, NodeRefusedByItsTreeNeverJoinsItsParentsChildList) {
  HandTree t;
  const int children = t.gray->GetChildren().GetCount();
  QZRef<ParameterNodeBase> duplicate(new PN_GrayscaleImageTransformed(t.tree.get(), t.gray, ChainModes().transform));
  EXPECT_EQ(t.gray->GetChildren().GetCount(), children);
  EXPECT_FALSE(t.tree->PushBackNode(duplicate->GetGlobalHash(), duplicate));
  EXPECT_EQ(t.gray->GetChildren().GetCount(), children);
  duplicate.reset();
  ASSERT_EQ(t.gray->GetChildren().GetCount(), children);
  tav::CParameterTreeNodeArray listed;
  ASSERT_EQ(t.gray->GetChildNodes(&listed), 0);
  for (int i = 0; i < listed.GetCount(); ++i) EXPECT_EQ(listed.GetParameterTreeNode(i)->GetDataUnitStageType(), tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED);
}

TEST(StageCounter, CountsOnlyRequestsMarkedOne) {
  StageTypeCounter counter;
  counter.UpdateCounter({{tav::DUST_SOURCE_IMAGE, 2}, {tav::DUST_CONTOURS, 0}});
  EXPECT_TRUE(counter.IsEmpty());
  const StageRequestMap keepSix = {{tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED, 1}};
  counter.UpdateCounter(keepSix);
  counter.UpdateCounter(keepSix);
  counter.MinusCounter({{tav::DUST_CONTOURS, 1}});  // no count there: nothing happens
  counter.MinusCounter(keepSix);
  EXPECT_TRUE(counter.IsTypeNeedSave(tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED));
  counter.MinusCounter(keepSix);
  EXPECT_FALSE(counter.IsTypeNeedSave(tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED));
  EXPECT_TRUE(counter.IsEmpty());
}

}  // namespace
}  // namespace testing
}  // namespace orvex
