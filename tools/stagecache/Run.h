// Running images through the library as a host does, and what the run found.
#ifndef ORVEX_TOOLS_STAGECACHE_RUN_H
#define ORVEX_TOOLS_STAGECACHE_RUN_H

#include "ParameterFile.h"

#include <OrvexStagecacheHost.h>

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
  std::string parameters;               // short text of the node's own parameters
  std::vector<std::string> resultIds;   // its results for the image
  std::vector<std::string> imageFiles;  // files of the results that are images (with --out)
  bool shared = false;                  // a result of it is also a result of another tree
};

struct SetView {
  std::string name;
  std::vector<NodeView> nodes;  // by stage, then in the tree's order
};

struct ImageView {
  std::string name;
  int width = 0;
  int height = 0;
  int regions = 0;
  int lineSegments = 0;
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

// Adds the image to every group, adds the candidate regions, generates the line segments
// of every region, reads the results back and, with an output folder, writes them; then
// drops the image's results. Returns what the report shows of it.
ImageView ProcessImage(GroupRegistry& registry, const std::string& name, const cv::Mat& image, const RunOptions& options);

}  // namespace stagecache

#endif
