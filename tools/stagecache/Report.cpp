#include "Report.h"

#include "TreeDrawing.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace stagecache {

using namespace orvex;

namespace {

std::string Html(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

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

// A file name for a set's DOT file: its number keeps it unique, and at most 40
// characters of the name, letters, digits, '-' and '_' only, keep it short and portable.
std::string DotFileName(size_t number, const std::string& setName) {
  std::string file = "tree-" + std::to_string(number + 1) + "-";
  for (char c : setName) {
    if (file.size() >= 46) break;
    file += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '_';
  }
  return file + ".dot";
}

std::string Fixed(double value, int digits) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(digits) << value;
  return out.str();
}

// Trees of more nodes are drawn by stage: one box per stage with its number of nodes.
constexpr size_t kMostNodesDrawn = 300;
// Images after this many get their overlay in the page, not their trees and cards.
constexpr size_t kMostImagesDetailed = 50;

const char kOwnColour[] = "#2f6fd0";
const char kSharedColour[] = "#f08c00";
const char kIdleColour[] = "#e4e4e4";

std::string NodeName(size_t index) { return "n" + std::to_string(index); }
std::string StageNodeName(int stage) { return "s" + std::to_string(stage); }

// The DOT text of a set's tree: one box per node, named by its place in the set's list of
// nodes, labelled with its stage and the short id of its parameters.
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

// The stage-level summary of a tree too large to draw node by node.
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

// The node's index from its DOT name, or -1.
long IndexOfName(const std::string& name, char prefix) {
  if (name.size() < 2 || name[0] != prefix) return -1;
  return std::strtol(name.c_str() + 1, nullptr, 10);
}

// One set's tree for one image: nodes coloured by whether they hold a result and share
// it with another tree, each linked to its card.
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

// The card of one node: what a click on it shows.
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

std::string SummaryTable(const Summary& summary) {
  std::ostringstream html;
  html << "<table><tr><th>stage</th><th>name</th><th>nodes</th><th>results</th><th>computed</th><th>adopted</th>"
          "<th>own hits</th><th>compute ms</th></tr>";
  for (const StageRow& row : summary.stages) {
    html << "<tr><td>" << row.stage << "</td><td>" << Html(GetStageName(row.stage)) << "</td><td>" << row.nodes << "</td><td>"
         << row.results << "</td><td>" << row.computed << "</td><td>" << row.adopted << "</td><td>" << row.ownHits
         << "</td><td>" << Fixed(row.computeMs, 1) << "</td></tr>";
  }
  html << "</table>";
  return html.str();
}

}  // namespace

double LibraryOverheadPercent(const Summary& summary) {
  return summary.librarySeconds > 0 ? 100.0 * (1.0 - summary.computeSeconds / summary.librarySeconds) : 0.0;
}

double WallShareOutsideStagesPercent(const Summary& summary) {
  return summary.wallSeconds > 0 ? 100.0 * (summary.librarySeconds - summary.computeSeconds) / summary.wallSeconds : 0.0;
}

std::vector<StageRow> StageRows(const CacheStatistics& statistics, const GroupRegistry& registry) {
  std::vector<StageRow> rows;
  for (int stage = 1; stage <= kStageCount; ++stage) {
    const StageStatistics& s = statistics.stages[stage];
    StageRow row;
    row.stage = stage;
    row.nodes = registry.NodeCount(stage);
    row.results = s.createdResults;
    row.computed = s.computations;
    row.adopted = s.adoptedResults;
    row.ownHits = s.ownResults;
    row.computeMs = s.computeNanoseconds / 1e6;
    rows.push_back(row);
  }
  return rows;
}

void PrintText(const Summary& summary, std::ostream& out) {
  out << std::left << std::setw(44) << "stage" << std::right << std::setw(7) << "nodes" << std::setw(9) << "results"
      << std::setw(10) << "computed" << std::setw(9) << "adopted" << std::setw(12) << "compute ms" << "\n";
  for (const StageRow& row : summary.stages) {
    out << std::right << std::setw(2) << row.stage << " " << std::left << std::setw(41) << GetStageName(row.stage) << std::right
        << std::setw(7) << row.nodes << std::setw(9) << row.results << std::setw(10) << row.computed << std::setw(9)
        << row.adopted << std::setw(12) << Fixed(row.computeMs, 1) << "\n";
  }
  out << "\nimages: " << summary.images.size() << " processed, " << summary.skipped.size() << " skipped\n"
      << "results: " << summary.computedTotal << " computed, " << summary.reusedTotal << " reused from another tree\n"
      << "wall time: " << Fixed(summary.wallSeconds, 3) << " s; in the library: " << Fixed(summary.librarySeconds, 3)
      << " s, of which " << Fixed(LibraryOverheadPercent(summary), 1) << "% outside the processing stages ("
      << Fixed(WallShareOutsideStagesPercent(summary), 1) << "% of the wall time); peak memory: "
      << Fixed(summary.peakMemoryMiB, 1) << " MiB\n";
}

