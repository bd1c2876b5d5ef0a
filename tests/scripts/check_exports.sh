#!/usr/bin/env bash
# Reads the dynamic symbol tables: the deliverable exports the 26 C functions and, besides
# them, only C++ symbols of its public classes; no library leaks its private helpers.
set -euo pipefail
stagecache=$1
improc=$2

expected="QZ_GetLibVersion
TAV_DataUnit_CreateDataAsImageData
TAV_DataUnit_CreateDataAsQuadrilateralArray
TAV_DataUnit_GetChildDataUnits
TAV_DataUnit_GetDataAsImageData
TAV_DataUnit_GetDataAsQuadrilateralArray
TAV_DataUnit_GetParentDataUnit
TAV_DataUnit_GetSiblingDataUnits
TAV_FreeDataUnitArray
TAV_FreeParameterTreeNodeArray
TAV_FreeString
TAV_GetImageHashIdFromBuffer
TAV_GetImageHashIdFromFile
TAV_ParameterTreeNode_CreateDataUnitAs
TAV_ParameterTreeNode_GetChildNodes
TAV_ParameterTreeNode_GetDataUnits
TAV_ParameterTreeNode_GetParentNode
TAV_ParameterTree_GetDataUnit
TAV_ParameterTree_GetDataUnits
TAV_ParameterTree_GetNode
TAV_ParameterTree_GetNodes
TAV_ParameterTree_GetRootNode
TAV_QuadrilateralArray_AddQuadrilateral
TAV_QuadrilateralArray_RemoveAll
TAV_QuadrilateralArray_RemoveQuadrilateral
TAV_QuadrilateralArray_SetQuadrilateral"

# Strong (non-weak) defined code and data symbols of a library, raw names; the markers a
# sanitizer build adds for its own bookkeeping are left out.
strong_symbols() {
  nm -D --defined-only "$1" | awk '$2 ~ /^[TDBR]$/ {print $3}' | sed 's/@.*//' | grep -v -E '^__(odr_asan|asan|tsan|ubsan)' | sort -u
}

status=0
c_symbols=$(strong_symbols "$stagecache" | grep -v '^_Z' | grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' || true)
if [ "$c_symbols" != "$expected" ]; then
  echo "C symbols of $stagecache differ from the 26 exported functions:"
  diff <(echo "$expected") <(echo "$c_symbols") || true
  status=1
fi
if [ "$(echo "$c_symbols" | wc -l)" -ne 26 ]; then status=1; fi

# Every exported C++ symbol of the deliverable belongs to the orvex namespace.
stray=$(strong_symbols "$stagecache" | grep '^_Z' | c++filt | grep -v -E '^(typeinfo (name )?for |vtable for |VTT for |(non-)?virtual thunk to )?orvex::' || true)
if [ -n "$stray" ]; then
  echo "symbols outside the orvex namespace exported by $stagecache:"
  echo "$stray"
  status=1
fi

# Private helpers of either library stay hidden.
for lib in "$stagecache" "$improc"; do
  leaked=$(strong_symbols "$lib" | c++filt | grep -i -E 'XXH|WriteHashText|anonymous namespace|ToFamilyLayout|LooksTruncated|ResizeBlock|AllPresent' || true)
  if [ -n "$leaked" ]; then
    echo "private helpers exported by $lib:"
    echo "$leaked"
    status=1
  fi
done

[ $status -eq 0 ] && echo "exports of $(basename "$stagecache"): the 26 C functions and orvex classes only"
exit $status
