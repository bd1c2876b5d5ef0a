#include <orvex/paramtree/ParamNodeRelation.h>

namespace orvex {

ParamNodeRelation::ParamNodeRelation(ParameterNodeBase* node) : m_node(node) {}

ParamNodeRelation::~ParamNodeRelation() {
  m_node = nullptr;
  m_childNodes.clear();
}

std::vector<ParameterNodeBase*>& ParamNodeRelation::GetChildNodes(int stage) { return m_childNodes[stage]; }

}  // namespace orvex
