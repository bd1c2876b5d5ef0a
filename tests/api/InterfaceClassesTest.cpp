// The caller-owned arrays, the quadrilateral record and the data-unit defaults.
#include <OrvexStagecacheHost.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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
  void SetHashField(const char* text) { m_hashId = text; }
  void SetReservedField(void* value) { m_reserved = value; }
  void SetTransformElement(int i, float value) { m_transform[i] = value; }
  void* GetReservedField() const { return m_reserved; }
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

// The arrays own their blocks: a copy would free one block twice.
static_assert(!std::is_copy_constructible<CDataUnitArray>::value, "data-unit arrays cannot be copied");
static_assert(!std::is_copy_assignable<CParameterTreeNodeArray>::value, "node arrays cannot be assigned");

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
  EXPECT_EQ(unit.GetReservedField(), nullptr);
}

// Byte offset of `pattern` within the object's bytes, or -1.
template <class T, class V>
long OffsetOfValue(const T& object, V pattern) {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, static_cast<const void*>(&object), sizeof(T));
  for (size_t at = 0; at + sizeof(V) <= sizeof(T); ++at)
    if (std::memcmp(bytes + at, &pattern, sizeof(V)) == 0) return static_cast<long>(at);
  return -1;
}

TEST(DataUnitLayout, FieldsSitWherePackedCallersExpectThem) {
  BareUnit unit;
  static const char kText[] = "id";
  unit.SetHashField(kText);
  unit.SetTransformElement(0, 12345.5f);
  void* const marker = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1122334455667788ull));
  unit.SetReservedField(marker);
  EXPECT_EQ(OffsetOfValue(static_cast<const CDataUnit&>(unit), static_cast<const char*>(kText)), 16);
  EXPECT_EQ(OffsetOfValue(static_cast<const CDataUnit&>(unit), 12345.5f), 32);
  EXPECT_EQ(OffsetOfValue(static_cast<const CDataUnit&>(unit), marker), 68);
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
