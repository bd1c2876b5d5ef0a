#include "Run.h"

#include "ResultPictures.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <set>

namespace stagecache {

using namespace orvex;

namespace {

// The host's registration callback: the group of the set's tree with its region parts.
QZRef<ParamTreeGroup> RegisterGroup(void* host, QZParameterTreeLoader* loader, const char* name) {
  return loader->BuildTreeGroup(name, &static_cast<ParameterSet*>(host)->parameters);
}

QZParameterTreeLoader* Loader() { return QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader(); }

cv::Point2f Map(const cv::Mat& transform, const cv::Point2f& p) {
  const double w = transform.at<double>(2, 0) * p.x + transform.at<double>(2, 1) * p.y + transform.at<double>(2, 2);
  return cv::Point2f(static_cast<float>((transform.at<double>(0, 0) * p.x + transform.at<double>(0, 1) * p.y +
                                         transform.at<double>(0, 2)) / w),
                     static_cast<float>((transform.at<double>(1, 0) * p.x + transform.at<double>(1, 1) * p.y +
                                         transform.at<double>(1, 2)) / w));
}

void GenerateLines(ParamTreeGroup& group, const std::vector<std::string>& regionIds) {
  const std::vector<ParameterNodeBase*> lineNodes = group.GetTree()->GetAllNodesOfStage(tav::DUST_LINE_SEGMENTS);
  for (ParameterNodeBase* node : lineNodes) {
    for (const std::string& region : regionIds) {
      if (QZRef<DW_LineSegments> lines = static_cast<PN_LineSegments*>(node)->GetData(region, true, true)) lines->GetData(true);
    }
  }
}

// Writes a PNG; false, the path added to `unwritten`, when it could not be written.
bool WriteImage(const std::string& path, const cv::Mat& image, std::vector<std::string>* unwritten) {
  bool written = false;
  try {
    written = cv::imwrite(path, image, {cv::IMWRITE_PNG_COMPRESSION, 1});
  } catch (const cv::Exception&) {
    written = false;
  }
  if (!written) unwritten->push_back(path);
  return written;
}

// Names of the files of one image's result pictures, each written once.
class ResultFiles {
 public:
  ResultFiles(const std::string& outDir, const std::string& imageDir, std::vector<std::string>* unwritten)
      : m_outDir(outDir), m_imageDir(imageDir), m_unwritten(unwritten) {}

  // The file of the result's picture (written on first sight), relative to the output
  // folder; empty when it has none.
  std::string FileOf(const tav::CDataUnit& unit) {
    const std::string id = unit.GetHashId() != nullptr ? unit.GetHashId() : "";
    auto known = m_files.find(id);
    if (known != m_files.end()) return known->second;
    std::string file;
    const cv::Mat picture = id.empty() ? cv::Mat() : PictureOf(unit);
    if (!picture.empty()) {
      file = m_imageDir + "/" + std::to_string(unit.GetStageType()) + "-" + id + ".png";
      if (!WriteImage(m_outDir + "/" + file, picture, m_unwritten)) file.clear();
    }
    m_files[id] = file;
    return file;
  }

