// The tree loader: the registered tree groups by name and the cache of trees by name.
//
// Ownership: the group pool holds one count of each registered group, the cache one of
// each tree; UpdateTreeGroups drops what only they hold.
//
// Threads: the loader's mutex serialises InitParameterTreeGroup (and everything the
// host's callback does) against UpdateTreeGroups and GetCachedTreeCount; it is the
// outermost lock of the library. CreateParameterTree, BuildTreeGroup and
// GetParamTreeGroupPool expect it held (ORVEX_REQUIRES): call them from the callback. A
// host that calls them elsewhere must be the loader's only user at that time.
// ExtandRegionPart takes no lock and touches only the tree it is given.
#ifndef ORVEX_LOADER_QZPARAMETERTREELOADER_H
#define ORVEX_LOADER_QZPARAMETERTREELOADER_H

#include <orvex/foundation/Export.h>
#include <orvex/improc/QZ_ImageParameter.h>
#include <orvex/loader/ParamTreeGroup.h>
#include <orvex/paramtree/QZParameterTree.h>

#include <map>
#include <orvex/foundation/Mutex.h>
#include <string>

namespace orvex {

class QZParameterTreeLoader;

// The host's registration callback: builds (or finds) the group for `name`, normally
// storing it in the loader's group pool. Runs under the loader's mutex, so it must not
// call InitParameterTreeGroup or UpdateTreeGroups.
typedef QZRef<ParamTreeGroup> (*ParamTreeGroupCallback)(void* host, QZParameterTreeLoader* loader, const char* name);

class ORVEX_EXPORT QZParameterTreeLoader {
 public:
  // A loader whose trees share their results through the table of the pool in use.
  QZParameterTreeLoader() = default;
  // A loader whose trees share their results through `table` (its pool's).
  explicit QZParameterTreeLoader(DataUnitManager* table) : m_table(table) {}
  ~QZParameterTreeLoader();
  QZParameterTreeLoader(const QZParameterTreeLoader&) = delete;
  QZParameterTreeLoader& operator=(const QZParameterTreeLoader&) = delete;

  // Runs the callback under the loader's mutex and returns what it returned; the mutex is
  // released also when the callback throws. A null callback gives an empty handle. The
  // trees in the cache and the returned group's tree are finished afterwards: they take
  // no more nodes (see QZParameterTree).
  QZRef<ParamTreeGroup> InitParameterTreeGroup(void* host, ParamTreeGroupCallback callback, const char* name);
  // The tree cached under `name`, built from the parameters (whole-image part) when there
  // is none yet; empty for an empty name or null parameters.
  QZRef<QZParameterTree> CreateParameterTree(const std::string& name, QZ_ImageParameter* parameters)
      ORVEX_REQUIRES(m_mutex);
  // Grows the region part below one candidate-regions node of `tree`; nothing on a
  // finished tree.
  void ExtandRegionPart(QZParameterTree* tree, ParameterNodeBase* regionNode, QZ_ImageParameter* parameters);
  // What a registration callback usually does: the tree for `name` (CreateParameterTree),
  // a region part below each of its candidate-regions nodes, and a group of it kept in
  // the group pool under `name`. Empty, nothing kept, when there is no tree. Call it from
  // the callback, under the loader's mutex.
  QZRef<ParamTreeGroup> BuildTreeGroup(const char* name, QZ_ImageParameter* parameters) ORVEX_REQUIRES(m_mutex);
  // Drops the groups only the pool holds, then (if any went) the trees only the cache
  // holds; true when a group was dropped.
  bool UpdateTreeGroups();
  std::map<std::string, QZRef<ParamTreeGroup>>& GetParamTreeGroupPool() ORVEX_REQUIRES(m_mutex) { return m_groupPool; }
  // Number of trees in the cache; takes the loader's mutex.
  int GetCachedTreeCount() const ORVEX_EXCLUDES(m_mutex);

 private:
  // Drops the trees only the cache holds into `dropped`; true when a tree went.
  bool UpdateParamTrees(QZGraveyard& dropped) ORVEX_REQUIRES(m_mutex);

  // The table the trees share their results through; null: the pool's in use.
  DataUnitManager* m_table = nullptr;
  // m_mutex guards the two maps: the callback fills them under it, UpdateTreeGroups
  // empties them under it. The outermost lock of the library: taken before every other.
  mutable OutermostMutex m_mutex;
  std::map<std::string, QZRef<ParamTreeGroup>> m_groupPool ORVEX_GUARDED_BY(m_mutex);
  std::map<std::string, QZRef<QZParameterTree>> m_treeCache ORVEX_GUARDED_BY(m_mutex);
};

// Whether a stage is a region stage (9 to 23 and beyond), not a whole-image one (1 to 8, or 0).
ORVEX_EXPORT bool CheckTreeTypeByDataUnitStageType(tav::DataUnitStageType stage);

}  // namespace orvex

#endif
