// The one JSON format of an image's findings.
#include <orvex/hostkit/ImageSummary.h>

#include <orvex/stages/StageRow.h>

#include <nlohmann/json.hpp>

#include <cmath>

namespace orvex {
namespace hostkit {

namespace {

using Json = nlohmann::ordered_json;

double Rounded(double value) { return std::round(value * 100.0) / 100.0; }

std::string Dump(const Json& line) { return line.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

std::string SummaryJsonLine(const ImageSummary& summary) {
  Json stagesJson = Json::array();
  for (const StageFigures& figures : summary.stages) {
    stagesJson.push_back({{"stage", figures.stage},
                          {"name", stages::GetStageName(figures.stage)},
                          {"results", figures.results},
                          {"holders", figures.holders},
                          {"loaded", figures.loaded},
                          {"computeMs", Rounded(figures.computeMs)}});
  }
  Json sets = Json::array();
  for (const SetFindings& set : summary.sets) {
    Json regions = Json::array();
    for (const Quad& quad : set.regions) {
      Json corners = Json::array();
      for (const cv::Point2f& corner : quad) corners.push_back({Rounded(corner.x), Rounded(corner.y)});
      regions.push_back(corners);
    }
    Json segments = Json::array();
    for (const cv::Vec4f& s : set.lineSegments) segments.push_back({Rounded(s[0]), Rounded(s[1]), Rounded(s[2]), Rounded(s[3])});
    sets.push_back({{"name", set.name}, {"regions", regions}, {"lineSegments", segments}});
  }
  Json line = {{"image", summary.name},   {"imageId", summary.imageId},
               {"width", summary.width},  {"height", summary.height},
               {"seconds", std::round(summary.seconds * 1000.0) / 1000.0},
               {"stages", stagesJson},    {"sets", sets}};
  return Dump(line);
}

std::string SkippedJsonLine(const std::string& name, const std::string& reason) {
  return Dump(Json{{"image", name}, {"skipped", reason}});
}

}  // namespace hostkit
}  // namespace orvex
