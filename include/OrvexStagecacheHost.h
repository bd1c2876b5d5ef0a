// OrvexStagecacheHost.h: the one header a host program includes to use the host classes.
//
// Ownership: every long-lived object (matrices, and the library's trees, groups, nodes
// and results) is counted; hold it through QZRef<T>, which frees it with the last handle.
// Pointers handed out through the interface classes are borrowed (see OrvexStagecache.h).
//
// Threads: counted handles may be copied and dropped in any thread; each class says
// what else is thread-safe. The lock order, stated here once: a thread holding a lock
// only ever takes locks further down the list. Where clang can check the order (two
// mutexes of one object, or a static one) the mutex also carries ORVEX_ACQUIRED_BEFORE.
//   1. QZParameterTreeLoader::m_mutex, a loader's (registration and clean-up of groups);
//   2. SourceStageCounters::m_mutex, a tree's counters (shared by every group over it);
//   3. ParameterNodeBase::m_dataMutex, node locks, a node before its ancestors;
//   4. DataUnitManager::m_mutex, a table's (new lazy results are built under it);
//   5. DW_Base::dataMutex, data-wrap locks, a wrap before its parent and extra inputs;
//   6. DP_Template::primaryDataMutex, processing-stage locks, a stage before its input
//      and linked stages;
//   7. leaves, taken anywhere and holding nothing else while held:
//      StageTypeCounter::m_countMutex, QZParameterTree::m_regionIdsMutex, the wrap link
//      mutex DW_Base::s_linkMutex, QZMatrix::m_hashMutex, the logger's QZLog::m_mutex
//      (its sink runs under it), and a result store's own locks (the host kit's
//      FileResultStore::m_pendingMutex).
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
#include <orvex/foundation/ModeLimits.h>
#include <orvex/improc/QZLog.h>
#include <orvex/improc/QZMatrix.h>
#include <orvex/improc/QZ_ImageParameter.h>
#include <orvex/improc/QZ_Quad.h>
#include <orvex/loader/CacheStatistics.h>
#include <orvex/loader/ParamTreeGroup.h>
#include <orvex/loader/QZParameterTreeAndDataPool.h>
#include <orvex/loader/QZParameterTreeLoader.h>
#include <orvex/modes/ModeFields.h>
#include <orvex/modes/ModeListRules.h>
#include <orvex/foundation/ModeLiterals.h>
#include <orvex/modes/ModeRecords.h>
#include <orvex/paramtree/DataUnitManager.h>
#include <orvex/paramtree/QZParameterTree.h>
#include <orvex/paramtree/StageNodes.h>
#include <orvex/stages/StageTable.h>

#endif
