#include "Run.h"

#include "ResultPictures.h"

#include <orvex/improc/ImageCodecs.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>

namespace stagecache {

using namespace orvex;
using Clock = std::chrono::steady_clock;

namespace {

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Writes a picture (PNG, or JPEG by the name) into the output folder; false, the path
// added to the image's unwritten files, when it could not be written.
bool WriteImage(const std::string& outDir, const std::string& file, const cv::Mat& image, ImageView& view) {
  const bool written = WriteImageFile(outDir + "/" + file, image);
  if (written) view.writtenFiles.push_back(file);
  else view.unwrittenFiles.push_back(outDir + "/" + file);
  return written;
}

// Names of the files of one image's result pictures, each written once.
class ResultFiles {
 public:
  ResultFiles(const std::string& outDir, ImageView& view) : m_outDir(outDir), m_view(view) {}

  // The file of the result's picture (written on first sight), relative to the output
  // folder; empty when it has none.
  std::string FileOf(const tav::CDataUnit& unit) {
    const std::string id = unit.GetHashId() != nullptr ? unit.GetHashId() : "";
    auto known = m_files.find(id);
    if (known != m_files.end()) return known->second;
    std::string file;
    const cv::Mat picture = id.empty() ? cv::Mat() : PictureOf(unit);
    if (!picture.empty()) {
      file = m_view.folder + "/" + std::to_string(unit.GetStageType()) + "-" + id + ".png";
      if (!WriteImage(m_outDir, file, picture, m_view)) file.clear();
    }
    m_files[id] = file;
    return file;
  }

 private:
  std::string m_outDir;
  ImageView& m_view;
  std::map<std::string, std::string> m_files;
};

// A short, portable folder name for an image: at most 40 characters of its file name,
// letters, digits, '-' and '_' only (the serial number in front keeps it unique).
std::string SafeName(const std::string& name) {
  const std::string base = std::filesystem::path(name).filename().string();
  std::string safe;
  for (char c : base) {
    if (safe.size() >= 40) break;
    safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
  }
  return safe.empty() ? "image" : safe;
}

}  // namespace

cv::Mat SourcePicture(const cv::Mat& source) {
  const double scale = std::min(1.0, static_cast<double>(kSourcePictureSide) / std::max(source.cols, source.rows));
  cv::Mat picture;
  if (scale < 1.0) cv::resize(source, picture, cv::Size(), scale, scale, cv::INTER_AREA);
  else picture = source;
  if (picture.channels() == 4) cv::cvtColor(picture, picture, cv::COLOR_BGRA2BGR);
  return picture;
}

SetView ViewOfSet(size_t set, const std::string& name, const hostkit::ImageInCache& image, const PictureFileOf& fileOf) {
  SetView view;
  view.group = set;
  view.name = name;
  for (const hostkit::NodeResults& node : image.ResultsByNode(set)) {
    NodeView nodeView;
    nodeView.id = node.node->GetGlobalHash();
    nodeView.parentId = node.node->GetParent() != nullptr ? node.node->GetParent()->GetGlobalHash() : "";
    nodeView.stage = node.stage;
    nodeView.parameters = node.node->GetSingleModeHash().substr(0, 8);
    nodeView.parameterText = node.node->GetParameterText();
    for (const DW_Base* result : node.results) {
      nodeView.resultIds.push_back(result->GetDataHashID());
      nodeView.computeMs += result->GetComputeNanoseconds() / 1e6;
      const std::string file = fileOf ? fileOf(*result) : std::string();
      if (!file.empty()) nodeView.imageFiles.push_back(file);
    }
    view.nodes.push_back(std::move(nodeView));
  }
  return view;
}

void MarkShared(std::vector<SetView>& sets) {
  std::map<std::string, std::set<size_t>> treesOfResult;
  for (size_t s = 0; s < sets.size(); ++s)
    for (const NodeView& node : sets[s].nodes)
      for (const std::string& id : node.resultIds) treesOfResult[id].insert(s);
  for (SetView& set : sets)
    for (NodeView& node : set.nodes)
      for (const std::string& id : node.resultIds) node.shared = node.shared || treesOfResult[id].size() > 1;
}

SetView ShapeOfSet(const std::string& name, const ParamTreeGroup& group, std::vector<const ParameterNodeBase*>* nodes) {
  SetView view;
  view.name = name;
  for (int stage = 1; stage <= kStageCount; ++stage) {
    for (ParameterNodeBase* node : group.GetTree()->GetAllNodesOfStage(static_cast<tav::DataUnitStageType>(stage))) {
      if (nodes != nullptr) nodes->push_back(node);
      NodeView nodeView;
      nodeView.id = node->GetGlobalHash();
      nodeView.parentId = node->GetParent() != nullptr ? node->GetParent()->GetGlobalHash() : "";
      nodeView.stage = stage;
      nodeView.parameters = node->GetSingleModeHash().substr(0, 8);
      nodeView.parameterText = node->GetParameterText();
      view.nodes.push_back(std::move(nodeView));
    }
  }
  return view;
}

int NodeCount(const hostkit::SetGroups& sets, int stage) {
  int count = 0;
  for (size_t s = 0; s < sets.Sets().size(); ++s)
    count += static_cast<int>(sets.NodeCount(s, stage));
  return count;
}

std::optional<ImageView> ProcessImage(hostkit::SetGroups& sets, size_t serial, const std::string& name,
                                      hostkit::PreparedImage image, const RunOptions& options, std::string* refused) {
  const auto start = Clock::now();
  std::unique_ptr<hostkit::ImageInCache> inCache = sets.Process(std::move(image), refused);
  if (!inCache) return std::nullopt;
  ImageView view;
  view.serial = serial;
  view.librarySeconds = SecondsSince(start);
  view.summary = inCache->Summary(name, 0.0);
  if (!options.outDir.empty()) {
    view.folder = "images/" + std::to_string(serial) + "-" + SafeName(name);
    std::error_code error;
    std::filesystem::create_directories(options.outDir + "/" + view.folder, error);
    view.sourceFile = view.folder + "/source.jpg";
    if (!WriteImage(options.outDir, view.sourceFile, SourcePicture(inCache->Pixels()), view)) view.sourceFile.clear();
    if (options.pictures) {
      view.pictures = true;
      ResultFiles files(options.outDir, view);
      const PictureFileOf fileOf = [&files](const tav::CDataUnit& unit) { return files.FileOf(unit); };
      for (size_t s = 0; s < sets.Sets().size(); ++s) view.sets.push_back(ViewOfSet(s, sets.Sets()[s].name, *inCache, fileOf));
      MarkShared(view.sets);
    }
  }
  const auto release = Clock::now();
  inCache.reset();
  view.librarySeconds += SecondsSince(release);
  view.summary.seconds = SecondsSince(start);
  return view;
}

}  // namespace stagecache
