// The library used as a host program uses it, through the public headers only: register
// groups, add a drawn page, add the candidate regions, generate line segments, walk the
// results with the C functions, share results with a second group, and release everything.
#include <OrvexStagecache.h>
#include <OrvexStagecacheHost.h>

#include "../support/HostPipeline.h"
#include "../support/TestScene.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace orvex {
namespace {

using testing::AddRegionsAndGenerateLines;
using testing::PageParameters;
using testing::RegisterGroup;

TEST(HostEndToEnd, PageThroughTwoGroupsSharesResultsAndReleasesEverything) {
  DataUnitManager* table = QZParameterTreeAndDataPool::GetInstance()->GetDataManager();
  QZParameterTreeLoader* loader = QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader();
  const int tableBefore = table->GetDataMapSize();
  const int wrapsBefore = DW_Base::GetLiveCount();
  const int stagesBefore = DP_CommonBase::GetTotalLiveCount();
  const int nodesBefore = ParameterNodeBase::GetLiveCount();

  QZ_ImageParameter firstParameters = PageParameters(10);
  QZ_ImageParameter secondParameters = PageParameters(2);
  QZRef<ParamTreeGroup> first = loader->InitParameterTreeGroup(&firstParameters, &RegisterGroup, "end-to-end-first");
  ASSERT_TRUE(first);
  const tav::CParameterTree* tree = first.get();

  const cv::Mat page = testing::DrawBarPage(cv::Size(1200, 900));
  const StageRequestMap keep = {{tav::DUST_CANDIDATE_ROIS, 1}, {tav::DUST_LINE_SEGMENTS, 1}};
  QZRef<QZMatrix> matrix(new QZMatrix(page));
  char imageId[kHashIdBufferSize];
  ASSERT_TRUE(first->AddSourceData(matrix, 0, 0, imageId, keep));
  const std::vector<std::string> regions = AddRegionsAndGenerateLines(*first, imageId);
  ASSERT_GE(regions.size(), 2u) << "the drawn page has three bar patterns";

  // Nodes and results of a stage, through the C functions.
  tav::CParameterTreeNodeArray lineNodes;
  ASSERT_EQ(TAV_ParameterTree_GetNodes(tree, tav::DUST_LINE_SEGMENTS, &lineNodes), 0);
  ASSERT_EQ(lineNodes.GetCount(), 1);
  tav::CDataUnitArray lineUnits;
  ASSERT_EQ(TAV_ParameterTree_GetDataUnits(tree, tav::DUST_LINE_SEGMENTS, imageId, &lineUnits), 0);
  EXPECT_EQ(lineUnits.GetCount(), static_cast<int>(regions.size()));
  ASSERT_EQ(TAV_ParameterTreeNode_GetDataUnits(lineNodes.GetParameterTreeNode(0), imageId, &lineUnits), 0);
  EXPECT_EQ(lineUnits.GetCount(), static_cast<int>(regions.size()));
  const tav::CDataUnit* lineUnit = lineUnits.GetDataUnit(0);
  core::CImageData* none = nullptr;
  EXPECT_EQ(TAV_DataUnit_GetDataAsImageData(lineUnit, &none), -1);

  // A result by hash id, its parent chain up to the source, and the source's pixels.
  tav::CDataUnit* found = nullptr;
  ASSERT_EQ(TAV_ParameterTree_GetDataUnit(tree, lineUnit->GetHashId(), &found), 0);
  EXPECT_EQ(found, lineUnit);
  const tav::CDataUnit* walk = lineUnit;
  int steps = 0;
  tav::CDataUnit* parent = nullptr;
  while (TAV_DataUnit_GetParentDataUnit(walk, &parent) == 0 && parent != nullptr) {
    EXPECT_EQ(parent->GetStageType(), walk->GetStageType() - 1);
    walk = parent;
    ++steps;
  }
  EXPECT_EQ(steps, 22);
  EXPECT_EQ(walk->GetStageType(), tav::DUST_SOURCE_IMAGE);
  EXPECT_STREQ(walk->GetHashId(), imageId);
  core::CImageData* image = nullptr;
  ASSERT_EQ(TAV_DataUnit_GetDataAsImageData(walk, &image), 0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetWidth(), page.cols);
  EXPECT_EQ(image->GetHeight(), page.rows);
  EXPECT_EQ(std::memcmp(image->GetBytes() + 450 * image->GetStride(), page.ptr(450), page.cols * 3), 0);

  // The scaled-down image halves the page once (1200 > 800), and a region image shows its pixels.
  tav::CDataUnitArray scaledUnits;
  ASSERT_EQ(TAV_ParameterTree_GetDataUnits(tree, tav::DUST_COLOUR_IMAGE_FOR_ROI, imageId, &scaledUnits), 0);
  ASSERT_EQ(scaledUnits.GetCount(), 1);
  core::CImageData* scaled = nullptr;
  ASSERT_EQ(TAV_DataUnit_GetDataAsImageData(scaledUnits.GetDataUnit(0), &scaled), 0);
  EXPECT_EQ(scaled->GetWidth(), 600);
  EXPECT_EQ(scaled->GetHeight(), 450);
  tav::CDataUnit* regionUnit = nullptr;
  ASSERT_EQ(TAV_ParameterTree_GetDataUnit(tree, regions[0].c_str(), &regionUnit), 0);
  ASSERT_NE(regionUnit, nullptr);
  core::CImageData* regionImage = nullptr;
  ASSERT_EQ(TAV_DataUnit_GetDataAsImageData(regionUnit, &regionImage), 0);
  ASSERT_NE(regionImage, nullptr);
  const float* t = regionUnit->GetTransform();  // source -> region: scale 1/2, then the crop offset
  EXPECT_FLOAT_EQ(t[0], 0.5f);
  const int offsetX = static_cast<int>(-t[2]), offsetY = static_cast<int>(-t[5]);
  EXPECT_EQ(std::memcmp(regionImage->GetBytes() + 3 * regionImage->GetStride(),
                        scaled->GetBytes() + (offsetY + 3) * scaled->GetStride() + offsetX * 3, regionImage->GetWidth() * 3),
            0);

  // Children filtered by the tree, and siblings. A tree lists the results of the stages it
  // keeps in its stage lists; region colour images are among them, their gray conversions not.
  tav::CDataUnit* candidates = nullptr;
  ASSERT_EQ(TAV_DataUnit_GetParentDataUnit(regionUnit, &candidates), 0);
  tav::CDataUnitArray children;
  ASSERT_EQ(TAV_DataUnit_GetChildDataUnits(candidates, tree, &children), 0);
  EXPECT_EQ(children.GetCount(), static_cast<int>(regions.size()));
  tav::CDataUnitArray siblings;
  ASSERT_EQ(TAV_DataUnit_GetSiblingDataUnits(regionUnit, tree, &siblings), 0);
  EXPECT_EQ(siblings.GetCount(), static_cast<int>(regions.size()) - 1);
  ASSERT_EQ(TAV_DataUnit_GetChildDataUnits(regionUnit, tree, &children), 0);
  EXPECT_EQ(children.GetCount(), 0);
  ASSERT_EQ(regionUnit->GetChildDataUnits(nullptr, &children), 0);
  ASSERT_EQ(children.GetCount(), 1);
  EXPECT_EQ(children.GetDataUnit(0)->GetStageType(), tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED);
  TAV_FreeDataUnitArray(&children);
  EXPECT_EQ(children.GetCount(), 0);

  // A second group whose parameters differ only in binarization adopts everything above it.
  const std::vector<int> before = testing::ComputationCounts();
  QZRef<ParamTreeGroup> second = loader->InitParameterTreeGroup(&secondParameters, &RegisterGroup, "end-to-end-second");
  QZRef<QZMatrix> again(new QZMatrix(page.clone()));
  char secondId[kHashIdBufferSize];
  ASSERT_TRUE(second->AddSourceData(again, 0, 0, secondId, keep));
  EXPECT_STREQ(secondId, imageId);
  EXPECT_EQ(AddRegionsAndGenerateLines(*second, secondId), regions);
  const std::vector<int> moved = testing::ComputationsSince(before);
  for (int kind = DPK_SOURCE_IMAGE; kind <= DPK_ENHANCE_ROI_IMAGE; ++kind) EXPECT_EQ(moved[kind], 0) << "kind " << kind;
  EXPECT_EQ(moved[DPK_BINARIZE_ROI_IMAGE], static_cast<int>(regions.size()));
  tav::CDataUnitArray secondLines;
  TAV_ParameterTree_GetDataUnits(second.get(), tav::DUST_LINE_SEGMENTS, imageId, &secondLines);
  EXPECT_EQ(secondLines.GetCount(), static_cast<int>(regions.size()));

  // Release: counters down, results of the image dropped, handles gone, groups cleaned up.
  for (ParamTreeGroup* group : {first.get(), second.get()}) {
    group->MinusSavedTypeCount(imageId, keep);
    group->RemoveSameSourceData(imageId);
  }
  matrix.reset();
  again.reset();
  first.reset();
  second.reset();
  EXPECT_TRUE(loader->UpdateTreeGroups());
  EXPECT_EQ(table->GetDataMapSize(), tableBefore);
  EXPECT_EQ(DW_Base::GetLiveCount(), wrapsBefore);
  EXPECT_EQ(DP_CommonBase::GetTotalLiveCount(), stagesBefore);
  EXPECT_EQ(ParameterNodeBase::GetLiveCount(), nodesBefore);
}

}  // namespace
}  // namespace orvex
