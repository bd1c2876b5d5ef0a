// Identity, navigation, links, transforms, logging and accessors of the data wraps.
#include "WrapChain.h"

#include "../support/TestScene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <string>
#include <vector>

namespace orvex {
namespace testing {
namespace {

// A tree that knows a fixed set of data-unit ids.
class KnownIdsTree : public tav::CParameterTree {
 public:
  explicit KnownIdsTree(std::vector<tav::CDataUnit*> units) : m_units(std::move(units)) {}
  int GetRootNode(tav::CParameterTreeNode**) const override { return -1; }
  int GetNode(const char*, tav::CParameterTreeNode**) const override { return -1; }
  int GetDataUnit(const char*, tav::CDataUnit**) const override { return -1; }
  int GetNodes(tav::DataUnitStageType, tav::CParameterTreeNodeArray*) const override { return -1; }
  int GetDataUnits(tav::DataUnitStageType, const char*, tav::CDataUnitArray* out) const override {
    out->SetCount(static_cast<int>(m_units.size()));
    for (size_t i = 0; i < m_units.size(); ++i) out->SetDataUnit(static_cast<int>(i), m_units[i]);
    return 0;
  }

 private:
  std::vector<tav::CDataUnit*> m_units;
};

std::set<const tav::CDataUnit*> Units(const tav::CDataUnitArray& array) {
  std::set<const tav::CDataUnit*> units;
  for (int i = 0; i < array.GetCount(); ++i) units.insert(array.GetDataUnit(i));
  return units;
}

class WrapLinks : public ::testing::Test {
 protected:
  void SetUp() override { m_liveBefore = DP_CommonBase::GetTotalLiveCount(); }
  void TearDown() override { EXPECT_EQ(DP_CommonBase::GetTotalLiveCount(), m_liveBefore); }

  // Three gray children of one colour wrap with ids "a", "b" and "c".
  std::vector<QZRef<DW_GrayscaleImageColourConverted>> ThreeChildren(WholeChain& chain) {
    std::vector<QZRef<DW_GrayscaleImageColourConverted>> children;
    for (const char* id : {"a", "b", "c"}) {
      children.emplace_back(new DW_GrayscaleImageColourConverted(chain.colourForRegions.get(), &modes.colour));
      children.back()->SetDataHashID(id);
    }
    return children;
  }

  ChainModes modes;
  cv::Mat page = DrawBarPage(cv::Size(320, 240));