 private:
  std::string m_outDir;
  std::string m_imageDir;
  std::vector<std::string>* m_unwritten;
  std::map<std::string, std::string> m_files;
};

// The nodes of one tree with their results for the image; the compute time of every
// result goes to `resultMs`.
SetView ViewOfSet(const std::string& name, ParamTreeGroup& group, const std::string& imageId, ResultFiles* files,
                  std::map<std::string, double>& resultMs) {
  std::vector<const ParameterNodeBase*> nodes;
  SetView view = ShapeOfSet(name, group, &nodes);
  for (size_t n = 0; n < nodes.size(); ++n) {
    NodeView& nodeView = view.nodes[n];
    tav::CDataUnitArray units;
    nodes[n]->GetDataUnits(imageId.c_str(), &units);
    for (int i = 0; i < units.GetCount(); ++i) {
      const tav::CDataUnit* unit = units.GetDataUnit(i);
      const std::string id = unit->GetHashId() != nullptr ? unit->GetHashId() : "";
      nodeView.resultIds.push_back(id);
      const auto* wrap = dynamic_cast<const DW_Base*>(unit);
      const double ms = wrap != nullptr ? wrap->GetComputeNanoseconds() / 1e6 : 0.0;
      resultMs[id] = ms;
      nodeView.computeMs += ms;
      if (files != nullptr) {
        const std::string file = files->FileOf(*unit);
        if (!file.empty()) nodeView.imageFiles.push_back(file);
      }
    }
  }
  return view;
}

// The candidate regions and line segments of every tree, each distinct result once, in
// source-image coordinates.
void CollectRegionsAndLines(std::vector<QZRef<ParamTreeGroup>>& groups, const std::string& imageId, ImageView& view) {
  std::set<std::string> seen;
  for (QZRef<ParamTreeGroup>& group : groups) {
    if (!group) continue;
    for (ParameterNodeBase* node : group->GetTree()->GetAllNodesOfStage(tav::DUST_CANDIDATE_ROIS)) {
      QZRef<DW_CandidateROIs> candidates = static_cast<PN_CandidateROIs*>(node)->GetData(imageId, false, false);
      if (!candidates || candidates->GetData(false) == nullptr || !seen.insert(candidates->GetDataHashID()).second) continue;
      QZRef<QZQuadList> quads = candidates->GetData(false)->GetPrimaryData(false);
      const cv::Mat toSource = candidates->GetTransMatInvertToSourceImage()->GetMat();
      for (const QZ_Quad& quad : quads ? quads->quads : std::vector<QZ_Quad>()) {
        Quad corners;
        for (int i = 0; i < 4; ++i) corners[i] = Map(toSource, quad.GetPoint(i));
        view.regions.push_back(corners);
      }
    }
    for (ParameterNodeBase* node : group->GetTree()->GetAllNodesOfStage(tav::DUST_LINE_SEGMENTS)) {
      tav::CDataUnitArray units;
      node->GetDataUnits(imageId.c_str(), &units);
      for (int i = 0; i < units.GetCount(); ++i) {
        auto* wrap = dynamic_cast<DW_LineSegments*>(const_cast<tav::CDataUnit*>(units.GetDataUnit(i)));
        if (wrap == nullptr || !seen.insert(wrap->GetDataHashID()).second || wrap->GetData(false) == nullptr) continue;
        QZRef<LineSegmentSet> lines = wrap->GetData(false)->GetPrimaryData(false);
        if (!lines || !lines->toSourceImage) continue;
        const cv::Mat& toSource = lines->toSourceImage->GetMat();
        for (const cv::Vec4f& s : lines->segments) {
          const cv::Point2f a = Map(toSource, {s[0], s[1]}), b = Map(toSource, {s[2], s[3]});
          view.lineSegments.emplace_back(a.x, a.y, b.x, b.y);
        }
      }
    }
  }
}

// The regions (green) and line segments (red) drawn on the source image.
cv::Mat DrawOverlay(const cv::Mat& image, const ImageView& view) {
  cv::Mat overlay = image.clone();
  for (const Quad& quad : view.regions) {
    const std::vector<cv::Point> corners(quad.begin(), quad.end());
    cv::polylines(overlay, corners, true, kRegionColour, 3);
  }
  for (const cv::Vec4f& s : view.lineSegments) {
    cv::line(overlay, cv::Point2f(s[0], s[1]), cv::Point2f(s[2], s[3]), kLineColour, 2);
  }
  return overlay;
}

// Marks the nodes one of whose results is also a result of another tree, and sums up
// each stage's results over the trees.
void CompareSets(ImageView& view, const std::map<std::string, double>& resultMs) {
  std::map<std::string, std::set<size_t>> treesOfResult;
  for (size_t s = 0; s < view.sets.size(); ++s)
    for (const NodeView& node : view.sets[s].nodes)
      for (const std::string& id : node.resultIds) treesOfResult[id].insert(s);
  std::vector<ImageStageFigures> stages(kStageCount);
  std::vector<std::set<std::string>> distinct(kStageCount);
  for (SetView& set : view.sets) {
    for (NodeView& node : set.nodes) {
      ImageStageFigures& figures = stages[node.stage - 1];
      for (const std::string& id : node.resultIds) {
        node.shared = node.shared || treesOfResult[id].size() > 1;
        ++figures.holders;
        if (!distinct[node.stage - 1].insert(id).second) continue;
        ++figures.results;
        figures.computeMs += resultMs.at(id);
      }
    }
  }
  for (int stage = 1; stage <= kStageCount; ++stage) stages[stage - 1].stage = stage;
  view.stages = std::move(stages);
}

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

GroupRegistry::GroupRegistry(const std::vector<ParameterSet>& sets) : m_sets(sets) {
  for (ParameterSet& set : m_sets) m_groups.push_back(Loader()->InitParameterTreeGroup(&set, &RegisterGroup, set.name.c_str()));
}

GroupRegistry::~GroupRegistry() {
  m_groups.clear();
  Loader()->UpdateTreeGroups();
}

int GroupRegistry::NodeCount(int stage) const {
  int count = 0;
  for (const QZRef<ParamTreeGroup>& group : m_groups)
    if (group) count += static_cast<int>(group->GetTree()->GetAllNodesOfStage(static_cast<tav::DataUnitStageType>(stage)).size());
  return count;
}

ImageView ProcessImage(GroupRegistry& registry, size_t serial, const std::string& name, QZRef<QZMatrix> image,
                       const RunOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  ImageView view;
  view.serial = serial;
  view.name = name;
  view.width = image->GetMat().cols;
  view.height = image->GetMat().rows;
  const std::string imageDir = std::to_string(serial) + "-" + SafeName(name);

  const StageRequestMap keep = RequestEveryStage();
  auto libraryStart = std::chrono::steady_clock::now();
  std::vector<QZRef<ParamTreeGroup>>& groups = registry.Groups();
  std::vector<ParamTreeGroup*> present;
  for (QZRef<ParamTreeGroup>& group : groups)
    if (group) present.push_back(group.get());
  char id[kHashIdBufferSize];
  if (ParamTreeGroup::AddSourceDataToGroups(present, image, 0, 0, id, keep)) {
    view.imageId = id;
    for (ParamTreeGroup* group : present) GenerateLines(*group, group->AddCandidateRegions(view.imageId));
  }
  view.librarySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - libraryStart).count();

