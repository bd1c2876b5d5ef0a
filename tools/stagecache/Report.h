// What a run reports: the summary (text or JSON) and, with an output folder, the DOT
// files of the trees and a self-contained index.html.
#ifndef ORVEX_TOOLS_STAGECACHE_REPORT_H
#define ORVEX_TOOLS_STAGECACHE_REPORT_H

#include "Batch.h"
#include "Run.h"

#include <ostream>
#include <string>
#include <vector>

namespace stagecache {

struct StageRow {
  int stage = 0;
  int nodes = 0;
  uint64_t results = 0;   // new results made
  uint64_t computed = 0;  // stage computations run
  uint64_t adopted = 0;   // results adopted from another tree
  uint64_t ownHits = 0;   // requests answered from a node's own results
  double computeMs = 0;
};

struct Summary {
  std::vector<StageRow> stages;
  std::vector<ImageView> images;
  std::vector<std::string> skipped;  // "path: reason"
  uint64_t computedTotal = 0;
  uint64_t reusedTotal = 0;
  double wallSeconds = 0;
  double librarySeconds = 0;  // time inside library calls
  double computeSeconds = 0;  // of which in the processing stages
  double peakMemoryMiB = 0;
};

// Per-stage figures from the library's statistics and the trees' node counts.
std::vector<StageRow> StageRows(const orvex::CacheStatistics& statistics, const GroupRegistry& registry);

// Share of the time inside the library not spent in the processing stages, in percent.
double LibraryOverheadPercent(const Summary& summary);
// The same time (inside the library, outside the stages) as a share of the wall time, in percent.
double WallShareOutsideStagesPercent(const Summary& summary);

void PrintText(const Summary& summary, std::ostream& out);
void PrintJson(const Summary& summary, std::ostream& out);
// One line of JSON for an input: a processed image with its per-stage figures, regions and
// line segments (in source coordinates), or a skipped input with the reason.
std::string OutcomeJsonLine(const Outcome& outcome);
// Writes a DOT file for every tree (tree-<number>-<set name, shortened>.dot) and
// index.html into `outDir`: the summary and, for each image, the overlay and each tree
// laid out by Graphviz with a card per node. Returns the files that could not be
// written, with those ProcessImage could not write.
std::vector<std::string> WriteReportFiles(const Summary& summary, const GroupRegistry& registry, const std::string& outDir);

}  // namespace stagecache

#endif
