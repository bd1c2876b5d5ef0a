// The exported C functions: argument checks, then one call on the interface object.
#include <OrvexStagecache.h>

#include <orvex/foundation/NoThrow.h>

using orvex::core::CImageData;
using orvex::core::ImagePixelFormat;
using orvex::tav::CCommonUtility;
using orvex::tav::CDataUnit;
using orvex::tav::CDataUnitArray;
using orvex::tav::CParameterTree;
using orvex::tav::CParameterTreeNode;
using orvex::tav::CParameterTreeNodeArray;
using orvex::tav::CTAV_Quadrilateral;
using orvex::tav::CTAV_QuadrilateralArray;
using orvex::ReturnOrFail;
using orvex::tav::DataUnitStageType;

namespace {

constexpr int kMissingArgument = -1;
// What a function answers when the operation it forwards to throws.
constexpr int kFailed = -1;

template <class... Pointers>
bool AllPresent(const Pointers*... pointers) {
  return ((pointers != nullptr) && ...);
}

}  // namespace

extern "C" {

const char* QZ_GetLibVersion(void) { return "1.0"; }

int TAV_ParameterTree_GetRootNode(const CParameterTree* tree, CParameterTreeNode** root) {
  if (!AllPresent(tree, root)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return tree->GetRootNode(root); });
}

int TAV_ParameterTree_GetNode(const CParameterTree* tree, const char* nodeHashId, CParameterTreeNode** node) {
  if (!AllPresent(tree, nodeHashId, node)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return tree->GetNode(nodeHashId, node); });
}

int TAV_ParameterTree_GetNodes(const CParameterTree* tree, DataUnitStageType stage, CParameterTreeNodeArray* nodes) {
  if (!AllPresent(tree, nodes)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return tree->GetNodes(stage, nodes); });
}

int TAV_ParameterTree_GetDataUnit(const CParameterTree* tree, const char* dataHashId, CDataUnit** unit) {
  if (!AllPresent(tree, dataHashId, unit)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return tree->GetDataUnit(dataHashId, unit); });
}

int TAV_ParameterTree_GetDataUnits(const CParameterTree* tree, DataUnitStageType stage,
                                   const char* sourceImageHashId, CDataUnitArray* units) {
  if (!AllPresent(tree, sourceImageHashId, units)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return tree->GetDataUnits(stage, sourceImageHashId, units); });
}

int TAV_ParameterTreeNode_GetParentNode(const CParameterTreeNode* node, CParameterTreeNode** parent) {
  if (!AllPresent(node, parent)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return node->GetParentNode(parent); });
}

int TAV_ParameterTreeNode_GetChildNodes(const CParameterTreeNode* node, CParameterTreeNodeArray* children) {
  if (!AllPresent(node, children)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return node->GetChildNodes(children); });
}

int TAV_ParameterTreeNode_GetDataUnits(const CParameterTreeNode* node, const char* sourceImageHashId,
                                       CDataUnitArray* units) {
  if (!AllPresent(node, sourceImageHashId, units)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return node->GetDataUnits(sourceImageHashId, units); });
}

int TAV_ParameterTreeNode_CreateDataUnitAs(CParameterTreeNode* node, const CDataUnit* model, CDataUnit** created) {
  if (!AllPresent(node, model, created)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return node->CreateDataUnitAs(model, created); });
}

int TAV_DataUnit_GetDataAsImageData(const CDataUnit* unit, CImageData** image) {
  if (!AllPresent(unit, image)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return unit->GetDataAsImageData(image); });
}

int TAV_DataUnit_GetDataAsQuadrilateralArray(const CDataUnit* unit, CTAV_QuadrilateralArray** quads) {
  if (!AllPresent(unit, quads)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return unit->GetDataAsQuadrilateralArray(quads); });
}

int TAV_DataUnit_CreateDataAsImageData(CDataUnit* unit, int arg1, int arg2, int arg3, ImagePixelFormat format,
                                       CImageData** image) {
  if (!AllPresent(unit, image)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return unit->CreateDataAsImageData(arg1, arg2, arg3, format, image); });
}

int TAV_DataUnit_CreateDataAsQuadrilateralArray(CDataUnit* unit, int count, CTAV_QuadrilateralArray** quads) {
  if (!AllPresent(unit, quads)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return unit->CreateDataAsQuadrilateralArray(count, quads); });
}

int TAV_DataUnit_GetParentDataUnit(const CDataUnit* unit, CDataUnit** parent) {
  if (!AllPresent(unit, parent)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return unit->GetParentDataUnit(parent); });
}

int TAV_DataUnit_GetChildDataUnits(const CDataUnit* unit, const CParameterTree* tree, CDataUnitArray* children) {
  if (!AllPresent(unit, tree, children)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return unit->GetChildDataUnits(tree, children); });
}

int TAV_DataUnit_GetSiblingDataUnits(const CDataUnit* unit, const CParameterTree* tree, CDataUnitArray* siblings) {
  if (!AllPresent(unit, tree, siblings)) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return unit->GetSiblingDataUnits(tree, siblings); });
}

int TAV_QuadrilateralArray_SetQuadrilateral(CTAV_QuadrilateralArray* quads, int index, const CTAV_Quadrilateral* quad) {
  if (quads == nullptr) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return quads->SetQuadrilateral(index, quad); });
}

int TAV_QuadrilateralArray_AddQuadrilateral(CTAV_QuadrilateralArray* quads, const CTAV_Quadrilateral* quad) {
  if (quads == nullptr) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return quads->AddQuadrilateral(quad); });
}

int TAV_QuadrilateralArray_RemoveQuadrilateral(CTAV_QuadrilateralArray* quads, int index) {
  if (quads == nullptr) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return quads->RemoveQuadrilateral(index); });
}

int TAV_QuadrilateralArray_RemoveAll(CTAV_QuadrilateralArray* quads) {
  if (quads == nullptr) return kMissingArgument;
  return ReturnOrFail(kFailed, [&] { return quads->RemoveAll(); });
}

void TAV_FreeDataUnitArray(CDataUnitArray* units) {
  if (units != nullptr) units->Free();
}

void TAV_FreeParameterTreeNodeArray(CParameterTreeNodeArray* nodes) {
  if (nodes != nullptr) nodes->Free();
}

void TAV_FreeString(char** text) { CCommonUtility::FreeString(text); }

char* TAV_GetImageHashIdFromBuffer(CImageData* image) {
  return ReturnOrFail<char*>(nullptr, [&] { return CCommonUtility::GetImageHashId(image); });
}

char* TAV_GetImageHashIdFromFile(const char* path, int flag) {
  return ReturnOrFail<char*>(nullptr, [&] { return CCommonUtility::GetImageHashId(path, flag != 0); });
}

}  // extern "C"
