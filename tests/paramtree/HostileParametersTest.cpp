// Parameters, regions and calls a host gets wrong: no value makes a stage allocate beyond
// its image, no stale cache fixes an id, no exception leaves the C functions.
#include "HandTree.h"

#include "../support/TestScene.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <stdexcept>

namespace orvex {
namespace testing {
namespace {

struct MessageLog {
  static void Sink(void* context, const QZLogRecord& record) {
    if (record.kind == QZLogRecord::kMessage) static_cast<MessageLog*>(context)->messages.push_back(record.label);
  }
  bool Has(const std::string& text) const {
    for (const std::string& message : messages)
      if (message.find(text) != std::string::npos) return true;
    return false;
  }
  std::vector<std::string> messages;
};

// Listens to the process-wide logger while it lives.
struct Listening {
  MessageLog log;
  Listening() { QZLog::m_instance.Configure(&MessageLog::Sink, &log, 1, LM_TEXT); }
  ~Listening() { QZLog::m_instance.Configure(nullptr, nullptr, 0, 0); }
};

TEST(HostileParameters, HugeSizesInModeRecordsAreClampedToTheImageAndLogged) {
  ChainModes modes;
  modes.binarization.intArg1 = INT_MAX;  // the block size
  modes.enhancement.mode = GEM_GRAY_SMOOTH;
  modes.enhancement.intArg2 = INT_MAX;  // the smoothing kernel
  modes.texture[0].intArg1 = INT_MAX;    // the texture window
  EXPECT_EQ(CheckModeRecord(modes.binarization).size(), 1u);
  EXPECT_EQ(CheckModeRecord(modes.binarization)[0].field, "intArg1");
  EXPECT_EQ(CheckModeRecord(modes.enhancement).size(), 1u);
  EXPECT_EQ(CheckModeRecord(modes.texture[0]).size(), 1u);

  Listening listening;
  HandTree t(modes);
  const std::string image = t.AddImage(DrawBarPage(cv::Size(320, 240)));
  const std::string region = t.AddFirstRegion(image);
  ASSERT_FALSE(region.empty());
  QZRef<DW_LineSegments> lines = t.lines->GetData(region, true, true);
  ASSERT_NE(lines->GetData(true), nullptr);
  QZRef<DW_ROIBinaryImage> binary = t.binary->GetData(region, false, false);
  core::CImageData* pixels = nullptr;
  ASSERT_EQ(binary->GetDataAsImageData(&pixels), 0);
  ASSERT_NE(pixels, nullptr);
  EXPECT_TRUE(listening.log.Has("binarization intArg1/intArg2 = 2147483647"));
  EXPECT_TRUE(listening.log.Has("grayscale enhancement intArg2 = 2147483647"));
  EXPECT_TRUE(listening.log.Has("texture detection intArg1 = 2147483647"));
  lines.reset();
  binary.reset();
  t.tree->RemoveSameSourceData(image, nullptr);
}

TEST(HostileParameters, ManualRegionsAndAddedRegionsReachingFarOutsideStayWithinTheImage) {
  ChainModes modes;
  modes.regions.mode = RPM_MANUAL_SPECIFICATION;
  modes.regions.relativeRegions.push_back(RelativeBarcodeRegion{1, -50, 10, INT_MAX, 60});
  ASSERT_EQ(CheckModeRecord(modes.regions).size(), 2u);
  HandTree t(modes);
  const std::string image = t.AddImage(DrawBarPage(cv::Size(200, 150)));
  QZRef<DW_CandidateROIs> candidates = t.regions->GetData(image, true, true);
  ASSERT_NE(candidates->GetData(true), nullptr);
  QZRef<QZQuadList> quads = candidates->GetData(false)->GetPrimaryData(false);
  ASSERT_EQ(quads->quads.size(), 1u);
  EXPECT_EQ(quads->quads[0].GetPoint(0).x, 0);  // from 0 % to 100 % of the width

  // A region added by hand with corners millions of pixels away.
  const QZ_Quad far({-4000000, -4000000}, {4000000, -3000000}, {4100000, 4000000}, {-3900000, 3900000});
  char region[kHashIdBufferSize];
  ASSERT_TRUE(t.roiColour->AddData(candidates.get(), far, region));
  QZRef<DW_ROIGrayscaleImagePerspectiveCorrected> corrected = t.perspective->GetData(region, true, true);
  ASSERT_NE(corrected->GetData(true), nullptr);
  core::CImageData* pixels = nullptr;
  ASSERT_EQ(corrected->GetDataAsImageData(&pixels), 0);
  ASSERT_NE(pixels, nullptr);
  EXPECT_LE(pixels->GetWidth(), 400);
  EXPECT_LE(pixels->GetHeight(), 400);
  candidates.reset();
  corrected.reset();
  t.tree->RemoveSameSourceData(image, nullptr);
}

TEST(HostileParameters, ANodeHashesItsRecordsTextNotAnIdCachedInTheRecord) {
  QZVP_RegionPredetectionModeStruct regions;
  regions.mode = RPM_GENERAL_GRAY_CONTRAST;
  CalcHashValueOfMode(&regions);  // the host hashed the record once ...
  regions.intArg1 = 7;            // ... then changed it
  QZVP_LineExtractionModeStruct lines;
  lines.mode = LEM_GENERAL;
  lines.cachedHashId = "a stale id the host left behind";
  HandTree t;
  QZRef<PN_CandidateROIs> candidates(new PN_CandidateROIs(t.tree.get(), t.grayForRegions, regions));
  QZRef<PN_LineSegments> segments(new PN_LineSegments(t.tree.get(), t.contours, lines));
  const std::string regionText = regions.ToString(), lineText = lines.ToString();
  EXPECT_EQ(candidates->GetSingleModeHash(), GenerateHashId(regionText.data(), static_cast<unsigned int>(regionText.size())));
  EXPECT_EQ(segments->GetSingleModeHash(), GenerateHashId(lineText.data(), static_cast<unsigned int>(lineText.size())));
  EXPECT_NE(candidates->GetGlobalHash(), t.regions->GetGlobalHash());
  EXPECT_EQ(segments->GetGlobalHash(), t.lines->GetGlobalHash());  // the same text as the tree's record
  t.tree->PushBackNode(candidates->GetGlobalHash(), candidates);
  EXPECT_FALSE(t.tree->PushBackNode(segments->GetGlobalHash(), segments));
}

TEST(HostileParameters, TwoThousandCopiesMadeInOneSecondEachGetTheirOwnId) {
  HandTree t;
  const std::string image = t.AddImage(cv::Mat(16, 16, CV_8UC3, cv::Scalar(9, 8, 7)));
  QZRef<DW_ColourImageAfterSizeFitting> original = t.fitted->GetData(image, true, true);
  std::set<std::string> ids;
  for (int i = 0; i < 2000; ++i) {
    tav::CDataUnit* copy = nullptr;
    ASSERT_EQ(t.fitted->CreateDataUnitAs(original.get(), &copy), 0) << "copy " << i;
    ids.insert(copy->GetHashId());
  }
  EXPECT_EQ(ids.size(), 2000u);
  original.reset();
  t.tree->RemoveSameSourceData(image, nullptr);
}

// A host's quadrilateral list whose operations throw, as a host's own code may.
class ThrowingQuadrilaterals : public tav::CTAV_QuadrilateralArray {
 public:
  int SetQuadrilateral(int, const tav::CTAV_Quadrilateral*) override { throw std::runtime_error("host failure"); }
  int AddQuadrilateral(const tav::CTAV_Quadrilateral*) override { throw std::bad_alloc(); }
  int RemoveQuadrilateral(int) override { throw 42; }
  int RemoveAll() override { throw std::logic_error("host failure"); }
};

TEST(HostileParameters, NoExceptionLeavesTheCFunctions) {
  ThrowingQuadrilaterals quads;
  EXPECT_EQ(TAV_QuadrilateralArray_SetQuadrilateral(&quads, 0, nullptr), -1);
  EXPECT_EQ(TAV_QuadrilateralArray_AddQuadrilateral(&quads, nullptr), -1);
  EXPECT_EQ(TAV_QuadrilateralArray_RemoveQuadrilateral(&quads, 0), -1);
  EXPECT_EQ(TAV_QuadrilateralArray_RemoveAll(&quads), -1);
}

}  // namespace
}  // namespace testing
}  // namespace orvex
