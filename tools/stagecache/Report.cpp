#include "Report.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <iomanip>
#include <map>
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

// The tree of one set as an SVG picture: one column per stage, one row per node of that
// stage, parents joined to children; nodes whose result another tree shares are orange.
std::string TreePicture(const SetView& set, const std::string& anchorPrefix) {
  const int columnWidth = 58, rowHeight = 18, margin = 24;
  std::map<std::string, std::pair<int, int>> position;
  std::map<int, int> rowsOfStage;
  int height = 0;
  for (const NodeView& node : set.nodes) {
    const int row = rowsOfStage[node.stage]++;
    position[node.id] = {margin + (node.stage - 1) * columnWidth, margin + row * rowHeight};
    height = std::max(height, margin * 2 + (row + 1) * rowHeight);
  }
  std::ostringstream svg;
  svg << "<svg class=\"tree\" width=\"" << margin * 2 + (kStageCount - 1) * columnWidth + 10 << "\" height=\"" << height + 20
      << "\" xmlns=\"http://www.w3.org/2000/svg\">";
  for (int stage = 1; stage <= kStageCount; ++stage) {
    svg << "<text x=\"" << margin + (stage - 1) * columnWidth << "\" y=\"14\" class=\"stage\">" << stage << "</text>";
  }
  for (const NodeView& node : set.nodes) {
    auto parent = position.find(node.parentId);
    if (node.parentId.empty() || parent == position.end()) continue;
    const auto& at = position[node.id];
    svg << "<line x1=\"" << parent->second.first << "\" y1=\"" << parent->second.second << "\" x2=\"" << at.first
        << "\" y2=\"" << at.second << "\"/>";
  }
  for (size_t i = 0; i < set.nodes.size(); ++i) {
    const NodeView& node = set.nodes[i];
    const auto& at = position[node.id];
    svg << "<a href=\"#" << anchorPrefix << i << "\"><circle cx=\"" << at.first << "\" cy=\"" << at.second
        << "\" r=\"6\" class=\"" << (node.shared ? "shared" : node.resultIds.empty() ? "idle" : "own") << "\"><title>"
        << node.stage << " " << Html(GetStageName(node.stage)) << "\n" << Html(node.id) << "\n" << node.resultIds.size()
        << " result(s)" << (node.shared ? ", shared with another tree" : "") << "</title></circle></a>";
  }
  svg << "</svg>";
  return svg.str();
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
                      {"regions", image.regions},
                      {"lineSegments", image.lineSegments},
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

std::vector<std::string> WriteReportFiles(const Summary& summary, const GroupRegistry& registry, const std::string& outDir) {
  std::vector<std::string> unwritten;
  for (const ImageView& image : summary.images) unwritten.insert(unwritten.end(), image.unwrittenFiles.begin(), image.unwrittenFiles.end());
  std::vector<std::string> dotFiles;
  for (size_t g = 0; g < registry.Sets().size(); ++g) {
    const std::string name = registry.Sets()[g].name;
    const std::string file = DotFileName(g, name);
    std::ofstream dot(outDir + "/" + file);
    dot << "digraph \"" << Dot(name) << "\" {\n  rankdir=LR;\n  node [shape=box, fontsize=10];\n";
    for (int stage = 1; stage <= kStageCount; ++stage) {
      for (const ParameterNodeBase* node :
           registry.Groups()[g]->GetTree()->GetAllNodesOfStage(static_cast<tav::DataUnitStageType>(stage))) {
        dot << "  \"" << node->GetGlobalHash() << "\" [label=\"" << stage << " " << GetStageName(stage) << "\\n"
            << node->GetSingleModeHash().substr(0, 8) << "\"];\n";
        if (node->GetParent() != nullptr)
          dot << "  \"" << node->GetParent()->GetGlobalHash() << "\" -> \"" << node->GetGlobalHash() << "\";\n";
      }
    }
    dot << "}\n";
    dot.close();
    if (dot) dotFiles.push_back(file);
    else unwritten.push_back(outDir + "/" + file);
  }

  std::ofstream html(outDir + "/index.html");
  html << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>stagecache report</title><style>"
          "body{font-family:sans-serif;margin:24px;color:#222}table{border-collapse:collapse;margin:12px 0}"
          "td,th{border:1px solid #ccc;padding:3px 8px;text-align:right}td:nth-child(2){text-align:left}"
          "svg.tree line{stroke:#999;stroke-width:1}svg.tree circle.own{fill:#2f6fd0}svg.tree circle.shared{fill:#f08c00}"
          "svg.tree circle.idle{fill:#ddd}svg.tree text.stage{font-size:10px;fill:#666}"
          ".legend span{display:inline-block;width:12px;height:12px;border-radius:6px;margin:0 4px 0 12px}"
          ".cards{display:flex;flex-wrap:wrap;gap:8px}.card{border:1px solid #ddd;padding:6px;font-size:11px;max-width:260px}"
          ".card.shared{border-color:#f08c00}.card img{max-width:120px;max-height:90px;margin:2px;border:1px solid #eee}"
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
         << image.regions << " candidate regions (green) and " << image.lineSegments
         << " line segments (red) on the source:</p>\n<img class=\"overlay\" src=\"" << Html(image.overlayFile)
         << "\" alt=\"regions and line segments\">\n";
    for (size_t s = 0; s < image.sets.size(); ++s) {
      const SetView& set = image.sets[s];
      const std::string anchor = "i" + std::to_string(i) + "s" + std::to_string(s) + "n";
      html << "<h3>Parameter set " << Html(set.name) << "</h3>\n<p class=\"legend\">nodes by stage:<span style=\"background:#2f6fd0\">"
           << "</span>own result<span style=\"background:#f08c00\"></span>result shared with another tree"
           << "<span style=\"background:#ddd\"></span>no result</p>\n"
           << TreePicture(set, anchor) << "\n<div class=\"cards\">\n";
      for (size_t n = 0; n < set.nodes.size(); ++n) {
        const NodeView& node = set.nodes[n];
        if (node.resultIds.empty()) continue;
        html << "<div class=\"card" << (node.shared ? " shared" : "") << "\" id=\"" << anchor << n << "\"><b>" << node.stage
             << " " << Html(GetStageName(node.stage)) << "</b><br>" << node.resultIds.size() << " result(s)"
             << (node.shared ? ", shared" : "") << "<br>";
        for (const std::string& file : node.imageFiles) html << "<img src=\"" << Html(file) << "\" alt=\"result\">";
        html << "</div>\n";
      }
      html << "</div>\n";
    }
  }
  html << "</body></html>\n";
  html.close();
  if (!html) unwritten.push_back(outDir + "/index.html");
  return unwritten;
}

}  // namespace stagecache
