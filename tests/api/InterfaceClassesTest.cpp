// The caller-owned arrays, the quadrilateral record and the data-unit defaults.
#include <OrvexStagecacheHost.h>

#include <gtest/gtest.h>

#include <type_traits>

namespace orvex {
namespace tav {
namespace {

// A bare data unit: only the pure navigation operations are supplied, the rest are the defaults.
class BareUnit : public CDataUnit {
 public:
  int GetParentDataUnit(CDataUnit**) const override { return 0; }
  int GetChildDataUnits(const CParameterTree*, CDataUnitArray*) const override { return 0; }
  int GetSiblingDataUnits(const CParameterTree*, CDataUnitArray*) const override { return 0; }
  const char** HashField() { return &m_hashId; }
  void** ReservedField() { return &m_reserved; }
  float* TransformField() { return m_transform; }
};

TEST(InterfaceArrays, NewArrayIsEmptyAndSetCountReplacesTheBlock) {
  CDataUnitArray units;
  EXPECT_EQ(units.GetCount(), 0);
  BareUnit a, b;
  units.SetCount(3);
  for (int i = 0; i < 3; ++i) units.SetDataUnit(i, &a);
  units.SetCount(5);
  EXPECT_EQ(units.GetCount(), 5);
  for (int i = 0; i < 5; ++i) units.SetDataUnit(i, &b);
  EXPECT_EQ(units.GetDataUnit(4), &b);
  units.SetCount(0);
  EXPECT_EQ(units.GetCount(), 0);
  TAV_FreeDataUnitArray(&units);
  EXPECT_EQ(units.GetCount(), 0);
}

TEST(InterfaceArrays, FreeEmptiesFilledArraysAndIgnoresNull) {
  CParameterTreeNodeArray nodes;
  TAV_FreeParameterTreeNodeArray(&nodes);
  EXPECT_EQ(nodes.GetCount(), 0);
  nodes.SetCount(2);
  nodes.SetParameterTreeNode(0, nullptr);
  nodes.SetParameterTreeNode(1, nullptr);
  TAV_FreeParameterTreeNodeArray(&nodes);
  EXPECT_EQ(nodes.GetCount(), 0);
  TAV_FreeParameterTreeNodeArray(nullptr);
  TAV_FreeDataUnitArray(nullptr);
  nodes.SetCount(-3);  // a non-positive size leaves no block behind
  EXPECT_EQ(nodes.GetCount(), -3);
  nodes.Free();
  EXPECT_EQ(nodes.GetCount(), 0);
}

TEST(InterfaceArrays, ArraysCannotBeCopied) {
  EXPECT_FALSE(std::is_copy_constructible<CDataUnitArray>::value);
  EXPECT_FALSE(std::is_copy_assignable<CParameterTreeNodeArray>::value);
}

TEST(DataUnitDefaults, UnsupportedOperationsAnswerMinusOneAndLeaveOutAlone) {
  BareUnit unit;
  core::CImageData sentinelImage;
  core::CImageData* image = &sentinelImage;
  CTAV_QuadrilateralArray* quads = reinterpret_cast<CTAV_QuadrilateralArray*>(&unit);
  EXPECT_EQ(unit.GetDataAsImageData(&image), -1);
  EXPECT_EQ(unit.CreateDataAsImageData(1, 2, 3, core::IPF_BGR_888, &image), -1);
  EXPECT_EQ(unit.GetDataAsQuadrilateralArray(&quads), -1);
  EXPECT_EQ(unit.CreateDataAsQuadrilateralArray(4, &quads), -1);
  EXPECT_EQ(image, &sentinelImage);
  EXPECT_EQ(quads, reinterpret_cast<CTAV_QuadrilateralArray*>(&unit));
}

TEST(DataUnitDefaults, NewUnitHasIdentityTransformAndNoIds) {
  BareUnit unit;
  EXPECT_EQ(unit.GetHashId(), nullptr);
  EXPECT_EQ(unit.GetSourceImageHashId(), nullptr);
  EXPECT_EQ(unit.GetMediaType(), DUMT_NONE);
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(unit.GetTransform()[i], identity[i]) << i;
  EXPECT_EQ(*unit.ReservedField(), nullptr);
}

TEST(DataUnitLayout, FieldsSitWherePackedCallersExpectThem) {
  BareUnit unit;
  const char* base = reinterpret_cast<const char*>(static_cast<CDataUnit*>(&unit));
  EXPECT_EQ(reinterpret_cast<const char*>(unit.HashField()) - base, 16);
  EXPECT_EQ(reinterpret_cast<const char*>(unit.TransformField()) - base, 32);
  EXPECT_EQ(reinterpret_cast<const char*>(unit.ReservedField()) - base, 68);
}

TEST(QuadrilateralRecord, SetQuadrilateralCopiesAllEightCoordinates) {
  core::CQuadrilateral target;
  core::CQuadrilateral source;
  for (int i = 0; i < 4; ++i) source.points[i] = core::CPoint{10 * i + 1, 10 * i + 2};
  CTAV_Quadrilateral quad(&target, 0, 42);
  quad.SetQuadrilateral(&source);
  source.points[2].x = -99;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(target.points[i].x, 10 * i + 1);
    EXPECT_EQ(target.points[i].y, 10 * i + 2);
  }
  EXPECT_EQ(quad.GetQuadrilateral(), &target);
  quad.SetActiveFlag(7);
  EXPECT_EQ(quad.GetActiveFlag(), 7);
  EXPECT_EQ(quad.GetConfidenceAsDocumentBoundary(), 42);
  EXPECT_EQ(CTAV_Quadrilateral().GetQuadrilateral(), nullptr);
}

}  // namespace
}  // namespace tav
}  // namespace orvex
