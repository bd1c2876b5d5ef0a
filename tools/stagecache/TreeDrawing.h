// A graph laid out by Graphviz once and drawn as SVG as often as needed, with the looks
// of its nodes changed between drawings.
#ifndef ORVEX_TOOLS_STAGECACHE_TREEDRAWING_H
#define ORVEX_TOOLS_STAGECACHE_TREEDRAWING_H

#include <functional>
#include <string>

struct GVC_s;
struct Agraph_s;

namespace stagecache {

// How one node is drawn; attribute values in Graphviz's words.
struct NodeLook {
  std::string fillColour;
  std::string fontColour;
  std::string link;     // where a click on the node leads
  std::string tooltip;
  std::string id;       // the SVG element's id, unique in the page
};

// Not thread-safe: Graphviz keeps global state, so draw from one thread only.
class TreeDrawing {
 public:
  // Lays out the graph of the DOT text; Valid() tells whether that worked.
  explicit TreeDrawing(const std::string& dot);
  ~TreeDrawing();
  TreeDrawing(const TreeDrawing&) = delete;
  TreeDrawing& operator=(const TreeDrawing&) = delete;

  bool Valid() const { return m_laidOut; }
  // The SVG element (without XML prolog) of the laid-out graph, each node drawn as `look`
  // says for its DOT name; `idPrefix` makes the ids of the graph and edges unique in a page.
  std::string Svg(const std::function<NodeLook(const std::string& nodeName)>& look, const std::string& idPrefix);

 private:
  GVC_s* m_context = nullptr;
  Agraph_s* m_graph = nullptr;
  bool m_laidOut = false;
};

}  // namespace stagecache

#endif