 private:
  int m_liveBefore = 0;
};

TEST_F(WrapLinks, ParentOfTheSourceIsNullAndChildrenInheritTheSourceId) {
  WholeChain chain(page, modes);
  tav::CDataUnit* parent = chain.fitted.get();
  EXPECT_EQ(chain.source->GetParentDataUnit(&parent), 0);
  EXPECT_EQ(parent, nullptr);
  EXPECT_EQ(chain.fitted->GetParentDataUnit(nullptr), -1);
  ASSERT_EQ(chain.regions->GetParentDataUnit(&parent), 0);
  EXPECT_EQ(parent, static_cast<tav::CDataUnit*>(chain.grayForRegions.get()));
  EXPECT_STREQ(chain.regions->GetSourceImageHashId(), "source-id");
  EXPECT_EQ(chain.regions->GetStageType(), tav::DUST_CANDIDATE_ROIS);
}

TEST_F(WrapLinks, ChildrenWithoutTreeAreAllListedAndWithTreeOnlyKnownOnes) {
  WholeChain chain(page, modes);
  auto children = ThreeChildren(chain);  // the chain's own gray wrap is child 0
  tav::CDataUnitArray all;
  ASSERT_EQ(chain.colourForRegions->GetChildDataUnits(nullptr, &all), 0);
  ASSERT_EQ(all.GetCount(), 4);
  EXPECT_EQ(all.GetDataUnit(0), chain.gray.get());
  EXPECT_EQ(all.GetDataUnit(3), children[2].get());

  KnownIdsTree tree({children[2].get(), children[0].get()});
  tav::CDataUnitArray filtered;
  ASSERT_EQ(chain.colourForRegions->GetChildDataUnits(&tree, &filtered), 0);
  ASSERT_EQ(filtered.GetCount(), 2);
  EXPECT_EQ(filtered.GetDataUnit(0), children[0].get());  // child order, not tree order
  EXPECT_EQ(filtered.GetDataUnit(1), children[2].get());
  EXPECT_EQ(chain.colourForRegions->GetChildDataUnits(&tree, nullptr), -1);
}

TEST_F(WrapLinks, WrapWithoutSourceIdListsNoChildrenThroughATree) {
  QZRef<DW_SourceImage> source(new DW_SourceImage(QZRef<QZMatrix>(new QZMatrix(page)), 0, 0));
  QZRef<DW_ColourImageAfterSizeFitting> child(new DW_ColourImageAfterSizeFitting(source.get()));
  child->SetDataHashID("x");
  KnownIdsTree tree({child.get()});
  tav::CDataUnitArray out;
  out.SetCount(5);
  ASSERT_EQ(source->GetChildDataUnits(&tree, &out), 0);
  EXPECT_EQ(out.GetCount(), 0);
}

TEST_F(WrapLinks, SiblingsLeaveOutOwnIdAndWrapsWithoutIdTouchNothing) {
  WholeChain chain(page, modes);
  auto children = ThreeChildren(chain);
  chain.gray->SetDataHashID("g");
  tav::CDataUnitArray siblings;
  ASSERT_EQ(children[1]->GetSiblingDataUnits(nullptr, &siblings), 0);
  EXPECT_EQ(Units(siblings), (std::set<const tav::CDataUnit*>{chain.gray.get(), children[0].get(), children[2].get()}));

  QZRef<DW_GrayscaleImageColourConverted> anonymous(new DW_GrayscaleImageColourConverted(chain.colourForRegions.get(), &modes.colour));
  tav::CDataUnitArray untouched;
  untouched.SetCount(2);
  untouched.SetDataUnit(0, nullptr);
  untouched.SetDataUnit(1, nullptr);
  EXPECT_EQ(anonymous->GetSiblingDataUnits(nullptr, &untouched), 0);
  EXPECT_EQ(untouched.GetCount(), 2);
  EXPECT_EQ(anonymous->GetSiblingDataUnits(nullptr, nullptr), -1);
}

TEST_F(WrapLinks, DestructionUnlinksBothWays) {
  WholeChain chain(page, modes);
  auto children = ThreeChildren(chain);
  children[1].reset();
  tav::CDataUnitArray all;
  chain.colourForRegions->GetChildDataUnits(nullptr, &all);
  EXPECT_EQ(all.GetCount(), 3);
  EXPECT_EQ(Units(all).count(children[0].get()), 1u);

  chain.colourForRegions.reset();  // the parent goes; its children stay without parent
  tav::CDataUnit* parent = chain.source.get();
  EXPECT_EQ(children[0]->GetParentDataUnit(&parent), 0);
  EXPECT_EQ(parent, nullptr);
  tav::CDataUnitArray siblings;
  EXPECT_EQ(children[0]->GetSiblingDataUnits(nullptr, &siblings), 0);
  EXPECT_EQ(siblings.GetCount(), 0);
  EXPECT_EQ(children[0]->GetData(true), nullptr);  // nothing to build on
}

TEST_F(WrapLinks, ParentReleasedWhileEightThreadsAskForItIsEitherListedWholeOrGone) {
  WholeChain chain(page, modes);
  for (int round = 0; round < 200; ++round) {
    QZRef<DW_GrayscaleImageColourConverted> parent(
        new DW_GrayscaleImageColourConverted(chain.colourForRegions.get(), &modes.colour));
    QZRef<DW_GrayscaleImageTransformed> child(new DW_GrayscaleImageTransformed(parent.get(), &modes.transform));
    child->SetDataHashID("child");
    // The parent is borrowed from the handle below; once that goes it is only compared.
    const tav::CDataUnit* parentUnit = parent.get();
    std::atomic<bool> released{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t) {
      readers.emplace_back([&] {
        while (!released.load()) {
          tav::CDataUnit* seen = nullptr;
          child->GetParentDataUnit(&seen);
          EXPECT_TRUE(seen == nullptr || seen == parentUnit);
          tav::CDataUnitArray siblings;
          child->GetSiblingDataUnits(nullptr, &siblings);
          EXPECT_EQ(siblings.GetCount(), 0);
        }
      });
    }
    parent.reset();  // the last count, taken while readers pin the parent
    released.store(true);
    for (std::thread& reader : readers) reader.join();
    tav::CDataUnit* gone = chain.source.get();
    child->GetParentDataUnit(&gone);
    EXPECT_EQ(gone, nullptr);
  }
}

TEST_F(WrapLinks, CloneIsNoChildButListsSiblingsAndSurvivesItsParent) {
  WholeChain chain(page, modes);
  auto children = ThreeChildren(chain);
  QZRef<DW_GrayscaleImageColourConverted> clone(new DW_GrayscaleImageColourConverted(children[0].get()));
  EXPECT_NE(clone->GetDataHashID(), "a");
  EXPECT_FALSE(clone->GetDataHashID().empty());
  EXPECT_STREQ(clone->GetSourceImageHashId(), "source-id");
  EXPECT_EQ(clone->GetStageType(), tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED);
  EXPECT_FALSE(clone->IsRequiredDataAvailable());

  tav::CDataUnitArray all;
  chain.colourForRegions->GetChildDataUnits(nullptr, &all);
  EXPECT_EQ(Units(all).count(clone.get()), 0u);
  tav::CDataUnitArray siblings;
  clone->GetSiblingDataUnits(nullptr, &siblings);
  EXPECT_EQ(siblings.GetCount(), 4);

  QZRef<DW_GrayscaleImageColourConverted> twin(new DW_GrayscaleImageColourConverted(children[0].get()));
  EXPECT_EQ(twin->GetDataHashID(), clone->GetDataHashID());  // same wrap, same second

  chain.colourForRegions.reset();
  tav::CDataUnit* parent = chain.source.get();
  EXPECT_EQ(clone->GetParentDataUnit(&parent), 0);
  EXPECT_EQ(parent, nullptr);
  EXPECT_EQ(clone->GetData(true), nullptr);
}

TEST_F(WrapLinks, RegionColourIdsDependOnImageAndQuadAndEndInNine) {
  WholeChain chain(page, modes);
  ASSERT_NE(chain.regions->GetData(true), nullptr);
  const QZ_Quad quad({10, 10}, {100, 12}, {98, 60}, {9, 58});
  const QZ_Quad other({10, 10}, {100, 12}, {98, 61}, {9, 58});
  QZRef<DW_ROIColourImage> a(new DW_ROIColourImage(chain.regions.get(), quad));
  QZRef<DW_ROIColourImage> b(new DW_ROIColourImage(chain.regions.get(), quad));
  QZRef<DW_ROIColourImage> c(new DW_ROIColourImage(chain.regions.get(), other));
  const std::string id = a->GetDataHashID();
  ASSERT_GT(id.size(), 2u);
  EXPECT_EQ(id.substr(id.size() - 2), "-9");
  EXPECT_EQ(b->GetDataHashID(), id);
  EXPECT_NE(c->GetDataHashID(), id);

  WholeChain colourless(page, modes);
  colourless.regions.reset(new DW_CandidateROIs(colourless.grayForRegions.get(), &modes.regions));
  EXPECT_EQ(colourless.regions->GetData(true), nullptr);  // waits for its colour input
  colourless.regions->SetRequiredDataAvailableFlag(true);
  ASSERT_NE(colourless.regions->GetData(true), nullptr);  // told to run without a colour image
  EXPECT_FALSE(colourless.regions->GetColourImage());
  EXPECT_EQ(colourless.regions->GetData(false)->linkedStage1.get(), nullptr);
  QZRef<DW_ROIColourImage> noId(new DW_ROIColourImage(colourless.regions.get(), quad));
  EXPECT_EQ(noId->GetDataHashID(), "");
  EXPECT_EQ(noId->GetHashId(), nullptr);
}

cv::Point2d Map(const QZRef<QZMatrix>& m, const cv::Point2d& p) {
  const cv::Mat& t = m->GetMat();
  const double w = t.at<double>(2, 0) * p.x + t.at<double>(2, 1) * p.y + t.at<double>(2, 2);
  return {(t.at<double>(0, 0) * p.x + t.at<double>(0, 1) * p.y + t.at<double>(0, 2)) / w,
          (t.at<double>(1, 0) * p.x + t.at<double>(1, 1) * p.y + t.at<double>(1, 2)) / w};
}

TEST_F(WrapLinks, TransformIsIdentityUntilGeneratedThenMapsSourcePixels) {
  // Blocks of distinct flat colours, so an area-averaged pixel keeps its block's colour.
  cv::Mat blocks(600, 800, CV_8UC3);
  for (int by = 0; by < 3; ++by)
    for (int bx = 0; bx < 4; ++bx)
      blocks(cv::Rect(bx * 200, by * 200, 200, 200)).setTo(cv::Scalar(40 * bx + 30, 60 * by + 50, 90));
  modes.scalingDown = 250;
  WholeChain chain(blocks, modes);
  const QZRef<QZMatrix> before = chain.scaled->GetTransMatFromSourceImage();
  EXPECT_EQ(Map(before, {123, 45}), cv::Point2d(123, 45));
  EXPECT_EQ(Map(chain.scaled->GetTransMatInvertToSourceImage(), {7, 9}), cv::Point2d(7, 9));

  ASSERT_NE(chain.scaled->GetData(true), nullptr);
  core::CImageData* scaled = nullptr;
  chain.scaled->GetDataAsImageData(&scaled);
  ASSERT_NE(scaled, nullptr);
  EXPECT_EQ(scaled->GetWidth(), 200);  // 800 halved twice
  for (const cv::Point src : {cv::Point(100, 100), cv::Point(500, 300), cv::Point(700, 500)}) {
    const cv::Point2d mapped = Map(chain.scaled->GetTransMatFromSourceImage(), src);
    const unsigned char* pixel = scaled->GetBytes() + int(mapped.y) * scaled->GetStride() + int(mapped.x) * 3;
    const cv::Vec3b expected = blocks.at<cv::Vec3b>(src);
    EXPECT_EQ(pixel[0], expected[0]);
    EXPECT_EQ(pixel[1], expected[1]);
    const cv::Point2d back = Map(chain.scaled->GetTransMatInvertToSourceImage(), mapped);
    EXPECT_NEAR(back.x, src.x, 1e-3);
  }

  // A region cut from the scaled image: a source point maps onto the matching crop pixel.
  ASSERT_NE(chain.regions->GetData(true), nullptr);
  QZRef<DW_ROIColourImage> region(new DW_ROIColourImage(chain.regions.get(), QZ_Quad({60, 40}, {140, 40}, {140, 110}, {60, 110})));
  ASSERT_NE(region->GetData(true), nullptr);
  core::CImageData* crop = nullptr;
  region->GetDataAsImageData(&crop);
  ASSERT_NE(crop, nullptr);
  EXPECT_EQ(crop->GetWidth(), 81);
  const cv::Point src(500, 300);
  const cv::Point2d mapped = Map(region->GetTransMatFromSourceImage(), src);
  EXPECT_NEAR(mapped.x, 500 / 4.0 - 60, 1e-3);
  const unsigned char* pixel = crop->GetBytes() + int(mapped.y) * crop->GetStride() + int(mapped.x) * 3;
  EXPECT_EQ(pixel[0], blocks.at<cv::Vec3b>(src)[0]);
}

TEST_F(WrapLinks, ImageAccessorsBeforeGenerationAndOfNonImageResults) {
  WholeChain whole(page, modes);
  core::CImageData sentinel;
  core::CImageData* image = &sentinel;
  EXPECT_EQ(whole.gray->GetDataAsImageData(&image), 0);
  EXPECT_EQ(image, &sentinel);
  EXPECT_EQ(whole.gray->GetDataAsImageData(nullptr), -1);
  EXPECT_EQ(whole.gray->CreateDataAsImageData(1, 2, 3, core::IPF_BGR_888, &image), -1);

  ASSERT_NE(whole.regions->GetData(true), nullptr);
  const QZ_Quad quad = whole.regions->GetData(false)->GetPrimaryData(false)->quads.at(0);
  RegionChain region(whole, quad, modes);
  ASSERT_NE(region.lines->GetData(true), nullptr);
  for (tav::CDataUnit* unit : std::vector<tav::CDataUnit*>{whole.regions.get(), region.texture.get(),
                                                           region.contours.get(), region.lines.get()}) {
    EXPECT_EQ(unit->GetMediaType(), tav::DUMT_NONE);
    EXPECT_EQ(unit->GetDataAsImageData(&image), -1);
    EXPECT_EQ(unit->CreateDataAsImageData(0, 0, 0, core::IPF_GRAYSCALE_8, &image), -1);
    tav::CTAV_QuadrilateralArray* quads = nullptr;
    EXPECT_EQ(unit->GetDataAsQuadrilateralArray(&quads), -1);
    EXPECT_EQ(unit->CreateDataAsQuadrilateralArray(1, &quads), -1);
  }
  EXPECT_EQ(image, &sentinel);
  EXPECT_EQ(region.binary->GetMediaType(), tav::DUMT_IMAGE);
  ASSERT_EQ(region.structurizingBinary->GetDataAsImageData(&image), 0);
  EXPECT_EQ(image->GetImagePixelFormat(), core::IPF_GRAYSCALE_8);
}

struct LogCapture {
  std::vector<std::string> starts, ends;
  std::vector<int> elapsed;
  static void Sink(void* self, const QZLogRecord& record) {
    auto* log = static_cast<LogCapture*>(self);
    if (record.kind == QZLogRecord::kStepStart) log->starts.push_back(record.label);
    if (record.kind == QZLogRecord::kStepEnd) {
      log->ends.push_back(record.label);
      log->elapsed.push_back(record.elapsedMs);
    }
  }
};

TEST_F(WrapLinks, WholeImageStagesWriteTimedRecordsWithTheirLabels) {
  const std::vector<std::string> labels = {
      "DW_SourceImage_CreateData",           "DW_ColourImageAfterSizeFitting_CreateData",
      "DW_ColourImageAfterScalingDown_CreateData", "DW_ColourImageForROI_CreateData",
      "DW_GrayscaleImageColourConverted_CreateData", "DW_GrayscaleImageTransformed_CreateData",
      "DW_GrayscaleImageForROI_CreateData",  "DW_CandidateROIs_CreateData"};
  for (int modesMask : {LM_TIMING, LM_TEXT}) {
    LogCapture log;
    QZLog::m_instance.Configure(&LogCapture::Sink, &log, 1, modesMask);
    WholeChain chain(page, modes);
    chain.regions->GetData(true);
    QZ_Quad quad({1, 1}, {50, 1}, {50, 40}, {1, 40});
    QZRef<DW_ROIColourImage> region(new DW_ROIColourImage(chain.regions.get(), quad));
    region->GetData(true);  // region stages do not log
    QZLog::m_instance.Configure(nullptr, nullptr, 0, 0);

    EXPECT_EQ(std::set<std::string>(log.starts.begin(), log.starts.end()),
              std::set<std::string>(labels.begin(), labels.end()));
    EXPECT_EQ(log.starts.size(), 8u);
    EXPECT_EQ(log.ends.size(), 8u);
    // Every parent is generated before its child starts, so the source step comes first.
    EXPECT_EQ(log.ends.front(), "DW_SourceImage_CreateData");
    if (modesMask == LM_TEXT) {
      for (int elapsed : log.elapsed) EXPECT_EQ(elapsed, 0);
    }
    for (int elapsed : log.elapsed) EXPECT_GE(elapsed, 0);
  }
}

}  // namespace
}  // namespace testing
}  // namespace orvex
