// Shape, order, groups and relations of generated trees.
#include <OrvexStagecacheHost.h>

#include "paramtree/TreeGeneration.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

QZVP_ColourConversionModeStruct Colour(int32_t mode, int32_t channel = 0) {
  QZVP_ColourConversionModeStruct record;
  record.mode = mode;
  record.channel = channel;
  return record;
}
QZVP_RegionPredetectionModeStruct Regions(int32_t mode, int32_t arg = 0) {
  QZVP_RegionPredetectionModeStruct record;
  record.mode = mode;
  record.intArg1 = arg;
  return record;
}
QZVP_GrayscaleEnhancementModeStruct Enhancement(int32_t mode, int32_t arg = 0) {
  QZVP_GrayscaleEnhancementModeStruct record;
  record.mode = mode;
  record.intArg2 = arg;
  return record;
}
QZVP_BinarizationModeStruct Binarization(int32_t mode, int32_t intArg5 = 0) {
  QZVP_BinarizationModeStruct record;
  record.mode = mode;
  record.intArg5 = intArg5;
  return record;
}
QZVP_LineExtractionModeStruct Line(int32_t mode, const char* text = "") {
  QZVP_LineExtractionModeStruct record;
  record.mode = mode;
  record.textArg1 = text;
  return record;
}

int Count(QZParameterTree& tree, tav::DataUnitStageType stage) { return tree.GetNodesFromMap(stage).GetCount(); }

// The parameters of one tree, with the lists the tests vary.
struct Parameters {
  QZ_ImageParameter p;
  Parameters() {
    p.colourConversionModes = {Colour(CICM_GENERAL)};
    p.grayscaleTransformationModes = {QZVP_GrayscaleTransformationModeStruct(GTM_ORIGINAL)};
    p.regionPredetectionModes = {Regions(RPM_GENERAL)};
    p.grayscaleEnhancementModes = {Enhancement(GEM_GENERAL)};
    p.binarizationModes = {Binarization(BM_THRESHOLD)};
    p.lineExtractionModes = {Line(LEM_GENERAL)};
  }
};

class TreeGeneration : public ::testing::Test {
 protected:
  // A whole-image tree from the loader, and the region part grown below every region node.
  QZRef<QZParameterTree> Build(QZ_ImageParameter& parameters, bool withRegions) {
    QZRef<QZParameterTree> tree = loader.CreateParameterTree("tree-" + std::to_string(++m_serial), &parameters);
    if (withRegions) {
      const ParamNodeArray regionNodes = tree->GetNodesFromMap(tav::DUST_CANDIDATE_ROIS);
      for (int i = 0; i < regionNodes.GetCount(); ++i) loader.ExtandRegionPart(tree.get(), regionNodes[i], &parameters);
    }
    return tree;
  }

  QZParameterTreeLoader loader;

 private:
  int m_serial = 0;
};

TEST_F(TreeGeneration, WholeImageShapeFollowsTheProductOfUsableDistinctLists) {
  struct Case {
    std::vector<QZVP_ColourConversionModeStruct> colours;
    std::vector<int32_t> transforms;
    std::vector<QZVP_RegionPredetectionModeStruct> regions;
    int c, g, r;
  };
  const std::vector<Case> cases = {
      {{Colour(CICM_GENERAL)}, {GTM_ORIGINAL}, {Regions(RPM_GENERAL)}, 1, 1, 1},
      {{Colour(CICM_GENERAL), Colour(CICM_HSV, 2), Colour(CICM_SKIP)}, {GTM_AUTO}, {Regions(RPM_GENERAL), Regions(RPM_AUTO)}, 2, 2, 2},
      {{Colour(CICM_GENERAL), Colour(CICM_GENERAL)}, {GTM_INVERTED, GTM_INVERTED}, {Regions(RPM_GENERAL), Regions(RPM_GENERAL, 1), Regions(RPM_SKIP)}, 1, 1, 2},
      {{Colour(CICM_REV)}, {GTM_ORIGINAL, GTM_INVERTED}, {Regions(RPM_REV), Regions(RPM_MANUAL_SPECIFICATION)}, 1, 2, 2},
      {{}, {GTM_ORIGINAL}, {Regions(RPM_GENERAL)}, 0, 1, 1},
      {{Colour(CICM_GENERAL)}, {}, {Regions(RPM_GENERAL)}, 1, 0, 1},
      {{Colour(CICM_GENERAL)}, {GTM_ORIGINAL}, {Regions(RPM_SKIP)}, 1, 1, 0},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    Parameters parameters;
    parameters.p.colourConversionModes = c.colours;
    parameters.p.grayscaleTransformationModes.clear();
    for (int32_t mode : c.transforms) parameters.p.grayscaleTransformationModes.emplace_back(mode);
    parameters.p.regionPredetectionModes = c.regions;
    QZRef<QZParameterTree> tree = Build(parameters.p, false);
    EXPECT_EQ(tree->GetNodeCount(), 4 + c.c + 2 * c.c * c.g + c.c * c.g * c.r) << "case " << i;
    EXPECT_EQ(Count(*tree, tav::DUST_SOURCE_IMAGE), 1);
    EXPECT_EQ(Count(*tree, tav::DUST_COLOUR_IMAGE_FOR_ROI), 1);
    EXPECT_EQ(Count(*tree, tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED), c.c) << "case " << i;
    EXPECT_EQ(Count(*tree, tav::DUST_GRAYSCALE_IMAGE_FOR_ROI), c.c * c.g) << "case " << i;
    EXPECT_EQ(Count(*tree, tav::DUST_CANDIDATE_ROIS), c.c * c.g * c.r) << "case " << i;
    EXPECT_EQ(Count(*tree, tav::DUST_COLOUR_IMAGE_AFTER_SIZE_FITTING), 0);
    EXPECT_EQ(Count(*tree, tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED), 0);
    EXPECT_EQ(tree->GetEndNodeType(), tav::DUST_CANDIDATE_ROIS);
    EXPECT_EQ(tree->GetRootNode(), tree->GetNodesFromMap(tav::DUST_SOURCE_IMAGE)[0]);
  }
}

