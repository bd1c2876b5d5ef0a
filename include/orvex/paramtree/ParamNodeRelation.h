// The relations of a region part: which line-segment nodes descend from each
// binarization node, grouped as the host's binarization list was grouped.
//
// Ownership: a tree keeps the groups of each region part; a relation is counted and
// lists its nodes as plain pointers, valid while the tree lives. Filled while the tree
// is built and read afterwards; not synchronised.
#ifndef ORVEX_PARAMTREE_PARAMNODERELATION_H
#define ORVEX_PARAMTREE_PARAMNODERELATION_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/QZRef.h>

#include <map>
#include <vector>

namespace orvex {

class ParameterNodeBase;

// A binarization node of a region part and its descendants, by stage number.
class ORVEX_EXPORT ParamNodeRelation : public QZObjectBase {
 public:
  explicit ParamNodeRelation(ParameterNodeBase* node);
  ~ParamNodeRelation() override;

  ParameterNodeBase* GetNode() const { return m_node; }
  // The list of that stage, created empty when missing.
  std::vector<ParameterNodeBase*>& GetChildNodes(int stage);

 private:
  ParameterNodeBase* m_node;
  std::map<int, std::vector<ParameterNodeBase*>> m_childNodes;
};

// The relations of one binarization group.
class ORVEX_EXPORT ParamNodeGroup {
 public:
  ParamNodeGroup() = default;
  explicit ParamNodeGroup(const std::vector<QZRef<ParamNodeRelation>>& relations) : m_groupNodes(relations) {}
  std::vector<QZRef<ParamNodeRelation>>& GetGroupNodes() { return m_groupNodes; }
  const std::vector<QZRef<ParamNodeRelation>>& GetGroupNodes() const { return m_groupNodes; }

 private:
  std::vector<QZRef<ParamNodeRelation>> m_groupNodes;
};

}  // namespace orvex

#endif
