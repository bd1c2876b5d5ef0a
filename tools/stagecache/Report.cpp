#include "Report.h"

#include "HtmlText.h"
#include "Overlays.h"
#include "TreePictures.h"

#include <orvex/hostkit/ImageSummary.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace stagecache {

using namespace orvex;

namespace {

nlohmann::json StoreJson(const StoreStatistics& s) {
  return {{"hits", s.hits},           {"misses", s.misses},     {"writes", s.writes},
          {"bytesRead", s.bytesRead}, {"bytesWritten", s.bytesWritten}, {"corrupt", s.corrupt},
          {"evictions", s.evictions}, {"writeFailures", s.writeFailures}};
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

// What the store did, as text.
std::string StoreText(const StoreStatistics& s) {
  std::ostringstream text;
  text << s.hits << " results taken from the store, " << s.misses << " not found there, " << s.writes << " written ("
       << Fixed(s.bytesRead / 1048576.0, 1) << " MiB read, " << Fixed(s.bytesWritten / 1048576.0, 1) << " MiB written), "
       << s.corrupt << " damaged entries replaced, " << s.evictions << " evicted";
  if (s.writeFailures > 0) text << "; writing failed, the run went on without it";
  return text.str();
}

std::string SummaryTable(const Summary& summary) {
  std::ostringstream html;
  html << "<table><tr><th>stage</th><th>name</th><th>nodes</th><th>results</th><th>computed</th>"
       << (summary.storeUsed ? "<th>loaded</th>" : "") << "<th>adopted</th><th>own hits</th><th>compute ms</th></tr>";
  for (const StageRow& row : summary.stages) {
    html << "<tr><td>" << row.stage << "</td><td>" << Html(GetStageName(row.stage)) << "</td><td>" << row.nodes << "</td><td>"
         << row.results << "</td><td>" << row.computed << "</td><td>";
    if (summary.storeUsed) html << row.loaded << "</td><td>";
    html << row.adopted << "</td><td>" << row.ownHits << "</td><td>" << Fixed(row.computeMs, 1) << "</td></tr>";
  }
  html << "</table>";
  return html.str();
}


const char kManifest[] = "stagecache-report.files";

// The style of every page of the report.
const char kStyle[] =
    "body{font-family:sans-serif;margin:24px;color:#222}table{border-collapse:collapse;margin:12px 0}"
    "td,th{border:1px solid #ccc;padding:3px 8px;text-align:right}td:first-child,th:first-child{text-align:left}"
    "td.name{text-align:left}"
    ".legend span{display:inline-block;width:12px;height:12px;border-radius:3px;margin:0 4px 0 12px}"
    ".tree-row{display:flex;gap:16px;align-items:flex-start;margin-bottom:16px}"
    ".tree-box{overflow:auto;max-width:calc(100% - 380px);max-height:80vh;border:1px solid #ddd;padding:4px}"
    ".tree-box svg a:hover polygon,.tree-box svg a:hover path{stroke:#000;stroke-width:2}"
    ".details{width:360px;position:sticky;top:8px;font-size:12px}.details .card{display:none}"
    ".details .card:target{display:block}.details:has(.card:target) .hint{display:none}.hint{color:#777}"
    ".card{border:1px solid #ddd;padding:8px;background:#fafafa}.card.shared{border-color:#f08c00}"
    ".card dl{margin:6px 0}.card dt{color:#777;margin-top:4px}.card dd{margin:0;word-break:break-all}"
    ".card pre{white-space:pre-wrap;margin:0;font-size:11px}"
    ".card img{max-width:160px;max-height:120px;margin:2px;border:1px solid #eee}"
    ".panels{display:flex;gap:12px;flex-wrap:wrap}.panel{flex:1;min-width:320px;max-width:900px}"
    ".panel svg{width:100%;height:auto;border:1px solid #ddd}.panel .set{display:none}"
    ".panel[data-set] .set{display:none}.controls{margin:8px 0}";

// Shows one set's overlay per panel; the second panel appears for a side-by-side view.
const char kOverlayScript[] =
    "<script>function showSet(panel,set){var p=document.getElementById(panel);"
    "p.querySelectorAll('.set').forEach(function(g){g.style.display=g.dataset.set===set?'inline':'none';});"
    "p.querySelector('.caption').textContent=set;}"
    "function sideBySide(on){document.getElementById('p2').style.display=on?'block':'none';}</script>";

// Every set's overlay, defined once for the page's panels.
std::string OverlayDefinitions(const hostkit::ImageSummary& summary) {
  std::ostringstream svg;
  svg << "<svg width=\"0\" height=\"0\" style=\"position:absolute\"><defs>";
  for (size_t s = 0; s < summary.sets.size(); ++s) svg << OverlayGroup(summary.sets[s], s);
  svg << "</defs></svg>\n";
  return svg.str();
}

// A panel showing the source with one set's overlay at a time.
std::string OverlayPanel(const ImageView& image, const std::string& id, size_t shownSet, bool hidden,
                         const std::string& sourceLink) {
  const hostkit::ImageSummary& summary = image.summary;
  std::ostringstream html;
  html << "<div class=\"panel\" id=\"" << id << "\"" << (hidden ? " style=\"display:none\"" : "") << "><div class=\"controls\">";
  for (const hostkit::SetFindings& set : summary.sets) {
    html << "<button onclick=\"showSet('" << id << "','" << Html(set.name) << "')\">" << Html(set.name) << " ("
         << set.regions.size() << " regions, " << set.lineSegments.size() << " lines)</button> ";
  }
  html << "</div><b class=\"caption\">" << Html(summary.sets.empty() ? "" : summary.sets[shownSet].name) << "</b>"
       << "<svg viewBox=\"0 0 " << summary.width << " " << summary.height << "\"><image href=\"" << Html(sourceLink)
       << "\" width=\"" << summary.width << "\" height=\"" << summary.height << "\"/>";
  for (size_t s = 0; s < summary.sets.size(); ++s) {
    html << "<use class=\"set\" data-set=\"" << Html(summary.sets[s].name) << "\" href=\"#set-" << s << "\""
         << (s == shownSet ? " style=\"display:inline\"" : "") << "/>";
  }
  html << "</svg></div>\n";
  return html.str();
}

std::string PageFileOf(const ImageView& image) { return image.folder + ".html"; }

// The page of one image: the overlays of every set, one at a time or two side by side,
// and, for the images with result pictures, each set's tree with a card per node.
std::string ImagePage(const ImageView& image, std::vector<std::unique_ptr<TreeDrawing>>& drawings) {
  const hostkit::ImageSummary& summary = image.summary;
  // The page lies beside the image's folder: its files are linked by the folder's name.
  const std::string folderName = std::filesystem::path(image.folder).filename().string();
  const std::string sourceLink = folderName + "/" + std::filesystem::path(image.sourceFile).filename().string();
  std::ostringstream html;
  html << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" << Html(summary.name) << "</title><style>"
       << kStyle << "</style>" << kOverlayScript << "</head><body>\n<p><a href=\"../index.html\">all images</a></p>\n<h1>"
       << Html(summary.name) << " (" << summary.width << " &times; " << summary.height << ")</h1>\n"
       << "<p>Candidate regions (green) and line segments (red) of one parameter set at a time; "
       << "<label><input type=\"checkbox\" onchange=\"sideBySide(this.checked)\"> two side by side</label></p>\n"
       << OverlayDefinitions(summary) << "<div class=\"panels\">" << OverlayPanel(image, "p1", 0, false, sourceLink)
       << OverlayPanel(image, "p2", summary.sets.size() > 1 ? 1 : 0, true, sourceLink) << "</div>\n";
  if (!image.pictures) {
    html << "<p>Result pictures and trees were written for the first images only (see --pictures).</p>\n";
  }
  for (size_t s = 0; image.pictures && s < image.sets.size(); ++s) {
    const SetView& set = image.sets[s];
    TreeDrawing* drawing = drawings[set.group].get();
    const std::string anchor = "s" + std::to_string(s);
    html << "<h2>Parameter set " << Html(set.name) << "</h2>\n<p class=\"legend\">" << set.nodes.size()
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
    for (size_t n = 0; n < set.nodes.size(); ++n) {
      NodeView node = set.nodes[n];
      for (std::string& file : node.imageFiles) file = folderName + file.substr(image.folder.size());
      html << NodeCard(node, anchor + "c" + std::to_string(n));
    }
    html << "</div></div>\n";
  }
  html << "</body></html>\n";
  return html.str();
}

// The front page: the summary, each set's totals, and an index of the images.
std::string IndexPage(const Summary& summary, const std::vector<ParameterSet>& sets, const std::vector<std::string>& dotFiles) {
  std::ostringstream html;
  html << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>stagecache report</title><style>" << kStyle
       << "</style></head><body>\n<h1>stagecache report</h1>\n<h2>Summary</h2>\n" << SummaryTable(summary) << "\n<p>"
       << summary.computedTotal << " results computed, "
       << (summary.storeUsed ? std::to_string(summary.loadedTotal) + " loaded from the store, " : std::string())
       << summary.reusedTotal << " reused from another tree; wall time "
       << Fixed(summary.wallSeconds, 3) << " s; peak memory " << Fixed(summary.peakMemoryMiB, 1) << " MiB.</p>\n";
  if (summary.storeUsed) html << "<p>Result store: " << Html(StoreText(summary.store)) << ".</p>\n";
  std::vector<size_t> regions(sets.size()), lines(sets.size());
  for (const ImageView& image : summary.images) {
    for (size_t s = 0; s < image.summary.sets.size() && s < sets.size(); ++s) {
      regions[s] += image.summary.sets[s].regions.size();
      lines[s] += image.summary.sets[s].lineSegments.size();
    }
  }
  html << "<h2>Parameter sets</h2>\n<table><tr><th>set</th><th>regions</th><th>line segments</th><th>tree</th></tr>";
  for (size_t s = 0; s < sets.size(); ++s) {
    html << "<tr><td>" << Html(sets[s].name) << "</td><td>" << regions[s] << "</td><td>" << lines[s] << "</td><td>";
    if (s < dotFiles.size() && !dotFiles[s].empty()) html << "<a href=\"" << Html(dotFiles[s]) << "\">" << Html(dotFiles[s]) << "</a>";
    html << "</td></tr>";
  }
  html << "</table>\n";
  for (const std::string& skipped : summary.skipped) html << "<p>Skipped: " << Html(skipped) << "</p>\n";
  html << "<h2>Images</h2>\n<table><tr><th>image</th><th>size</th>";
  for (const ParameterSet& set : sets) html << "<th>" << Html(set.name) << ": regions / lines</th>";
  html << "<th>seconds</th></tr>\n";
  for (const ImageView& image : summary.images) {
    const hostkit::ImageSummary& s = image.summary;
    html << "<tr><td class=\"name\"><a href=\"" << Html(PageFileOf(image)) << "\">" << Html(s.name) << "</a></td><td>"
         << s.width << " &times; " << s.height << "</td>";
    for (const hostkit::SetFindings& set : s.sets) html << "<td>" << set.regions.size() << " / " << set.lineSegments.size() << "</td>";
    html << "<td>" << Fixed(s.seconds, 3) << "</td></tr>\n";
  }
  html << "</table>\n</body></html>\n";
  return html.str();
}

// Writes a text file of the report; false (the path added to `unwritten`) on failure.
bool WriteText(const std::string& outDir, const std::string& file, const std::string& text,
               std::vector<std::string>& written, std::vector<std::string>& unwritten) {
  std::ofstream out(outDir + "/" + file, std::ios::binary);
  out << text;
  out.close();
  if (out) written.push_back(file);
  else unwritten.push_back(outDir + "/" + file);
  return static_cast<bool>(out);
}

}  // namespace

double LibraryOverheadPercent(const Summary& summary) {
  return summary.librarySeconds > 0 ? 100.0 * (1.0 - summary.computeSeconds / summary.librarySeconds) : 0.0;
}

double WallShareOutsideStagesPercent(const Summary& summary) {
  return summary.wallSeconds > 0 ? 100.0 * (summary.librarySeconds - summary.computeSeconds) / summary.wallSeconds : 0.0;
}

std::vector<StageRow> StageRows(const CacheStatistics& statistics, const hostkit::SetGroups& sets) {
  std::vector<StageRow> rows;
  for (int stage = 1; stage <= kStageCount; ++stage) {
    const StageStatistics& s = statistics.stages[stage];
    StageRow row;
    row.stage = stage;
    row.nodes = NodeCount(sets, stage);
    row.results = s.createdResults;
    row.computed = s.computations;
    row.loaded = s.loads;
    row.adopted = s.adoptedResults;
    row.ownHits = s.ownResults;
    row.computeMs = s.computeNanoseconds / 1e6;
    rows.push_back(row);
  }
  return rows;
}

void PrintText(const Summary& summary, std::ostream& out) {
  out << std::left << std::setw(44) << "stage" << std::right << std::setw(7) << "nodes" << std::setw(9) << "results"
      << std::setw(10) << "computed";
  if (summary.storeUsed) out << std::setw(8) << "loaded";
  out << std::setw(9) << "adopted" << std::setw(12) << "compute ms" << "\n";
  for (const StageRow& row : summary.stages) {
    out << std::right << std::setw(2) << row.stage << " " << std::left << std::setw(41) << GetStageName(row.stage) << std::right
        << std::setw(7) << row.nodes << std::setw(9) << row.results << std::setw(10) << row.computed;
    if (summary.storeUsed) out << std::setw(8) << row.loaded;
    out << std::setw(9) << row.adopted << std::setw(12) << Fixed(row.computeMs, 1) << "\n";
  }
  out << "\nnodes: the stage's nodes over every set's tree; results: new results made; computed: stage\n"
         "computations run; "
      << (summary.storeUsed ? "loaded: results taken from the store instead of computed; " : "")
      << "adopted: results a tree took over from another tree instead of computing\n"
         "them; compute ms: time in the stage's computations, summed over the --jobs threads.\n";
  for (size_t s = 0; s < summary.setNames.size(); ++s) {
    size_t regions = 0, lines = 0;
    for (const ImageView& image : summary.images) {
      regions += image.summary.sets[s].regions.size();
      lines += image.summary.sets[s].lineSegments.size();
    }
    out << "\nset " << summary.setNames[s] << ": " << regions << " candidate regions, " << lines << " line segments";
  }
  if (summary.storeUsed) out << "\n\nstore: " << StoreText(summary.store);
  out << "\n\nimages: " << summary.images.size() << " processed, " << summary.skipped.size() << " skipped\n"
      << "results: " << summary.computedTotal << " computed, "
      << (summary.storeUsed ? std::to_string(summary.loadedTotal) + " loaded from the store, " : std::string())
      << summary.reusedTotal << " reused from another tree\n"
      << "wall time: " << Fixed(summary.wallSeconds, 3) << " s; in the library (summed over threads): "
      << Fixed(summary.librarySeconds, 3) << " s, of which " << Fixed(LibraryOverheadPercent(summary), 1)
      << "% outside the processing stages (" << Fixed(WallShareOutsideStagesPercent(summary), 1)
      << "% of the wall time); peak memory: " << Fixed(summary.peakMemoryMiB, 1) << " MiB\n";
}

void PrintJson(const Summary& summary, std::ostream& out) {
  nlohmann::json stages = nlohmann::json::array();
  for (const StageRow& row : summary.stages) {
    stages.push_back({{"stage", row.stage},
                      {"name", GetStageName(row.stage)},
                      {"nodes", row.nodes},
                      {"results", row.results},
                      {"computed", row.computed},
                      {"loaded", row.loaded},
                      {"adopted", row.adopted},
                      {"ownHits", row.ownHits},
                      {"computeMs", row.computeMs}});
  }
  nlohmann::json images = nlohmann::json::array();
  for (const ImageView& image : summary.images) {
    images.push_back(nlohmann::json::parse(hostkit::SummaryJsonLine(image.summary)));
  }
  nlohmann::json document = {
      {"sets", summary.setNames},
      {"stages", stages},
      {"images", images},
      {"skipped", summary.skipped},
      {"totals",
       {{"computed", summary.computedTotal},
        {"loaded", summary.loadedTotal},
        {"reused", summary.reusedTotal},
        {"wallSeconds", summary.wallSeconds},
        {"librarySeconds", summary.librarySeconds},
        {"libraryOverheadPercent", LibraryOverheadPercent(summary)},
        {"libraryOverheadPercentOfWall", WallShareOutsideStagesPercent(summary)},
        {"computeSeconds", summary.computeSeconds},
        {"peakMemoryMiB", summary.peakMemoryMiB}}}};
  if (summary.storeUsed) document["store"] = StoreJson(summary.store);
  // File names need not be UTF-8: invalid bytes are written as U+FFFD.
  out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

std::string OutcomeJsonLine(const Outcome& outcome, const ResultStore* store) {
  std::string line = outcome.processed ? hostkit::SummaryJsonLine(outcome.view.summary)
                                       : hostkit::SkippedJsonLine(outcome.name, outcome.skipReason);
  if (store == nullptr) return line;
  line.pop_back();  // the closing brace: the store's figures join the line
  return line + ",\"store\":" + StoreJson(store->Statistics()).dump() + "}";
}

void ClearEarlierReport(const std::string& outDir) {
  std::ifstream manifest(outDir + "/" + kManifest);
  std::string file;
  std::set<std::filesystem::path> folders;
  while (std::getline(manifest, file)) {
    // Only files of the report itself, by the names it gives them.
    if (file.empty() || file.find("..") != std::string::npos || file[0] == '/') continue;
    std::error_code error;
    std::filesystem::remove(std::filesystem::path(outDir) / file, error);
    for (std::filesystem::path folder = std::filesystem::path(file).parent_path(); !folder.empty(); folder = folder.parent_path())
      folders.insert(folder);
  }
  // Deepest first: a folder goes once its files are gone, and only when empty.
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
    std::error_code error;
    std::filesystem::remove(std::filesystem::path(outDir) / *folder, error);
  }
  std::error_code error;
  std::filesystem::remove(std::filesystem::path(outDir) / kManifest, error);
}

std::vector<std::string> WriteReportFiles(const Summary& summary, const hostkit::SetGroups& sets, const std::string& outDir) {
  std::vector<std::string> unwritten;
  std::vector<std::string> written;
  for (const ImageView& image : summary.images) {
    unwritten.insert(unwritten.end(), image.unwrittenFiles.begin(), image.unwrittenFiles.end());
    written.insert(written.end(), image.writtenFiles.begin(), image.writtenFiles.end());
  }
  std::vector<std::string> dotFiles(sets.Sets().size());
  std::vector<std::unique_ptr<TreeDrawing>> drawings(sets.Sets().size());
  bool anyPictures = false;
  for (const ImageView& image : summary.images) anyPictures = anyPictures || image.pictures;
  for (size_t g = 0; g < sets.Sets().size(); ++g) {
    const SetView shape = ShapeOfSet(sets.Sets()[g].name, sets.Group(g));
    const std::string dot = NodeDot(shape);
    const std::string file = DotFileName(g, shape.name);
    if (WriteText(outDir, file, dot, written, unwritten)) dotFiles[g] = file;
    if (anyPictures) drawings[g] = std::make_unique<TreeDrawing>(TreeDot(shape));
  }
  for (const ImageView& image : summary.images) {
    if (image.folder.empty()) continue;
    WriteText(outDir, PageFileOf(image), ImagePage(image, drawings), written, unwritten);
  }
  WriteText(outDir, "index.html", IndexPage(summary, sets.Sets(), dotFiles), written, unwritten);
  std::ostringstream manifest;
  for (const std::string& file : written) manifest << file << "\n";
  std::ofstream(outDir + "/" + kManifest, std::ios::binary) << manifest.str();
  return unwritten;
}

}  // namespace stagecache
