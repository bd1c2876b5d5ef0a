// The exported C functions: null checks first, then a plain forward of every argument.
#include <OrvexStagecache.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace orvex {
namespace tav {
namespace {

constexpr int kForwarded = 17;  // what every fake answers, so a forward is visible

struct CallLog {
  int calls = 0;
  std::string last;
  void Note(const std::string& what) {
    ++calls;
    last = what;
  }
};

class FakeTree : public CParameterTree {
 public:
  mutable CallLog log;
  int GetRootNode(CParameterTreeNode**) const override { return Note("root"); }
  int GetNode(const char* id, CParameterTreeNode**) const override { return Note(std::string("node:") + id); }
  int GetDataUnit(const char* id, CDataUnit**) const override { return Note(std::string("unit:") + id); }
  int GetNodes(DataUnitStageType stage, CParameterTreeNodeArray*) const override {
    return Note("nodes:" + std::to_string(stage));
  }
  int GetDataUnits(DataUnitStageType stage, const char* id, CDataUnitArray*) const override {
    return Note("units:" + std::to_string(stage) + ":" + id);
  }

 private:
  int Note(const std::string& what) const {
    log.Note(what);
    return kForwarded;
  }
};

class FakeNode : public CParameterTreeNode {
 public:
  mutable CallLog log;
  int GetParentNode(CParameterTreeNode**) const override { return Note("parent"); }
  int GetChildNodes(CParameterTreeNodeArray*) const override { return Note("children"); }
  int GetDataUnits(const char* id, CDataUnitArray*) const override { return Note(std::string("units:") + id); }
  int CreateDataUnitAs(const CDataUnit*, CDataUnit**) override { return Note("create"); }

 private:
  int Note(const std::string& what) const {
    log.Note(what);
    return kForwarded;
  }
};

class FakeUnit : public CDataUnit {
 public:
  mutable CallLog log;
  int GetParentDataUnit(CDataUnit**) const override { return Note("parent"); }
  int GetChildDataUnits(const CParameterTree*, CDataUnitArray*) const override { return Note("children"); }
  int GetSiblingDataUnits(const CParameterTree*, CDataUnitArray*) const override { return Note("siblings"); }
  int GetDataAsImageData(core::CImageData**) const override { return Note("image"); }
  int GetDataAsQuadrilateralArray(CTAV_QuadrilateralArray**) const override { return Note("quads"); }
  int CreateDataAsImageData(int a, int b, int c, core::ImagePixelFormat f, core::CImageData**) override {
    return Note("create-image:" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," +
                std::to_string(f));
  }
  int CreateDataAsQuadrilateralArray(int count, CTAV_QuadrilateralArray**) override {
    return Note("create-quads:" + std::to_string(count));
  }

 private:
  int Note(const std::string& what) const {
    log.Note(what);
    return kForwarded;
  }
};

class FakeQuads : public CTAV_QuadrilateralArray {
 public:
  CallLog log;
  int SetQuadrilateral(int index, const CTAV_Quadrilateral*) override { return Note("set:" + std::to_string(index)); }
  int AddQuadrilateral(const CTAV_Quadrilateral*) override { return Note("add"); }
  int RemoveQuadrilateral(int index) override { return Note("remove:" + std::to_string(index)); }
  int RemoveAll() override { return Note("clear"); }

 private:
  int Note(const std::string& what) {
    log.Note(what);
    return kForwarded;
  }
};

class CFunctions : public ::testing::Test {
 protected:
  FakeTree tree;
  FakeNode node;
  FakeUnit unit;
  FakeQuads quads;
  CParameterTreeNodeArray nodeArray;
  CDataUnitArray unitArray;
  // Out-parameters start at a sentinel so a write is visible.
  CParameterTreeNode* outNode = &node;
  CDataUnit* outUnit = &unit;
  core::CImageData sentinelImage;
  core::CImageData* outImage = &sentinelImage;
  CTAV_QuadrilateralArray* outQuads = &quads;

