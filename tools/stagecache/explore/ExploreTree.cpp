#include "ExploreTree.h"

#include "../TreePictures.h"

namespace stagecache {
namespace explore {

using orvex::MutexLock;

orvex::OutermostMutex ExploreTree::s_graphviz;

ExploreTree::ExploreTree(const ParameterSet& set)
    : m_registration(orvex::hostkit::RegistrationName(set.parameters)),
      m_groups({set}),
      m_shape(ShapeOfSet(set.name, m_groups.Group(0))) {}

std::string ExploreTree::Svg(const SetView& view, const std::string& anchor) const {
  MutexLock lock(s_graphviz);
  if (!m_drawing) m_drawing = std::make_unique<TreeDrawing>(TreeDot(m_shape));
  if (!m_drawing->Valid()) return std::string();
  return TreeSvg(*m_drawing, view, anchor);
}

std::shared_ptr<ExploreTree> TreeCache::FindOrMake(const ParameterSet& set) {
  const std::string registration = orvex::hostkit::RegistrationName(set.parameters);
  MutexLock lock(m_mutex);
  for (auto it = m_trees.begin(); it != m_trees.end();) {
    if (it->second.expired()) it = m_trees.erase(it);
    else ++it;
  }
  auto known = m_trees.find(registration);
  if (known != m_trees.end()) {
    if (std::shared_ptr<ExploreTree> tree = known->second.lock()) return tree;
  }
  auto tree = std::make_shared<ExploreTree>(set);
  m_trees[registration] = tree;
  return tree;
}

size_t TreeCache::Count() const {
  MutexLock lock(m_mutex);
  size_t alive = 0;
  for (const auto& entry : m_trees) alive += entry.second.expired() ? 0 : 1;
  return alive;
}

}  // namespace explore
}  // namespace stagecache
