// The public interface classes: trees, nodes and data units to walk the stage results,
// the arrays the library fills, and quadrilaterals.
//
// Ownership: interface pointers handed out by the library are borrowed. They are not
// counted and must not be deleted; a node stays valid while its tree lives, a data unit
// while a node or the process-wide table of results holds it. The arrays belong to the
// caller; the library fills them and allocates their pointer block, which the array's
// destructor, the next fill or TAV_Free*Array frees.
//
// Threads: the implementations lock their own state; the arrays are not synchronised.
//
// The classes are declared with 4-byte packing: a pointer after a 32-bit field is not
// padded to 8 bytes. This is the layout C callers see.
#ifndef ORVEX_TAV_INTERFACES_H
#define ORVEX_TAV_INTERFACES_H

#include <orvex/foundation/Export.h>
#include <orvex/core/CImageData.h>
#include <orvex/core/ImagePixelFormat.h>
#include <orvex/tav/Enums.h>

#pragma pack(push, 4)

namespace orvex {
namespace tav {

class CParameterTreeNode;
class CDataUnit;
class CParameterTreeNodeArray;
class CDataUnitArray;
class CTAV_QuadrilateralArray;

// Every operation that can fail returns 0 on success and -1 for a missing argument
// or an unsupported operation.

// A tree of pipeline stages (implemented by the tree groups).
class ORVEX_EXPORT CParameterTree {
 public:
  virtual int GetRootNode(CParameterTreeNode** node) const = 0;
  virtual int GetNode(const char* nodeHashId, CParameterTreeNode** node) const = 0;
  virtual int GetDataUnit(const char* dataHashId, CDataUnit** unit) const = 0;
  virtual int GetNodes(DataUnitStageType stage, CParameterTreeNodeArray* nodes) const = 0;
  virtual int GetDataUnits(DataUnitStageType stage, const char* sourceImageHashId, CDataUnitArray* units) const = 0;

 protected:
  CParameterTree() = default;
  ~CParameterTree() = default;
};

// One stage with one parameter set (implemented by the parameter nodes).
class ORVEX_EXPORT CParameterTreeNode {
 public:
  virtual int GetParentNode(CParameterTreeNode** parent) const = 0;
  virtual int GetChildNodes(CParameterTreeNodeArray* children) const = 0;
  virtual int GetDataUnits(const char* sourceImageHashId, CDataUnitArray* units) const = 0;
  virtual int CreateDataUnitAs(const CDataUnit* model, CDataUnit** created) = 0;

  // The node's hash id text, owned by the node; null while it has none.
  const char* GetHashId() const { return m_hashId; }
  DataUnitStageType GetDataUnitStageType() const { return m_stageType; }
  const char* GetDetailedParameters() const { return m_detailedParameters; }

 protected:
  CParameterTreeNode() : m_hashId(nullptr), m_stageType(static_cast<DataUnitStageType>(0)), m_detailedParameters(nullptr) {}
  ~CParameterTreeNode() = default;

  const char* m_hashId;
  DataUnitStageType m_stageType;
  const char* m_detailedParameters;
};

// One stage result (implemented by the data wraps).
class ORVEX_EXPORT CDataUnit {
 public:
  virtual int GetParentDataUnit(CDataUnit** parent) const = 0;
  // tree may be null: then every child is listed, whichever tree it belongs to.
  virtual int GetChildDataUnits(const CParameterTree* tree, CDataUnitArray* children) const = 0;
  virtual int GetSiblingDataUnits(const CParameterTree* tree, CDataUnitArray* siblings) const = 0;
  // The result as an image, owned by the library (valid while the unit lives); -1 when
  // the unit is not an image.
  virtual int GetDataAsImageData(orvex::core::CImageData** image) const;
  virtual int GetDataAsQuadrilateralArray(CTAV_QuadrilateralArray** quads) const;
  virtual int CreateDataAsImageData(int arg1, int arg2, int arg3, orvex::core::ImagePixelFormat format,
                                    orvex::core::CImageData** image);
  virtual int CreateDataAsQuadrilateralArray(int count, CTAV_QuadrilateralArray** quads);

  const char* GetSourceImageHashId() const { return m_sourceImageHashId; }
  const char* GetHashId() const { return m_hashId; }
  DataUnitStageType GetStageType() const { return m_stageType; }
  DataUnitMediaType GetMediaType() const { return m_mediaType; }
  // Row-major 3 x 3 matrix from source-image coordinates to this result's coordinates.
  const float* GetTransform() const { return m_transform; }

 protected:
  CDataUnit();
  ~CDataUnit() = default;

  const char* m_sourceImageHashId;
  const char* m_hashId;
  DataUnitStageType m_stageType;
  DataUnitMediaType m_mediaType;
  float m_transform[9];
  void* m_reserved;  // kept null; part of the layout only
};

// A caller-owned array of node pointers. Not copyable: the block has one owner.
class ORVEX_EXPORT CParameterTreeNodeArray {
 public:
  CParameterTreeNodeArray();
  ~CParameterTreeNodeArray();
  CParameterTreeNodeArray(const CParameterTreeNodeArray&) = delete;
  CParameterTreeNodeArray& operator=(const CParameterTreeNodeArray&) = delete;

