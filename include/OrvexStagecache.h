/*
 * OrvexStagecache: the exported C functions, and in C++ the orvex::tav interface classes.
 *
 * Conventions of the C functions:
 *  1. Results are 0 on success and -1 when a required pointer is null (nothing is
 *     called and no out-parameter is written) or when the operation is not supported.
 *  2. Node and data-unit pointers written to out-parameters are borrowed: never free
 *     them. A node stays valid while its tree lives; a data unit while a node or the
 *     process-wide table of results holds it.
 *  3. Arrays are the caller's. The library fills them and allocates their pointer
 *     block; free the block with TAV_FreeDataUnitArray / TAV_FreeParameterTreeNodeArray.
 *  4. Hash-id strings returned by TAV_GetImageHashIdFrom* belong to the caller, who
 *     frees them with TAV_FreeString; null means no hash id could be computed.
 *  5. The functions take no lock of their own and are safe to call from any thread;
 *     one caller-owned array or string is not to be used by two threads at once.
 *
 * From C the classes are opaque types; create and read them through a C++ host.
 */
#ifndef ORVEX_STAGECACHE_H
#define ORVEX_STAGECACHE_H

#include <orvex/foundation/Export.h>
#include <orvex/core/ImagePixelFormat.h>
#include <orvex/tav/Enums.h>

