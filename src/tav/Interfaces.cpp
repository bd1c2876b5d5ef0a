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

CParameterTreeNodeArray::CParameterTreeNodeArray() : m_count(0), m_block(nullptr) {}
CParameterTreeNodeArray::~CParameterTreeNodeArray() { delete[] m_block; }
// The new block is made first: when that fails, the array is as it was.
void CParameterTreeNodeArray::SetCount(int count) {
  CParameterTreeNode** block = count > 0 ? new CParameterTreeNode*[count]() : nullptr;
  delete[] m_block;
  m_block = block;
  m_count = count;
}
int CParameterTreeNodeArray::GetCount() const { return m_count; }
const CParameterTreeNode* CParameterTreeNodeArray::GetParameterTreeNode(int i) const { return m_block[i]; }
void CParameterTreeNodeArray::SetParameterTreeNode(int i, CParameterTreeNode* node) { m_block[i] = node; }
void CParameterTreeNodeArray::Free() { SetCount(0); }

CDataUnitArray::CDataUnitArray() : m_count(0), m_block(nullptr) {}
CDataUnitArray::~CDataUnitArray() { delete[] m_block; }
void CDataUnitArray::SetCount(int count) {
  CDataUnit** block = count > 0 ? new CDataUnit*[count]() : nullptr;
  delete[] m_block;
  m_block = block;
  m_count = count;
}
int CDataUnitArray::GetCount() const { return m_count; }
const CDataUnit* CDataUnitArray::GetDataUnit(int i) const { return m_block[i]; }
void CDataUnitArray::SetDataUnit(int i, CDataUnit* unit) { m_block[i] = unit; }
void CDataUnitArray::Free() { SetCount(0); }

CTAV_Quadrilateral::CTAV_Quadrilateral() : m_quadrilateral(nullptr), m_activeFlag(0), m_confidenceAsDocumentBoundary(0) {}

CTAV_Quadrilateral::CTAV_Quadrilateral(orvex::core::CQuadrilateral* quadrilateral, int activeFlag, int confidence)
    : m_quadrilateral(quadrilateral), m_activeFlag(activeFlag), m_confidenceAsDocumentBoundary(confidence) {}

void CTAV_Quadrilateral::SetQuadrilateral(const orvex::core::CQuadrilateral* source) {
  for (int i = 0; i < 4; ++i) m_quadrilateral->points[i] = source->points[i];
}

}  // namespace tav
}  // namespace orvex
