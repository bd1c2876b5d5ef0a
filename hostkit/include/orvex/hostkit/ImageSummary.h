// What one image's run found, in the one format the tool's --json and --jsonl outputs,
// the host kit and the Python module share: per stage the results over every set, and per
// set its candidate regions and line segments in source-image coordinates.
#ifndef ORVEX_HOSTKIT_IMAGESUMMARY_H
#define ORVEX_HOSTKIT_IMAGESUMMARY_H

#include <orvex/foundation/Export.h>

#include <opencv2/core.hpp>

#include <array>
#include <string>
#include <vector>

namespace orvex {
namespace hostkit {

// Four corners, in source-image coordinates.
using Quad = std::array<cv::Point2f, 4>;

// What one stage made for one image over every set.
struct StageFigures {
  int stage = 0;
  int results = 0;  // distinct results
  int holders = 0;  // node results: each distinct result once per node holding it
  int loaded = 0;   // distinct results taken from the result store instead of computed
  double computeMs = 0;
};

// One set's findings for an image.
struct SetFindings {
  std::string name;
  std::vector<Quad> regions;
  std::vector<cv::Vec4f> lineSegments;  // x1 y1 x2 y2
};

struct ImageSummary {
  std::string name;  // the input's name
  std::string imageId;
  int width = 0;
  int height = 0;
  double seconds = 0;
  std::vector<StageFigures> stages;
  std::vector<SetFindings> sets;
};

// The summary as one line of JSON (no newline): {"image", "imageId", "width", "height",
// "seconds", "stages": [{"stage", "name", "results", "holders", "loaded", "computeMs"}], "sets":
// [{"name", "regions": [[[x, y] x 4]], "lineSegments": [[x1, y1, x2, y2]]}]}, coordinates
// and times rounded to 0.01.
ORVEX_EXPORT std::string SummaryJsonLine(const ImageSummary& summary);
// The line of an input that was not processed: {"image", "skipped": reason}.
ORVEX_EXPORT std::string SkippedJsonLine(const std::string& name, const std::string& reason);

}  // namespace hostkit
}  // namespace orvex

#endif
