/* A C host: the public header compiles as C and the functions answer as documented. */
#include <OrvexStagecache.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void check(int condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

int main(void) {
  CParameterTreeNode* node = NULL;
  CDataUnit* unit = NULL;
  char* text = NULL;
  DataUnitStageType stage = DUST_LINE_SEGMENTS;

  check(strcmp(QZ_GetLibVersion(), "1.0") == 0, "version is 1.0");
  check(TAV_ParameterTree_GetRootNode(NULL, &node) == -1, "null tree refused");
  check(TAV_ParameterTree_GetNodes(NULL, stage, NULL) == -1, "null tree and array refused");
  check(TAV_DataUnit_GetParentDataUnit(NULL, &unit) == -1, "null unit refused");
  check(TAV_DataUnit_CreateDataAsImageData(NULL, 1, 2, 3, IPF_BGR_888, NULL) == -1, "null unit refused");
  check(TAV_QuadrilateralArray_RemoveAll(NULL) == -1, "null quadrilateral array refused");
  check(node == NULL && unit == NULL, "out-parameters untouched");
  check(TAV_GetImageHashIdFromBuffer(NULL) == NULL, "null image gives no hash id");
  check(TAV_GetImageHashIdFromFile("/nonexistent/image.png", 0) == NULL, "missing file gives no hash id");
  TAV_FreeString(&text);
  TAV_FreeString(NULL);
  TAV_FreeDataUnitArray(NULL);
  TAV_FreeParameterTreeNodeArray(NULL);
  check(DUMT_IMAGE == 1, "media type of images is 1");

  printf("%d passed, %d failed\n", 12 - failures, failures);
  return failures == 0 ? 0 : 1;
}