TEST_F(TreeGeneration, UnfilteredSkipTransformationStillGivesNodes) {
  QZRef<QZParameterTree> tree = GenerateWholeImageParamTreeByModes(
      0, {Colour(CICM_GENERAL)}, {QZVP_GrayscaleTransformationModeStruct(GTM_SKIP)}, {Regions(RPM_GENERAL)});
  EXPECT_EQ(Count(*tree, tav::DUST_CANDIDATE_ROIS), 1);
}

TEST_F(TreeGeneration, CandidateRegionNodesAreListedInLoopOrder) {
  Parameters parameters;
  parameters.p.colourConversionModes = {Colour(CICM_GENERAL), Colour(CICM_HSV, 1)};
  parameters.p.grayscaleTransformationModes = {QZVP_GrayscaleTransformationModeStruct(GTM_AUTO)};
  parameters.p.regionPredetectionModes = {Regions(RPM_GENERAL), Regions(RPM_GENERAL_GRAY_CONTRAST)};
  QZRef<QZParameterTree> tree = Build(parameters.p, false);
  const ParamNodeArray& regions = tree->GetNodesFromMap(tav::DUST_CANDIDATE_ROIS);
  ASSERT_EQ(regions.GetCount(), 8);
  std::vector<std::string> expected;
  const ParamNodeArray& colours = tree->GetNodesFromMap(tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED);
  for (int c = 0; c < colours.GetCount(); ++c) {
    const ParamNodeArray& transforms = colours[c]->GetChildren();
    ASSERT_EQ(transforms.GetCount(), 2);
    QZVP_GrayscaleTransformationModeStruct original(GTM_ORIGINAL);
    EXPECT_EQ(transforms[0]->GetSingleModeHash(), CalcHashValueOfMode(&original));  // GTM_AUTO: original first
    for (int g = 0; g < transforms.GetCount(); ++g) {
      const ParamNodeArray& regionNodes = transforms[g]->GetChildren()[0]->GetChildren();
      for (int r = 0; r < regionNodes.GetCount(); ++r) expected.push_back(regionNodes[r]->GetGlobalHash());
    }
  }
  for (int i = 0; i < regions.GetCount(); ++i) EXPECT_EQ(regions[i]->GetGlobalHash(), expected[i]) << i;
  // The first colour branch comes first.
  EXPECT_EQ(regions[0]->GetParent()->GetParent()->GetParent(), colours[0]);
  EXPECT_EQ(regions[4]->GetParent()->GetParent()->GetParent(), colours[1]);
}