#ifdef __cplusplus
#include <orvex/tav/Interfaces.h>
#define ORVEX_TAV(name) orvex::tav::name
#define ORVEX_CORE(name) orvex::core::name
extern "C" {
#else
typedef struct CParameterTree CParameterTree;
typedef struct CParameterTreeNode CParameterTreeNode;
typedef struct CDataUnit CDataUnit;
typedef struct CParameterTreeNodeArray CParameterTreeNodeArray;
typedef struct CDataUnitArray CDataUnitArray;
typedef struct CTAV_Quadrilateral CTAV_Quadrilateral;
typedef struct CTAV_QuadrilateralArray CTAV_QuadrilateralArray;
typedef struct CImageData CImageData;
#define ORVEX_TAV(name) name
#define ORVEX_CORE(name) name
#endif

/* The library version, "1.0"; a static text, never freed. */
ORVEX_EXPORT const char* QZ_GetLibVersion(void);

ORVEX_EXPORT int TAV_ParameterTree_GetRootNode(const ORVEX_TAV(CParameterTree) * tree,
                                               ORVEX_TAV(CParameterTreeNode) * *root);
ORVEX_EXPORT int TAV_ParameterTree_GetNode(const ORVEX_TAV(CParameterTree) * tree, const char* nodeHashId,
                                           ORVEX_TAV(CParameterTreeNode) * *node);
ORVEX_EXPORT int TAV_ParameterTree_GetNodes(const ORVEX_TAV(CParameterTree) * tree, ORVEX_TAV(DataUnitStageType) stage,
                                            ORVEX_TAV(CParameterTreeNodeArray) * nodes);
ORVEX_EXPORT int TAV_ParameterTree_GetDataUnit(const ORVEX_TAV(CParameterTree) * tree, const char* dataHashId,
                                               ORVEX_TAV(CDataUnit) * *unit);
ORVEX_EXPORT int TAV_ParameterTree_GetDataUnits(const ORVEX_TAV(CParameterTree) * tree,
                                                ORVEX_TAV(DataUnitStageType) stage, const char* sourceImageHashId,
                                                ORVEX_TAV(CDataUnitArray) * units);

ORVEX_EXPORT int TAV_ParameterTreeNode_GetParentNode(const ORVEX_TAV(CParameterTreeNode) * node,
                                                     ORVEX_TAV(CParameterTreeNode) * *parent);
ORVEX_EXPORT int TAV_ParameterTreeNode_GetChildNodes(const ORVEX_TAV(CParameterTreeNode) * node,
                                                     ORVEX_TAV(CParameterTreeNodeArray) * children);
ORVEX_EXPORT int TAV_ParameterTreeNode_GetDataUnits(const ORVEX_TAV(CParameterTreeNode) * node,
                                                    const char* sourceImageHashId, ORVEX_TAV(CDataUnitArray) * units);
/* The created unit is borrowed like every other; the node and the table of results hold it. */
ORVEX_EXPORT int TAV_ParameterTreeNode_CreateDataUnitAs(ORVEX_TAV(CParameterTreeNode) * node,
                                                        const ORVEX_TAV(CDataUnit) * model,
                                                        ORVEX_TAV(CDataUnit) * *created);

/* The image stays owned by the library and valid while the unit lives. */
ORVEX_EXPORT int TAV_DataUnit_GetDataAsImageData(const ORVEX_TAV(CDataUnit) * unit, ORVEX_CORE(CImageData) * *image);
ORVEX_EXPORT int TAV_DataUnit_GetDataAsQuadrilateralArray(const ORVEX_TAV(CDataUnit) * unit,
                                                          ORVEX_TAV(CTAV_QuadrilateralArray) * *quads);
ORVEX_EXPORT int TAV_DataUnit_CreateDataAsImageData(ORVEX_TAV(CDataUnit) * unit, int arg1, int arg2, int arg3,
                                                    ORVEX_CORE(ImagePixelFormat) format,
                                                    ORVEX_CORE(CImageData) * *image);
ORVEX_EXPORT int TAV_DataUnit_CreateDataAsQuadrilateralArray(ORVEX_TAV(CDataUnit) * unit, int count,
                                                             ORVEX_TAV(CTAV_QuadrilateralArray) * *quads);
ORVEX_EXPORT int TAV_DataUnit_GetParentDataUnit(const ORVEX_TAV(CDataUnit) * unit, ORVEX_TAV(CDataUnit) * *parent);
ORVEX_EXPORT int TAV_DataUnit_GetChildDataUnits(const ORVEX_TAV(CDataUnit) * unit,
                                                const ORVEX_TAV(CParameterTree) * tree,
                                                ORVEX_TAV(CDataUnitArray) * children);
ORVEX_EXPORT int TAV_DataUnit_GetSiblingDataUnits(const ORVEX_TAV(CDataUnit) * unit,
                                                  const ORVEX_TAV(CParameterTree) * tree,
                                                  ORVEX_TAV(CDataUnitArray) * siblings);

/* Forward to the host's quadrilateral-array implementation; -1 for a null array. */
ORVEX_EXPORT int TAV_QuadrilateralArray_SetQuadrilateral(ORVEX_TAV(CTAV_QuadrilateralArray) * quads, int index,
                                                         const ORVEX_TAV(CTAV_Quadrilateral) * quad);
ORVEX_EXPORT int TAV_QuadrilateralArray_AddQuadrilateral(ORVEX_TAV(CTAV_QuadrilateralArray) * quads,
                                                         const ORVEX_TAV(CTAV_Quadrilateral) * quad);
ORVEX_EXPORT int TAV_QuadrilateralArray_RemoveQuadrilateral(ORVEX_TAV(CTAV_QuadrilateralArray) * quads, int index);
ORVEX_EXPORT int TAV_QuadrilateralArray_RemoveAll(ORVEX_TAV(CTAV_QuadrilateralArray) * quads);

/* Free the array's pointer block and set its count to 0; the array itself stays. Null is a no-op. */
ORVEX_EXPORT void TAV_FreeDataUnitArray(ORVEX_TAV(CDataUnitArray) * units);
ORVEX_EXPORT void TAV_FreeParameterTreeNodeArray(ORVEX_TAV(CParameterTreeNodeArray) * nodes);
/* Frees *text and sets it to null; null or a pointer to null does nothing. */
ORVEX_EXPORT void TAV_FreeString(char** text);
/* Hash id of an image in memory or in a file (the flag is not used); null on failure. */
ORVEX_EXPORT char* TAV_GetImageHashIdFromBuffer(ORVEX_CORE(CImageData) * image);
ORVEX_EXPORT char* TAV_GetImageHashIdFromFile(const char* path, int flag);

#ifdef __cplusplus
}
#endif

#endif
