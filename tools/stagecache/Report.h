// What a run reports: the summary (text or JSON), one JSON line per image, and, with an
// output folder, a report that works from the file system: index.html (the summary, each
// set's totals and an index of the images), a page per image with every set's overlay
// (one at a time or two side by side), trees and result pictures for the first images,
// and the DOT files of the trees.
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
  uint64_t loaded = 0;    // results taken from the store instead of computed
  uint64_t adopted = 0;   // results adopted from another tree
  uint64_t ownHits = 0;   // requests answered from a node's own results
  double computeMs = 0;
};

struct Summary {
  std::vector<std::string> setNames;
  std::vector<StageRow> stages;
  std::vector<ImageView> images;
  std::vector<std::string> skipped;  // "path: reason"
  uint64_t computedTotal = 0;
  uint64_t loadedTotal = 0;
  uint64_t reusedTotal = 0;
  double wallSeconds = 0;
  double librarySeconds = 0;  // time inside library calls
  double computeSeconds = 0;  // of which in the processing stages
  double peakMemoryMiB = 0;
  bool storeUsed = false;     // with --store: what the store did
  orvex::StoreStatistics store;
};

// Per-stage figures from the library's statistics and the trees' node counts.
std::vector<StageRow> StageRows(const orvex::CacheStatistics& statistics, const orvex::hostkit::SetGroups& sets);

// Share of the time inside the library not spent in the processing stages, in percent.
double LibraryOverheadPercent(const Summary& summary);
// The same time (inside the library, outside the stages) as a share of the wall time, in percent.
double WallShareOutsideStagesPercent(const Summary& summary);

void PrintText(const Summary& summary, std::ostream& out);
void PrintJson(const Summary& summary, std::ostream& out);
// One line of JSON for an input: a processed image (orvex::hostkit::SummaryJsonLine) or a
// skipped input with the reason.
// With a store, the line says what the store did so far ("store").
std::string OutcomeJsonLine(const Outcome& outcome, const orvex::ResultStore* store);
// Removes the files an earlier report in `outDir` wrote (as its list of files names them),
// so that a run into the same folder leaves no stale files; other files stay.
void ClearEarlierReport(const std::string& outDir);
// Writes a DOT file for every tree (tree-<number>-<set name, shortened>.dot), a page per
// image and index.html into `outDir`, and the list of every file the report wrote.
// Returns the files that could not be written, with those ProcessImage could not write.
std::vector<std::string> WriteReportFiles(const Summary& summary, const orvex::hostkit::SetGroups& sets,
                                          const std::string& outDir);

}  // namespace stagecache

#endif
