// Defaults of the data-unit interface, the caller-owned arrays and the quadrilateral record.
#include <orvex/tav/Interfaces.h>

namespace orvex {
namespace tav {

CDataUnit::CDataUnit()
    : m_sourceImageHashId(nullptr),
      m_hashId(nullptr),
      m_stageType(static_cast<DataUnitStageType>(0)),
      m_mediaType(DUMT_NONE),
      m_transform{1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f},
      m_reserved(nullptr) {}

int CDataUnit::GetDataAsImageData(orvex::core::CImageData**) const { return -1; }
int CDataUnit::GetDataAsQuadrilateralArray(CTAV_QuadrilateralArray**) const { return -1; }
int CDataUnit::CreateDataAsImageData(int, int, int, orvex::core::ImagePixelFormat, orvex::core::CImageData**) {
  return -1;
}
int CDataUnit::CreateDataAsQuadrilateralArray(int, CTAV_QuadrilateralArray**) { return -1; }

namespace {

// Frees the block and, for count > 0, allocates a new one; shared by both arrays.
template <class T>
void ResizeBlock(int& count, T**& block, int newCount) {
  count = newCount;
  delete[] block;
  block = nullptr;
  if (newCount > 0) block = new T*[newCount];
}

}  // namespace

CParameterTreeNodeArray::CParameterTreeNodeArray() : m_count(0), m_block(nullptr) {}
CParameterTreeNodeArray::~CParameterTreeNodeArray() { delete[] m_block; }
void CParameterTreeNodeArray::SetCount(int count) { ResizeBlock(m_count, m_block, count); }
int CParameterTreeNodeArray::GetCount() const { return m_count; }
const CParameterTreeNode* CParameterTreeNodeArray::GetParameterTreeNode(int i) const { return m_block[i]; }
void CParameterTreeNodeArray::SetParameterTreeNode(int i, CParameterTreeNode* node) { m_block[i] = node; }
void CParameterTreeNodeArray::Free() { ResizeBlock(m_count, m_block, 0); }

CDataUnitArray::CDataUnitArray() : m_count(0), m_block(nullptr) {}
CDataUnitArray::~CDataUnitArray() { delete[] m_block; }
void CDataUnitArray::SetCount(int count) { ResizeBlock(m_count, m_block, count); }
int CDataUnitArray::GetCount() const { return m_count; }
const CDataUnit* CDataUnitArray::GetDataUnit(int i) const { return m_block[i]; }
void CDataUnitArray::SetDataUnit(int i, CDataUnit* unit) { m_block[i] = unit; }
void CDataUnitArray::Free() { ResizeBlock(m_count, m_block, 0); }

CTAV_Quadrilateral::CTAV_Quadrilateral() : m_quadrilateral(nullptr), m_activeFlag(0), m_confidenceAsDocumentBoundary(0) {}

CTAV_Quadrilateral::CTAV_Quadrilateral(orvex::core::CQuadrilateral* quadrilateral, int activeFlag, int confidence)
    : m_quadrilateral(quadrilateral), m_activeFlag(activeFlag), m_confidenceAsDocumentBoundary(confidence) {}

void CTAV_Quadrilateral::SetQuadrilateral(const orvex::core::CQuadrilateral* source) {
  for (int i = 0; i < 4; ++i) m_quadrilateral->points[i] = source->points[i];
}

}  // namespace tav
}  // namespace orvex
