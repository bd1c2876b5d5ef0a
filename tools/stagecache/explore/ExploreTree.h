// Parameter sets' trees as explore keeps them: each registered under the name its
// parameters decide (hostkit::RegistrationName), as the host kit registers every set, so
// an edited set gets a tree of its own while an unchanged one keeps its tree; and drawn
// as the report draws trees.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_EXPLORETREE_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_EXPLORETREE_H

#include "../Run.h"
#include "../TreeDrawing.h"

#include <orvex/foundation/Mutex.h>
#include <orvex/hostkit/SetGroups.h>

#include <map>
#include <memory>
#include <string>

namespace stagecache {
namespace explore {

// One set's tree group. Threads: Groups() may process images from several threads at once
// (as SetGroups allows); Svg() draws one tree at a time over the whole process.
class ExploreTree {
 public:
  // Registers the set's tree; throws orvex::hostkit::ParameterError when the library
  // builds none.
  explicit ExploreTree(const ParameterSet& set);
  ExploreTree(const ExploreTree&) = delete;
  ExploreTree& operator=(const ExploreTree&) = delete;

  const std::string& Registration() const { return m_registration; }
  orvex::hostkit::SetGroups& Groups() { return m_groups; }
  // The tree's nodes without results, in the order of the drawing's node names.
  const SetView& Shape() const { return m_shape; }
  // The tree drawn with `view`'s results (a view of this tree), nodes linked to
  // "#<anchor>c<place>"; laid out by Graphviz on the first call.
  std::string Svg(const SetView& view, const std::string& anchor) const ORVEX_EXCLUDES(s_graphviz);

 private:
  // Graphviz keeps global state: s_graphviz guards every use of it in the process. A leaf
  // lock: nothing else is taken under it.
  static orvex::OutermostMutex s_graphviz;

  std::string m_registration;
  orvex::hostkit::SetGroups m_groups;
  SetView m_shape;
  mutable std::unique_ptr<TreeDrawing> m_drawing ORVEX_GUARDED_BY(s_graphviz);
};

// The trees of the sets in use, one per registration name, kept while someone holds them.
// Threads: every function may be called from any thread.
class TreeCache {
 public:
  // The tree of the set's parameters: the one in use, or a new one.
  std::shared_ptr<ExploreTree> FindOrMake(const ParameterSet& set) ORVEX_EXCLUDES(m_mutex);
  // Trees in use, for the memory figures.
  size_t Count() const ORVEX_EXCLUDES(m_mutex);

 private:
  // m_mutex guards m_trees; taken before any library lock (registration runs under it)
  // and never while one is held.
  mutable orvex::OutermostMutex m_mutex;
  std::map<std::string, std::weak_ptr<ExploreTree>> m_trees ORVEX_GUARDED_BY(m_mutex);
};

}  // namespace explore
}  // namespace stagecache

#endif
