// Running images through the library as a host does, and what the run found.
#ifndef ORVEX_TOOLS_STAGECACHE_RUN_H
#define ORVEX_TOOLS_STAGECACHE_RUN_H

#include "ParameterFile.h"

#include <OrvexStagecacheHost.h>

#include <array>
#include <map>
#include <string>
#include <vector>

namespace stagecache {

// Stages are numbered 1 to kStageCount; orvex::stages::GetStageName names them.
constexpr int kStageCount = orvex::stages::kLastStage;
using orvex::stages::GetStageName;

// One node of one parameter tree, as the report shows it.
struct NodeView {
  std::string id;
  std::string parentId;
  int stage = 0;
  std::string parameters;               // short id of the node's own parameters
  std::string parameterText;            // their canonical text
  std::vector<std::string> resultIds;   // its results for the image
  std::vector<std::string> imageFiles;  // pictures of its results (with --out)
  double computeMs = 0;                 // time its results took to compute
  bool shared = false;                  // a result of it is also a result of another tree
};

struct SetView {
  size_t group = 0;  // the set's place in the registry
  std::string name;
  std::vector<NodeView> nodes;  // by stage, then in the tree's order
};

using Quad = std::array<cv::Point2f, 4>;

// What one stage made for one image over all trees.
struct ImageStageFigures {
  int stage = 0;
  int results = 0;    // distinct results
  int holders = 0;    // node results: each distinct result once per node holding it
  double computeMs = 0;
};

struct ImageView {
  size_t serial = 0;  // 1 for the first input; names the image's folder of result files
  std::string name;
  std::string imageId;
  int width = 0;
  int height = 0;
  std::vector<Quad> regions;           // candidate regions of every tree, in source coordinates
  std::vector<cv::Vec4f> lineSegments; // line segments of every tree, in source coordinates
  std::vector<ImageStageFigures> stages;
  double seconds = 0;         // the whole image, report files included
  double librarySeconds = 0;  // inside the library: adding, generating and releasing
  std::string sourceFile;   // with --out
  std::string overlayFile;  // with --out: regions and line segments drawn on the source
  std::vector<SetView> sets;
  std::vector<std::string> unwrittenFiles;  // report files that could not be written
};

struct RunOptions {
  std::string outDir;  // empty: write no files
};

// Registers one tree group per parameter set with the process-wide loader, and releases
// them (with everything they hold) when destroyed.
class GroupRegistry {
 public:
  explicit GroupRegistry(const std::vector<ParameterSet>& sets);
  ~GroupRegistry();
  GroupRegistry(const GroupRegistry&) = delete;
  GroupRegistry& operator=(const GroupRegistry&) = delete;

  const std::vector<ParameterSet>& Sets() const { return m_sets; }
  std::vector<orvex::QZRef<orvex::ParamTreeGroup>>& Groups() { return m_groups; }
  const std::vector<orvex::QZRef<orvex::ParamTreeGroup>>& Groups() const { return m_groups; }
  // Number of nodes of a stage over all trees.
  int NodeCount(int stage) const;

 private:
  std::vector<ParameterSet> m_sets;
  std::vector<orvex::QZRef<orvex::ParamTreeGroup>> m_groups;
};

// The nodes of a set's tree without results, by stage, then in the tree's order; the
// tree's nodes in the same order go to `nodes` when given.
SetView ShapeOfSet(const std::string& name, const orvex::ParamTreeGroup& group,
                   std::vector<const orvex::ParameterNodeBase*>* nodes = nullptr);

// Adds the image to every group, adds the candidate regions, generates the line segments
// of every region, reads the results back and, with an output folder, writes them and
// pictures of them; then drops the image's results. Returns what the report shows of it.
// Thread-safe: several threads may process images through one registry at once.
ImageView ProcessImage(GroupRegistry& registry, size_t serial, const std::string& name, orvex::QZRef<orvex::QZMatrix> image,
                       const RunOptions& options);

}  // namespace stagecache

#endif
