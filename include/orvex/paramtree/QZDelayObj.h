// The typed layer between the node base and the stage nodes: a node that hands out its
// results as W and reaches its parent as P.
#ifndef ORVEX_PARAMTREE_QZDELAYOBJ_H
#define ORVEX_PARAMTREE_QZDELAYOBJ_H

#include <orvex/paramtree/ParameterNodeBase.h>

#include <string>

namespace orvex {

template <class W, class P>
class QZDelayObj : public ParameterNodeBase {
 public:
  typedef W WrapType;
  typedef P ParentType;

  // A node without parent.
  explicit QZDelayObj(QZParameterTree* tree) : ParameterNodeBase(tree) {}
  // A node below `parent`. It joins the parent's child list when its tree accepts it
  // (QZParameterTree::PushBackNode), so a node the tree refuses is never seen there.
  QZDelayObj(QZParameterTree* tree, P* parent) : ParameterNodeBase(tree) { m_parent = parent; }

  // The result for `key` (own, shared, or with `calc` a new lazy one); empty when there
  // is none. Thread-safe.
  QZRef<W> GetData(const std::string& key, bool calc, bool setRequired) {
    QZRef<DW_Base> result = GetDataBase(key, calc, setRequired);
    // A node's results, own or adopted, are all of its stage and so of class W.
    return QZRef<W>(static_cast<W*>(result.get()));
  }

  P* GetPreviousNode() const { return static_cast<P*>(m_parent); }

 protected:
  // A stage node makes its results on top of its parent's; the two nodes whose results
  // are handed in from outside say otherwise.
  bool ComputesResults() const override { return true; }
};

class DW_Base;

// The parent type of the source node; no tree contains one.
class ORVEX_EXPORT PN_NoneNode : public QZDelayObj<DW_Base, PN_NoneNode> {
 public:
  explicit PN_NoneNode(QZParameterTree* tree) : QZDelayObj(tree) {}
};

}  // namespace orvex

#endif
