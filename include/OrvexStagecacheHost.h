// OrvexStagecacheHost.h: the one header a host program includes to use the host classes.
//
// Ownership: every long-lived object (matrices, and the library's trees, groups, nodes
// and results) is counted; hold it through QZRef<T>, which frees it with the last handle.
// Pointers handed out through the interface classes are borrowed (see OrvexStagecache.h).
//
// Threads: counted handles may be copied and dropped in any thread; each class says
// what else is thread-safe. The library's locks, outermost first (a thread holding one
// only ever takes locks further down the list):
//   1. a loader's mutex (registration and clean-up of tree groups);
//   2. a tree's counters mutex (shared by every group over that tree);
//   3. parameter-node locks, a node before its ancestors;
//   4. a table's mutex (under which new lazy results are built, taking only the locks below);
//   5. data-wrap locks, a wrap before its parent and its extra inputs;
//   6. processing-stage locks, a stage before its input and linked stages.
// Unordered leaves, taken anywhere and holding nothing else while held: a stage
// counter's mutex, a tree's region-id lock, the wrap link mutex, a matrix's hash-id lock
// and the logger's lock.
// No lock is held while a result, node, tree or group is freed: containers hand what they
// drop to their caller (or to a QZGraveyard) and it is freed after the locks are released.
#ifndef ORVEX_STAGECACHE_HOST_H
#define ORVEX_STAGECACHE_HOST_H

#include <OrvexStagecache.h>

#include <orvex/datawrap/RegionWraps.h>
#include <orvex/datawrap/WholeImageWraps.h>
#include <orvex/foundation/MathUtils.h>
#include <orvex/foundation/PointerLists.h>
#include <orvex/foundation/QZRef.h>
#include <orvex/hashing/HashId.h>
#include <orvex/improc/DP_Stages.h>
#include <orvex/improc/GenerateHash.h>
#include <orvex/improc/ModeLimits.h>
#include <orvex/improc/QZLog.h>
#include <orvex/improc/QZMatrix.h>
#include <orvex/improc/QZ_ImageParameter.h>
#include <orvex/improc/QZ_Quad.h>
#include <orvex/loader/CacheStatistics.h>
#include <orvex/loader/ParamTreeGroup.h>
#include <orvex/loader/QZParameterTreeAndDataPool.h>
#include <orvex/loader/QZParameterTreeLoader.h>
#include <orvex/modes/ModeListRules.h>
#include <orvex/modes/ModeLiterals.h>
#include <orvex/modes/ModeRecords.h>
#include <orvex/paramtree/DataUnitManager.h>
#include <orvex/paramtree/QZParameterTree.h>
#include <orvex/paramtree/StageNodes.h>
#include <orvex/paramtree/TreeGeneration.h>
#include <orvex/stages/StageTable.h>

#endif