  // For count > 0, a new block of `count` null elements that the filler writes next,
  // replacing the old block; a count of 0 or less leaves no block. The new block is made
  // before the old one goes, so when that fails the array is as it was.
  void SetCount(int count);
  int GetCount() const;
  // REQUIRES: 0 <= i < GetCount().
  const CParameterTreeNode* GetParameterTreeNode(int i) const;
  void SetParameterTreeNode(int i, CParameterTreeNode* node);
  // Frees the block and sets the count to 0.
  void Free();

 private:
  int m_count;
  CParameterTreeNode** m_block;
};

// A caller-owned array of data-unit pointers. Not copyable: the block has one owner.
class ORVEX_EXPORT CDataUnitArray {
 public:
  CDataUnitArray();
  ~CDataUnitArray();
  CDataUnitArray(const CDataUnitArray&) = delete;
  CDataUnitArray& operator=(const CDataUnitArray&) = delete;

  // As CParameterTreeNodeArray::SetCount.
  void SetCount(int count);
  int GetCount() const;
  // REQUIRES: 0 <= i < GetCount().
  const CDataUnit* GetDataUnit(int i) const;
  void SetDataUnit(int i, CDataUnit* unit);
  void Free();

 private:
  int m_count;
  CDataUnit** m_block;
};

// Describes a quadrilateral record that it does not own.
class ORVEX_EXPORT CTAV_Quadrilateral {
 public:
  CTAV_Quadrilateral();
  CTAV_Quadrilateral(orvex::core::CQuadrilateral* quadrilateral, int activeFlag, int confidence);

  // Copies the eight coordinates of `source` into the described record.
  // REQUIRES: both records exist.
  virtual void SetQuadrilateral(const orvex::core::CQuadrilateral* source);

  const orvex::core::CQuadrilateral* GetQuadrilateral() const { return m_quadrilateral; }
  int GetActiveFlag() const { return m_activeFlag; }
  void SetActiveFlag(int flag) { m_activeFlag = flag; }
  int GetConfidenceAsDocumentBoundary() const { return m_confidenceAsDocumentBoundary; }

 private:
  orvex::core::CQuadrilateral* m_quadrilateral;
  int m_activeFlag;
  int m_confidenceAsDocumentBoundary;
};

// A list of quadrilaterals; implemented outside this library, which never creates one.
class ORVEX_EXPORT CTAV_QuadrilateralArray {
 public:
  virtual int SetQuadrilateral(int index, const CTAV_Quadrilateral* quad) = 0;
  virtual int AddQuadrilateral(const CTAV_Quadrilateral* quad) = 0;
  virtual int RemoveQuadrilateral(int index) = 0;
  virtual int RemoveAll() = 0;

  int GetCount() const { return m_count; }
  // REQUIRES: 0 <= i < GetCount().
  const CTAV_Quadrilateral* GetQuadrilateral(int i) const { return m_block[i]; }

 protected:
  CTAV_QuadrilateralArray() : m_count(0), m_block(nullptr) {}
  ~CTAV_QuadrilateralArray() = default;

  int m_count;
  CTAV_Quadrilateral** m_block;
};

// Static helpers behind the string and image-hash C functions.
class ORVEX_EXPORT CCommonUtility {
 public:
  CCommonUtility() = delete;

  // Frees a string the library handed out and nulls the caller's pointer; a null
  // pointer, or a pointer to null, does nothing.
  static void FreeString(char** text);
  // The hash id of an image in memory, or null when the image is null or unusable.
  // The caller frees the text with FreeString.
  static char* GetImageHashId(orvex::core::CImageData* image);
  // The hash id of an image file, or null when it cannot be read or decoded. The flag
  // is accepted and not used. The caller frees the text with FreeString.
  static char* GetImageHashId(const char* path, bool flag);
};

#if defined(__x86_64__)
static_assert(sizeof(CParameterTreeNode) == 8 + 8 + 4 + 8, "node interface: no padding before the parameters pointer");
static_assert(sizeof(CDataUnit) == 8 + 8 + 8 + 4 + 4 + 9 * 4 + 8, "data unit: the last pointer follows the nine floats");
static_assert(sizeof(CParameterTreeNodeArray) == 4 + 8, "node array: count then block, packed");
static_assert(sizeof(CDataUnitArray) == 4 + 8, "data-unit array: count then block, packed");
static_assert(sizeof(CTAV_Quadrilateral) == 8 + 8 + 4 + 4, "quadrilateral: pointer, flag, confidence");
static_assert(sizeof(CTAV_QuadrilateralArray) == 8 + 4 + 8, "quadrilateral array: count then block, packed");
static_assert(sizeof(CParameterTree) == 8, "tree interface: a table pointer only");
#endif

}  // namespace tav
}  // namespace orvex

#pragma pack(pop)

#endif