TEST_F(TreeGeneration, RegionShapeFollowsTheProductOfUsableDistinctLists) {
  struct Case {
    std::vector<int32_t> transforms;
    std::vector<QZVP_GrayscaleEnhancementModeStruct> enhancements;
    std::vector<QZVP_BinarizationModeStruct> binarizations;
    std::vector<QZVP_LineExtractionModeStruct> lines;
    int g, e, b, l;
  };
  const std::vector<Case> cases = {
      {{GTM_ORIGINAL}, {Enhancement(GEM_GENERAL)}, {Binarization(BM_THRESHOLD)}, {Line(LEM_GENERAL)}, 1, 1, 1, 1},
      {{GTM_AUTO}, {Enhancement(GEM_GENERAL), Enhancement(GEM_SKIP), Enhancement(GEM_GRAY_SMOOTH, 5)},
       {Binarization(BM_LOCAL_BLOCK, -10000), Binarization(BM_SKIP)}, {Line(LEM_GENERAL), Line(LEM_SKIP), Line(LEM_MARGIN_BASED)}, 2, 2, 2, 2},
      {{GTM_ORIGINAL}, {Enhancement(GEM_GENERAL), Enhancement(GEM_GENERAL)},
       {Binarization(BM_THRESHOLD), Binarization(BM_THRESHOLD), Binarization(BM_LOCAL_BLOCK, 10)}, {Line(LEM_GENERAL), Line(LEM_GENERAL)}, 1, 1, 2, 1},
      {{GTM_ORIGINAL}, {Enhancement(GEM_GENERAL)}, {Binarization(BM_LOCAL_BLOCK, -10000), Binarization(BM_LOCAL_BLOCK, 10)},
       {Line(LEM_GENERAL)}, 1, 1, 2, 1},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    Parameters parameters;
    parameters.p.colourConversionModes = {Colour(CICM_GENERAL), Colour(CICM_HSV, 4)};
    parameters.p.grayscaleTransformationModes.clear();
    for (int32_t mode : c.transforms) parameters.p.grayscaleTransformationModes.emplace_back(mode);
    parameters.p.grayscaleEnhancementModes = c.enhancements;
    parameters.p.binarizationModes = c.binarizations;
    parameters.p.lineExtractionModes = c.lines;
    QZRef<QZParameterTree> whole = Build(parameters.p, false);
    const int wholeCount = whole->GetNodeCount();
    const int regionNodes = Count(*whole, tav::DUST_CANDIDATE_ROIS);
    QZRef<QZParameterTree> tree = Build(parameters.p, true);
    const int C = 2, G = c.g, E = c.e, B = c.b, L = c.l;
    const int perRegion = 1 + C + 4 * C * G + 2 * C * G * E + 6 * C * G * E * B + C * G * E * B * L;
    EXPECT_EQ(tree->GetNodeCount(), wholeCount + regionNodes * perRegion) << "case " << i;
    EXPECT_EQ(Count(*tree, tav::DUST_ROI_BINARY_IMAGE), regionNodes * C * G * E * B) << "case " << i;
    EXPECT_EQ(Count(*tree, tav::DUST_LINE_SEGMENTS), regionNodes * C * G * E * B * L) << "case " << i;
    for (tav::DataUnitStageType unlisted : {tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED, tav::DUST_ROI_GRAYSCALE_IMAGE_ROTATED,
                                            tav::DUST_ROI_TEXTURE_DETECTION_RESULT, tav::DUST_ROI_BINARY_IMAGE_FOR_TEXT_FILTERING}) {
      EXPECT_EQ(Count(*tree, unlisted), 0);
    }
    EXPECT_EQ(tree->GetEndNodeType(), tav::DUST_LINE_SEGMENTS);
  }
}

TEST_F(TreeGeneration, GroupsHoldOneRelationPerAcceptedBinaryNodeWithItsLineNodesInOrder) {
  Parameters parameters;
  parameters.p.binarizationModes = {Binarization(BM_LOCAL_BLOCK, -10000), Binarization(BM_SKIP), Binarization(BM_THRESHOLD)};
  parameters.p.lineExtractionModes = {Line(LEM_MARGIN_BASED), Line(LEM_SKIP), Line(LEM_GENERAL)};
  QZRef<QZParameterTree> tree = Build(parameters.p, true);
  ParameterNodeBase* regionNode = tree->GetNodesFromMap(tav::DUST_CANDIDATE_ROIS)[0];
  std::vector<ParamNodeGroup>& groups = tree->GetBinNodeGroupsOfRegion(regionNode->GetGlobalHash());
  ASSERT_EQ(groups.size(), 2u);  // the BM_SKIP group leaves no trace
  ASSERT_EQ(groups[0].GetGroupNodes().size(), 2u);
  ASSERT_EQ(groups[1].GetGroupNodes().size(), 1u);
  ParamNodeRelation& relation = *groups[0].GetGroupNodes()[1];
  EXPECT_EQ(relation.GetNode()->GetDataUnitStageType(), tav::DUST_ROI_BINARY_IMAGE);
  std::vector<ParameterNodeBase*>& lines = relation.GetChildNodes(tav::DUST_LINE_SEGMENTS);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]->GetSingleModeHash(), CalcHashValueOfMode(&parameters.p.lineExtractionModes[0]));
  EXPECT_EQ(lines[1]->GetSingleModeHash(), CalcHashValueOfMode(&parameters.p.lineExtractionModes[2]));
  // Every line node descends from its relation's binary node.
  for (ParameterNodeBase* line : lines) {
    ParameterNodeBase* up = line;
    while (up != nullptr && up != relation.GetNode()) up = up->GetParent();
    EXPECT_EQ(up, relation.GetNode());
  }
  // The structurizing nodes repeat their branch's records.
  ParameterNodeBase* binary = relation.GetNode();
  ParameterNodeBase* structurizing = binary->GetChildren()[0]->GetChildren()[0];
  EXPECT_EQ(structurizing->GetSingleModeHash(), binary->GetParent()->GetParent()->GetSingleModeHash());
  EXPECT_EQ(structurizing->GetChildren()[0]->GetSingleModeHash(), binary->GetSingleModeHash());
}