void PrintJson(const Summary& summary, std::ostream& out) {
  nlohmann::json stages = nlohmann::json::array();
  for (const StageRow& row : summary.stages) {
    stages.push_back({{"stage", row.stage},
                      {"name", GetStageName(row.stage)},
                      {"nodes", row.nodes},
                      {"results", row.results},
                      {"computed", row.computed},
                      {"adopted", row.adopted},
                      {"ownHits", row.ownHits},
                      {"computeMs", row.computeMs}});
  }
  nlohmann::json images = nlohmann::json::array();
  for (const ImageView& image : summary.images) {
    images.push_back({{"name", image.name},
                      {"width", image.width},
                      {"height", image.height},
                      {"regions", image.regions.size()},
                      {"lineSegments", image.lineSegments.size()},
                      {"seconds", image.seconds}});
  }
  const nlohmann::json document = {
      {"stages", stages},
      {"images", images},
      {"skipped", summary.skipped},
      {"totals",
       {{"computed", summary.computedTotal},
        {"reused", summary.reusedTotal},
        {"wallSeconds", summary.wallSeconds},
        {"librarySeconds", summary.librarySeconds},
        {"libraryOverheadPercent", LibraryOverheadPercent(summary)},
        {"libraryOverheadPercentOfWall", WallShareOutsideStagesPercent(summary)},
        {"computeSeconds", summary.computeSeconds},
        {"peakMemoryMiB", summary.peakMemoryMiB}}}};
  // File names need not be UTF-8: invalid bytes are written as U+FFFD.
  out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

namespace {

// Coordinates to a hundredth of a pixel keep the lines short.
double Rounded(double value) { return std::round(value * 100.0) / 100.0; }

}  // namespace

std::string OutcomeJsonLine(const Outcome& outcome) {
  nlohmann::ordered_json line = {{"image", outcome.name}};
  if (!outcome.processed) {
    line["skipped"] = outcome.skipReason;
  } else {
    const ImageView& image = outcome.view;
    nlohmann::ordered_json stages = nlohmann::ordered_json::array();
    for (const ImageStageFigures& figures : image.stages) {
      stages.push_back({{"stage", figures.stage},
                        {"name", GetStageName(figures.stage)},
                        {"results", figures.results},
                        {"holders", figures.holders},
                        {"computeMs", Rounded(figures.computeMs)}});
    }
    nlohmann::ordered_json regions = nlohmann::ordered_json::array();
    for (const Quad& quad : image.regions) {
      nlohmann::ordered_json corners = nlohmann::ordered_json::array();
      for (const cv::Point2f& corner : quad) corners.push_back({Rounded(corner.x), Rounded(corner.y)});
      regions.push_back(corners);
    }
    nlohmann::ordered_json segments = nlohmann::ordered_json::array();
    for (const cv::Vec4f& s : image.lineSegments)
      segments.push_back({Rounded(s[0]), Rounded(s[1]), Rounded(s[2]), Rounded(s[3])});
    line["imageId"] = image.imageId;
    line["width"] = image.width;
    line["height"] = image.height;
    line["seconds"] = std::round(image.seconds * 1000.0) / 1000.0;
    line["stages"] = stages;
    line["regions"] = regions;
    line["lineSegments"] = segments;
  }
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::vector<std::string> WriteReportFiles(const Summary& summary, const GroupRegistry& registry, const std::string& outDir) {
  std::vector<std::string> unwritten;
  for (const ImageView& image : summary.images) unwritten.insert(unwritten.end(), image.unwrittenFiles.begin(), image.unwrittenFiles.end());
  std::vector<std::string> dotFiles;
  std::vector<SetView> shapes(registry.Sets().size());
  std::vector<std::unique_ptr<TreeDrawing>> drawings(registry.Sets().size());
  for (size_t g = 0; g < registry.Sets().size(); ++g) {
    if (!registry.Groups()[g]) continue;
    shapes[g] = ShapeOfSet(registry.Sets()[g].name, *registry.Groups()[g]);
    const std::string dot = NodeDot(shapes[g]);
    const std::string file = DotFileName(g, shapes[g].name);
    std::ofstream out(outDir + "/" + file);
    out << dot;
    out.close();
    if (out) dotFiles.push_back(file);
    else unwritten.push_back(outDir + "/" + file);
    drawings[g] = std::make_unique<TreeDrawing>(DrawnByStage(shapes[g]) ? StageDot(shapes[g]) : dot);
  }

  std::ofstream html(outDir + "/index.html");
  html << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>stagecache report</title><style>"
          "body{font-family:sans-serif;margin:24px;color:#222}table{border-collapse:collapse;margin:12px 0}"
          "td,th{border:1px solid #ccc;padding:3px 8px;text-align:right}td:nth-child(2){text-align:left}"
          ".legend span{display:inline-block;width:12px;height:12px;border-radius:3px;margin:0 4px 0 12px}"
          ".tree-row{display:flex;gap:16px;align-items:flex-start;margin-bottom:16px}"
          ".tree-box{overflow:auto;max-width:calc(100% - 380px);max-height:80vh;border:1px solid #ddd;padding:4px}"
          ".tree-box svg a:hover polygon,.tree-box svg a:hover path{stroke:#000;stroke-width:2}"
          ".details{width:360px;position:sticky;top:8px;font-size:12px}.details .card{display:none}"
          ".details .card:target{display:block}.details:has(.card:target) .hint{display:none}.hint{color:#777}"
          ".card{border:1px solid #ddd;padding:8px;background:#fafafa}.card.shared{border-color:" << kSharedColour << "}"
          ".card dl{margin:6px 0}.card dt{color:#777;margin-top:4px}.card dd{margin:0;word-break:break-all}"
          ".card pre{white-space:pre-wrap;margin:0;font-size:11px}"
          ".card img{max-width:160px;max-height:120px;margin:2px;border:1px solid #eee}"
          ".overlay{max-width:900px;width:100%}</style></head><body>\n";
  html << "<h1>stagecache report</h1>\n<h2>Summary</h2>\n" << SummaryTable(summary) << "\n<p>"
       << summary.computedTotal << " results computed, " << summary.reusedTotal << " reused from another tree; wall time "
       << Fixed(summary.wallSeconds, 3) << " s; peak memory " << Fixed(summary.peakMemoryMiB, 1) << " MiB.</p>\n";
  html << "<p>Parameter trees as DOT files:";
  for (const std::string& file : dotFiles) html << " <a href=\"" << Html(file) << "\">" << Html(file) << "</a>";
  html << "</p>\n";
  for (const std::string& skipped : summary.skipped) html << "<p>Skipped: " << Html(skipped) << "</p>\n";
  for (size_t i = 0; i < summary.images.size(); ++i) {
    const ImageView& image = summary.images[i];
    html << "<h2>" << Html(image.name) << " (" << image.width << " &times; " << image.height << ")</h2>\n<p>"
         << image.regions.size() << " candidate regions (green) and " << image.lineSegments.size()
         << " line segments (red) on the source:</p>\n<img class=\"overlay\" src=\"" << Html(image.overlayFile)
         << "\" alt=\"regions and line segments\">\n";
    if (i == kMostImagesDetailed) {
      html << "<p>The trees of this image and the ones after it are left out to keep the page light.</p>\n";
    }
    if (i >= kMostImagesDetailed) continue;
    for (size_t s = 0; s < image.sets.size(); ++s) {
      const SetView& set = image.sets[s];
      TreeDrawing* drawing = drawings[set.group].get();
      const std::string anchor = "i" + std::to_string(i) + "s" + std::to_string(s);
      html << "<h3>Parameter set " << Html(set.name) << "</h3>\n<p class=\"legend\">" << set.nodes.size()
           << " nodes:<span style=\"background:" << kOwnColour << "\"></span>own result<span style=\"background:"
           << kSharedColour << "\"></span>result shared with another tree<span style=\"background:" << kIdleColour
           << "\"></span>no result</p>\n";
      if (drawing == nullptr || !drawing->Valid()) {
        html << "<p>Graphviz could not lay out this tree; see its DOT file.</p>\n";
        continue;
      }
      if (DrawnByStage(set)) {
        html << "<p>This tree has " << set.nodes.size() << " nodes, too many to draw legibly: each box is one stage"
             << " with the number of its nodes.</p>\n<div class=\"tree-row\"><div class=\"tree-box\">"
             << TreeSvg(*drawing, set, anchor) << "</div></div>\n";
        continue;
      }
      html << "<div class=\"tree-row\"><div class=\"tree-box\">" << TreeSvg(*drawing, set, anchor)
           << "</div>\n<div class=\"details\"><p class=\"hint\">Click a node to see its id, its parameters, its"
              " results and their compute time.</p>\n";
      for (size_t n = 0; n < set.nodes.size(); ++n) html << NodeCard(set.nodes[n], anchor + "c" + std::to_string(n));
      html << "</div></div>\n";
    }
  }
  html << "</body></html>\n";
  html.close();
  if (!html) unwritten.push_back(outDir + "/index.html");
  return unwritten;
}

}  // namespace stagecache
