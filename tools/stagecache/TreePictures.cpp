#include "TreePictures.h"

#include "HtmlText.h"

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

namespace stagecache {

namespace {

// Trees of more nodes are drawn by stage: one box per stage with its number of nodes.
constexpr size_t kMostNodesDrawn = 300;

// A text inside a quoted DOT string: quotes and backslashes escaped, line breaks as \n.
std::string Dot(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

std::string NodeName(size_t index) { return "n" + std::to_string(index); }
std::string StageNodeName(int stage) { return "s" + std::to_string(stage); }

// The node's index from its DOT name, or -1.
long IndexOfName(const std::string& name, char prefix) {
  if (name.size() < 2 || name[0] != prefix) return -1;
  return std::strtol(name.c_str() + 1, nullptr, 10);
}

}  // namespace

std::string NodeDot(const SetView& shape) {
  std::ostringstream dot;
  dot << "digraph \"" << Dot(shape.name) << "\" {\n  nodesep=0.1;\n  ranksep=0.15;\n"
      << "  node [shape=box, style=\"rounded,filled\", fontname=\"Helvetica\", fontsize=9, height=0.3, "
         "fillcolor=\"" << kIdleColour << "\"];\n  edge [color=\"#999999\", arrowsize=0.5];\n";
  std::map<std::string, size_t> indexOfId;
  for (size_t i = 0; i < shape.nodes.size(); ++i) indexOfId.emplace(shape.nodes[i].id, i);
  for (size_t i = 0; i < shape.nodes.size(); ++i) {
    const NodeView& node = shape.nodes[i];
    dot << "  " << NodeName(i) << " [label=\"" << node.stage << " " << Dot(GetStageName(node.stage)) << "\\n"
        << Dot(node.parameters) << "\"];\n";
    auto parent = indexOfId.find(node.parentId);
    if (!node.parentId.empty() && parent != indexOfId.end())
      dot << "  " << NodeName(parent->second) << " -> " << NodeName(i) << ";\n";
  }
  dot << "}\n";
  return dot.str();
}

std::string StageDot(const SetView& shape) {
  std::map<int, int> nodesOfStage;
  std::set<std::pair<int, int>> edges;
  std::map<std::string, int> stageOfId;
  for (const NodeView& node : shape.nodes) {
    ++nodesOfStage[node.stage];
    stageOfId.emplace(node.id, node.stage);
  }
  for (const NodeView& node : shape.nodes) {
    auto parent = stageOfId.find(node.parentId);
    if (parent != stageOfId.end()) edges.insert({parent->second, node.stage});
  }
  std::ostringstream dot;
  dot << "digraph \"" << Dot(shape.name) << "\" {\n  ranksep=0.15;\n  node [shape=box, style=\"rounded,filled\", "
         "fontname=\"Helvetica\", fontsize=9, fillcolor=\"" << kIdleColour << "\"];\n";
  for (const auto& [stage, count] : nodesOfStage)
    dot << "  " << StageNodeName(stage) << " [label=\"" << stage << " " << Dot(GetStageName(stage)) << "\\n" << count
        << " nodes\"];\n";
  for (const auto& [from, to] : edges) dot << "  " << StageNodeName(from) << " -> " << StageNodeName(to) << ";\n";
  dot << "}\n";
  return dot.str();
}

bool DrawnByStage(const SetView& shape) { return shape.nodes.size() > kMostNodesDrawn; }

std::string TreeDot(const SetView& shape) { return DrawnByStage(shape) ? StageDot(shape) : NodeDot(shape); }

std::string TreeSvg(TreeDrawing& drawing, const SetView& set, const std::string& anchor) {
  const bool byStage = DrawnByStage(set);
  return drawing.Svg(
      [&](const std::string& name) {
        NodeLook look;
        look.fillColour = kIdleColour;
        look.fontColour = "#222222";
        if (byStage) {
          const long stage = IndexOfName(name, 's');
          int holding = 0, sharing = 0;
          for (const NodeView& node : set.nodes) {
            if (node.stage != stage || node.resultIds.empty()) continue;
            ++holding;
            sharing += node.shared ? 1 : 0;
          }
          if (holding > 0) {
            look.fillColour = sharing > 0 ? kSharedColour : kOwnColour;
            look.fontColour = "#ffffff";
          }
          look.tooltip = std::to_string(holding) + " nodes with results, " + std::to_string(sharing) + " sharing them";
          look.id = anchor + name;
          return look;
        }
        const long index = IndexOfName(name, 'n');
        if (index < 0 || static_cast<size_t>(index) >= set.nodes.size()) return look;
        const NodeView& node = set.nodes[index];
        if (!node.resultIds.empty()) {
          look.fillColour = node.shared ? kSharedColour : kOwnColour;
          look.fontColour = "#ffffff";
        }
        look.link = "#" + anchor + "c" + std::to_string(index);
        look.tooltip = std::to_string(node.stage) + " " + GetStageName(node.stage) + ": " +
                       std::to_string(node.resultIds.size()) + " result(s)" + (node.shared ? ", shared" : "");
        look.id = anchor + name;
        return look;
      },
      anchor);
}

std::string NodeCard(const NodeView& node, const std::string& id) {
  std::ostringstream html;
  html << "<div class=\"card" << (node.shared ? " shared" : "") << "\" id=\"" << id << "\"><b>" << node.stage << " "
       << Html(GetStageName(node.stage)) << "</b><dl><dt>node id</dt><dd><code>" << Html(node.id)
       << "</code></dd><dt>parameters</dt><dd><pre>" << Html(node.parameterText.empty() ? "(none)" : node.parameterText)
       << "</pre></dd><dt>results</dt><dd>" << node.resultIds.size() << (node.shared ? ", shared with another tree" : "");
  for (const std::string& result : node.resultIds) html << "<br><code>" << Html(result) << "</code>";
  html << "</dd><dt>compute time</dt><dd>" << Fixed(node.computeMs, 2) << " ms</dd></dl>";
  for (const std::string& file : node.imageFiles) html << "<img src=\"" << Html(file) << "\" alt=\"result\">";
  html << "</div>\n";
  return html.str();
}

}  // namespace stagecache