  CollectRegionsAndLines(groups, view.imageId, view);
  const bool writeFiles = !options.outDir.empty();
  ResultFiles files(options.outDir, imageDir, &view.unwrittenFiles);
  if (writeFiles) {
    std::error_code error;
    std::filesystem::create_directories(options.outDir + "/" + imageDir, error);
    view.sourceFile = imageDir + "/source.png";
    view.overlayFile = imageDir + "/overlay.png";
    if (!WriteImage(options.outDir + "/" + view.sourceFile, image->GetMat(), &view.unwrittenFiles)) view.sourceFile.clear();
    if (!WriteImage(options.outDir + "/" + view.overlayFile, DrawOverlay(image->GetMat(), view), &view.unwrittenFiles))
      view.overlayFile.clear();
  }
  std::map<std::string, double> resultMs;
  for (size_t g = 0; g < groups.size(); ++g) {
    if (!groups[g]) continue;
    view.sets.push_back(ViewOfSet(registry.Sets()[g].name, *groups[g], view.imageId, writeFiles ? &files : nullptr, resultMs));
    view.sets.back().group = g;
  }
  CompareSets(view, resultMs);

  libraryStart = std::chrono::steady_clock::now();
  if (!view.imageId.empty()) {
    for (ParamTreeGroup* group : present) {
      group->MinusSavedTypeCount(view.imageId, keep);
      group->RemoveSameSourceData(view.imageId);
    }
  }
  view.librarySeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - libraryStart).count();
  view.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return view;
}

}  // namespace stagecache
