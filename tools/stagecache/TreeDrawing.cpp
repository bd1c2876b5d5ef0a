#include "TreeDrawing.h"

#include <graphviz/gvc.h>

#include <vector>

namespace stagecache {

namespace {

// Graphviz's C interface takes char* for texts it only reads or copies.
char* Text(const std::string& text) { return const_cast<char*>(text.c_str()); }

void Set(void* object, const std::string& name, const std::string& value) {
  agsafeset(object, Text(name), Text(value), Text(std::string()));
}

}  // namespace

TreeDrawing::TreeDrawing(const std::string& dot) : m_context(gvContext()) {
  std::vector<char> text(dot.begin(), dot.end());
  text.push_back('\0');
  m_graph = agmemread(text.data());
  if (m_graph == nullptr) return;
  // Attributes a drawing changes must exist before the layout, which looks them up once.
  for (const char* name : {"fillcolor", "fontcolor", "URL", "tooltip", "id"}) {
    if (agattr(m_graph, AGNODE, const_cast<char*>(name), nullptr) == nullptr) {
      agattr(m_graph, AGNODE, const_cast<char*>(name), const_cast<char*>(""));
    }
  }
  if (agattr(m_graph, AGEDGE, const_cast<char*>("id"), nullptr) == nullptr) {
    agattr(m_graph, AGEDGE, const_cast<char*>("id"), const_cast<char*>(""));
  }
  m_laidOut = gvLayout(m_context, m_graph, "dot") == 0;
}

TreeDrawing::~TreeDrawing() {
  if (m_graph != nullptr) {
    if (m_laidOut) gvFreeLayout(m_context, m_graph);
    agclose(m_graph);
  }
  gvFreeContext(m_context);
}

std::string TreeDrawing::Svg(const std::function<NodeLook(const std::string&)>& look, const std::string& idPrefix) {
  if (!m_laidOut) return std::string();
  Set(m_graph, "id", idPrefix);
  int edge = 0;
  for (Agnode_t* node = agfstnode(m_graph); node != nullptr; node = agnxtnode(m_graph, node)) {
    const NodeLook nodeLook = look(agnameof(node));
    Set(node, "fillcolor", nodeLook.fillColour);
    Set(node, "fontcolor", nodeLook.fontColour);
    Set(node, "URL", nodeLook.link);
    Set(node, "tooltip", nodeLook.tooltip);
    Set(node, "id", nodeLook.id);
    for (Agedge_t* out = agfstout(m_graph, node); out != nullptr; out = agnxtout(m_graph, out)) {
      Set(out, "id", idPrefix + "e" + std::to_string(edge++));
    }
  }
  char* data = nullptr;
  unsigned int length = 0;
  if (gvRenderData(m_context, m_graph, "svg", &data, &length) != 0 || data == nullptr) return std::string();
  std::string svg(data, length);
  gvFreeRenderData(data);
  const size_t begin = svg.find("<svg");
  return begin == std::string::npos ? std::string() : svg.substr(begin);
}

}  // namespace stagecache