  void ExpectOutsUntouched() {
    EXPECT_EQ(outNode, &node);
    EXPECT_EQ(outUnit, &unit);
    EXPECT_EQ(outImage, &sentinelImage);
    EXPECT_EQ(outQuads, &quads);
  }
  int TotalCalls() const { return tree.log.calls + node.log.calls + unit.log.calls + quads.log.calls; }
};

TEST_F(CFunctions, VersionIsOnePointZero) { EXPECT_STREQ(QZ_GetLibVersion(), "1.0"); }

TEST_F(CFunctions, TreeFunctionsRefuseEachMissingPointer) {
  EXPECT_EQ(TAV_ParameterTree_GetRootNode(nullptr, &outNode), -1);
  EXPECT_EQ(TAV_ParameterTree_GetRootNode(&tree, nullptr), -1);
  EXPECT_EQ(TAV_ParameterTree_GetNode(nullptr, "id", &outNode), -1);
  EXPECT_EQ(TAV_ParameterTree_GetNode(&tree, nullptr, &outNode), -1);
  EXPECT_EQ(TAV_ParameterTree_GetNode(&tree, "id", nullptr), -1);
  EXPECT_EQ(TAV_ParameterTree_GetNodes(nullptr, DUST_SOURCE_IMAGE, &nodeArray), -1);
  EXPECT_EQ(TAV_ParameterTree_GetNodes(&tree, DUST_SOURCE_IMAGE, nullptr), -1);
  EXPECT_EQ(TAV_ParameterTree_GetDataUnit(nullptr, "id", &outUnit), -1);
  EXPECT_EQ(TAV_ParameterTree_GetDataUnit(&tree, nullptr, &outUnit), -1);
  EXPECT_EQ(TAV_ParameterTree_GetDataUnit(&tree, "id", nullptr), -1);
  EXPECT_EQ(TAV_ParameterTree_GetDataUnits(nullptr, DUST_CONTOURS, "src", &unitArray), -1);
  EXPECT_EQ(TAV_ParameterTree_GetDataUnits(&tree, DUST_CONTOURS, nullptr, &unitArray), -1);
  EXPECT_EQ(TAV_ParameterTree_GetDataUnits(&tree, DUST_CONTOURS, "src", nullptr), -1);
  EXPECT_EQ(TotalCalls(), 0);
  ExpectOutsUntouched();
}

TEST_F(CFunctions, NodeAndUnitFunctionsRefuseEachMissingPointer) {
  EXPECT_EQ(TAV_ParameterTreeNode_GetParentNode(nullptr, &outNode), -1);
  EXPECT_EQ(TAV_ParameterTreeNode_GetParentNode(&node, nullptr), -1);
  EXPECT_EQ(TAV_ParameterTreeNode_GetChildNodes(nullptr, &nodeArray), -1);
  EXPECT_EQ(TAV_ParameterTreeNode_GetChildNodes(&node, nullptr), -1);
  EXPECT_EQ(TAV_ParameterTreeNode_GetDataUnits(nullptr, "src", &unitArray), -1);
  EXPECT_EQ(TAV_ParameterTreeNode_GetDataUnits(&node, nullptr, &unitArray), -1);
  EXPECT_EQ(TAV_ParameterTreeNode_GetDataUnits(&node, "src", nullptr), -1);
  EXPECT_EQ(TAV_ParameterTreeNode_CreateDataUnitAs(nullptr, &unit, &outUnit), -1);
  EXPECT_EQ(TAV_ParameterTreeNode_CreateDataUnitAs(&node, nullptr, &outUnit), -1);
  EXPECT_EQ(TAV_ParameterTreeNode_CreateDataUnitAs(&node, &unit, nullptr), -1);

  EXPECT_EQ(TAV_DataUnit_GetDataAsImageData(nullptr, &outImage), -1);
  EXPECT_EQ(TAV_DataUnit_GetDataAsImageData(&unit, nullptr), -1);
  EXPECT_EQ(TAV_DataUnit_GetDataAsQuadrilateralArray(nullptr, &outQuads), -1);
  EXPECT_EQ(TAV_DataUnit_GetDataAsQuadrilateralArray(&unit, nullptr), -1);
  EXPECT_EQ(TAV_DataUnit_CreateDataAsImageData(nullptr, 1, 2, 3, core::IPF_BGR_888, &outImage), -1);
  EXPECT_EQ(TAV_DataUnit_CreateDataAsImageData(&unit, 1, 2, 3, core::IPF_BGR_888, nullptr), -1);
  EXPECT_EQ(TAV_DataUnit_CreateDataAsQuadrilateralArray(nullptr, 3, &outQuads), -1);
  EXPECT_EQ(TAV_DataUnit_CreateDataAsQuadrilateralArray(&unit, 3, nullptr), -1);
  EXPECT_EQ(TAV_DataUnit_GetParentDataUnit(nullptr, &outUnit), -1);
  EXPECT_EQ(TAV_DataUnit_GetParentDataUnit(&unit, nullptr), -1);
  EXPECT_EQ(TAV_DataUnit_GetChildDataUnits(nullptr, &tree, &unitArray), -1);
  EXPECT_EQ(TAV_DataUnit_GetChildDataUnits(&unit, nullptr, &unitArray), -1);
  EXPECT_EQ(TAV_DataUnit_GetChildDataUnits(&unit, &tree, nullptr), -1);
  EXPECT_EQ(TAV_DataUnit_GetSiblingDataUnits(nullptr, &tree, &unitArray), -1);
  EXPECT_EQ(TAV_DataUnit_GetSiblingDataUnits(&unit, nullptr, &unitArray), -1);
  EXPECT_EQ(TAV_DataUnit_GetSiblingDataUnits(&unit, &tree, nullptr), -1);

  EXPECT_EQ(TAV_QuadrilateralArray_SetQuadrilateral(nullptr, 0, nullptr), -1);
  EXPECT_EQ(TAV_QuadrilateralArray_AddQuadrilateral(nullptr, nullptr), -1);
  EXPECT_EQ(TAV_QuadrilateralArray_RemoveQuadrilateral(nullptr, 0), -1);
  EXPECT_EQ(TAV_QuadrilateralArray_RemoveAll(nullptr), -1);
  EXPECT_EQ(TotalCalls(), 0);
  ExpectOutsUntouched();
}

TEST_F(CFunctions, PresentArgumentsAreForwardedUnchanged) {
  EXPECT_EQ(TAV_ParameterTree_GetRootNode(&tree, &outNode), kForwarded);
  EXPECT_EQ(TAV_ParameterTree_GetNode(&tree, "abc+5", &outNode), kForwarded);
  EXPECT_EQ(tree.log.last, "node:abc+5");
  EXPECT_EQ(TAV_ParameterTree_GetNodes(&tree, DUST_CONTOURS, &nodeArray), kForwarded);
  EXPECT_EQ(tree.log.last, "nodes:22");
  EXPECT_EQ(TAV_ParameterTree_GetDataUnit(&tree, "d-3", &outUnit), kForwarded);
  EXPECT_EQ(tree.log.last, "unit:d-3");
  EXPECT_EQ(TAV_ParameterTree_GetDataUnits(&tree, DUST_LINE_SEGMENTS, "src", &unitArray), kForwarded);
  EXPECT_EQ(tree.log.last, "units:23:src");
  EXPECT_EQ(tree.log.calls, 5);

  EXPECT_EQ(TAV_ParameterTreeNode_GetParentNode(&node, &outNode), kForwarded);
  EXPECT_EQ(TAV_ParameterTreeNode_GetChildNodes(&node, &nodeArray), kForwarded);
  EXPECT_EQ(TAV_ParameterTreeNode_GetDataUnits(&node, "img", &unitArray), kForwarded);
  EXPECT_EQ(node.log.last, "units:img");
  EXPECT_EQ(TAV_ParameterTreeNode_CreateDataUnitAs(&node, &unit, &outUnit), kForwarded);
  EXPECT_EQ(node.log.calls, 4);

  EXPECT_EQ(TAV_DataUnit_GetDataAsImageData(&unit, &outImage), kForwarded);
  EXPECT_EQ(TAV_DataUnit_GetDataAsQuadrilateralArray(&unit, &outQuads), kForwarded);
  // The integers and the pixel format pass through whatever their values.
  EXPECT_EQ(TAV_DataUnit_CreateDataAsImageData(&unit, -1, 0, 99, static_cast<core::ImagePixelFormat>(77), &outImage),
            kForwarded);
  EXPECT_EQ(unit.log.last, "create-image:-1,0,99,77");
  EXPECT_EQ(TAV_DataUnit_CreateDataAsQuadrilateralArray(&unit, 6, &outQuads), kForwarded);
  EXPECT_EQ(unit.log.last, "create-quads:6");
  EXPECT_EQ(TAV_DataUnit_GetParentDataUnit(&unit, &outUnit), kForwarded);
  EXPECT_EQ(TAV_DataUnit_GetChildDataUnits(&unit, &tree, &unitArray), kForwarded);
  EXPECT_EQ(TAV_DataUnit_GetSiblingDataUnits(&unit, &tree, &unitArray), kForwarded);
  EXPECT_EQ(unit.log.calls, 7);

  EXPECT_EQ(TAV_QuadrilateralArray_SetQuadrilateral(&quads, 2, nullptr), kForwarded);
  EXPECT_EQ(quads.log.last, "set:2");
  EXPECT_EQ(TAV_QuadrilateralArray_AddQuadrilateral(&quads, nullptr), kForwarded);
  EXPECT_EQ(TAV_QuadrilateralArray_RemoveQuadrilateral(&quads, 4), kForwarded);
  EXPECT_EQ(quads.log.last, "remove:4");
  EXPECT_EQ(TAV_QuadrilateralArray_RemoveAll(&quads), kForwarded);
  EXPECT_EQ(quads.log.calls, 4);
}

TEST_F(CFunctions, FreeStringClearsPointerAndToleratesNulls) {
  TAV_FreeString(nullptr);
  char* none = nullptr;
  TAV_FreeString(&none);
  EXPECT_EQ(none, nullptr);
}

}  // namespace
}  // namespace tav
}  // namespace orvex