TEST_F(TreeGeneration, SkipListsEndBranchesEarly) {
  Parameters onlySkipLines;
  onlySkipLines.p.lineExtractionModes = {Line(LEM_SKIP)};
  QZRef<QZParameterTree> tree = Build(onlySkipLines.p, true);
  EXPECT_EQ(Count(*tree, tav::DUST_LINE_SEGMENTS), 0);
  EXPECT_EQ(Count(*tree, tav::DUST_CONTOURS), 1);
  auto& groups = tree->GetBinNodeGroupsOfRegion(tree->GetNodesFromMap(tav::DUST_CANDIDATE_ROIS)[0]->GetGlobalHash());
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_TRUE(groups[0].GetGroupNodes()[0]->GetChildNodes(tav::DUST_LINE_SEGMENTS).empty());

  Parameters onlySkipEnhancement;
  onlySkipEnhancement.p.grayscaleEnhancementModes = {Enhancement(GEM_SKIP)};
  tree = Build(onlySkipEnhancement.p, true);
  EXPECT_EQ(Count(*tree, tav::DUST_ROI_GRAY_IMAGE_PROCESSED), 0);
  EXPECT_EQ(Count(*tree, tav::DUST_ROI_GRAYSCALE_IMAGE), 1);
  EXPECT_TRUE(tree->GetBinNodeGroupsOfRegion(tree->GetNodesFromMap(tav::DUST_CANDIDATE_ROIS)[0]->GetGlobalHash()).empty());

  Parameters onlySkipBinarization;
  onlySkipBinarization.p.binarizationModes = {Binarization(BM_SKIP)};
  tree = Build(onlySkipBinarization.p, true);
  EXPECT_EQ(Count(*tree, tav::DUST_ROI_BINARY_IMAGE), 0);

  Parameters noColours;
  noColours.p.colourConversionModes = {Colour(CICM_GENERAL)};
  tree = Build(noColours.p, false);
  ParameterNodeBase* regionNode = tree->GetNodesFromMap(tav::DUST_CANDIDATE_ROIS)[0];
  GenerateRegionImageParamTreeByModes(tree.get(), regionNode, {}, {}, {}, {}, {}, {}, {});
  EXPECT_EQ(tree->GetEndNodeType(), tav::DUST_LINE_SEGMENTS);
  EXPECT_EQ(Count(*tree, tav::DUST_ROI_COLOUR_IMAGE), 1);
  EXPECT_EQ(tree->GetNodeCount(), 4 + 1 + 2 + 1 + 1);

  Parameters emptyLists;
  emptyLists.p.textureDetectionModes.clear();
  emptyLists.p.textFilterModes.clear();
  tree = Build(emptyLists.p, true);
  EXPECT_EQ(Count(*tree, tav::DUST_ROI_BINARY_IMAGE_FOR_STRUCTURIZING), 1);
}

TEST_F(TreeGeneration, RepeatedRegionExtensionLeavesEveryChildListAsItWas) {
  Parameters parameters;
  QZRef<QZParameterTree> tree = Build(parameters.p, true);
  ParameterNodeBase* regionNode = tree->GetNodesFromMap(tav::DUST_CANDIDATE_ROIS)[0];
  const int nodes = tree->GetNodeCount();
  const int children = regionNode->GetChildren().GetCount();
  const size_t groups = tree->GetBinNodeGroupsOfRegion(regionNode->GetGlobalHash()).size();
  loader.ExtandRegionPart(tree.get(), regionNode, &parameters.p);
  loader.ExtandRegionPart(tree.get(), regionNode, &parameters.p);
  EXPECT_EQ(regionNode->GetChildren().GetCount(), children);
  EXPECT_EQ(tree->GetNodeCount(), nodes);
  EXPECT_EQ(tree->GetBinNodeGroupsOfRegion(regionNode->GetGlobalHash()).size(), groups);
  // A node that is not a candidate-regions node of this tree is not extended.
  loader.ExtandRegionPart(tree.get(), const_cast<ParameterNodeBase*>(tree->GetRootNode()), &parameters.p);
  loader.ExtandRegionPart(nullptr, regionNode, &parameters.p);
  loader.ExtandRegionPart(tree.get(), regionNode, nullptr);
  EXPECT_EQ(tree->GetNodeCount(), nodes);
}

}  // namespace
}  // namespace orvex
