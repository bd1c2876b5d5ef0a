// Running images through the library with the host kit, and what the report shows of each.
#ifndef ORVEX_TOOLS_STAGECACHE_RUN_H
#define ORVEX_TOOLS_STAGECACHE_RUN_H

#include <OrvexStagecacheHost.h>
#include <orvex/hostkit/ImageFiles.h>
#include <orvex/hostkit/SetGroups.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace stagecache {

// Stages are numbered 1 to kStageCount; orvex::stages::GetStageName names them.
constexpr int kStageCount = orvex::stages::kLastStage;
using orvex::stages::GetStageName;
using orvex::hostkit::ParameterSet;
using orvex::hostkit::Quad;

// One node of one parameter tree, as the report shows it.
struct NodeView {
  std::string id;
  std::string parentId;
  int stage = 0;
  std::string parameters;               // short id of the node's own parameters
  std::string parameterText;            // their canonical text
  std::vector<std::string> resultIds;   // its results for the image
  std::vector<std::string> imageFiles;  // pictures of its results (with result pictures)
  double computeMs = 0;                 // time its results took to compute
  bool shared = false;                  // a result of it is also a result of another tree
};

struct SetView {
  size_t group = 0;  // the set's place in the list of sets
  std::string name;
  std::vector<NodeView> nodes;  // by stage, then in the tree's order
};

struct ImageView {
  size_t serial = 0;  // 1 for the first input; names the image's report files
  orvex::hostkit::ImageSummary summary;  // the image, its figures and each set's findings
  std::vector<SetView> sets;             // with result pictures: every node and its results
  double librarySeconds = 0;  // inside the library: adding, generating and releasing
  std::string folder;      // with --out: the image's folder of report files, relative
  std::string sourceFile;  // with --out: the source picture the overlays are drawn on
  bool pictures = false;   // whether its result pictures and trees were written
  std::vector<std::string> writtenFiles;    // report files written, relative to --out
  std::vector<std::string> unwrittenFiles;  // report files that could not be written
};

struct RunOptions {
  std::string outDir;     // empty: write no files
  bool pictures = false;  // write a picture of every result (and the trees) of the image
};

// The nodes of a set's tree without results, by stage, then in the tree's order; the
// tree's nodes in the same order go to `nodes` when given.
SetView ShapeOfSet(const std::string& name, const orvex::ParamTreeGroup& group,
                   std::vector<const orvex::ParameterNodeBase*>* nodes = nullptr);

// The source picture the overlays are drawn on: the source scaled down to at most
// kSourcePictureSide on its longest side, three channels.
constexpr int kSourcePictureSide = 1200;
cv::Mat SourcePicture(const cv::Mat& source);

// The file a result's picture is in, relative to the page that shows it; empty for none.
using PictureFileOf = std::function<std::string(const orvex::tav::CDataUnit& result)>;

// Every node of set `set` of the image's sets with its results for the image, and the
// picture file `fileOf` names for each result (when given).
SetView ViewOfSet(size_t set, const std::string& name, const orvex::hostkit::ImageInCache& image,
                  const PictureFileOf& fileOf);

// Marks the nodes one of whose results is also a result of another of the trees.
void MarkShared(std::vector<SetView>& sets);

// Number of nodes of a stage over every set's tree.
int NodeCount(const orvex::hostkit::SetGroups& sets, int stage);

// Adds the image to every set, makes its line segments, reads its results back and, with
// an output folder, writes the report's files of it; then releases it. Empty, with the
// reason in *refused, when the library refuses the image. Thread-safe: several threads
// may process images through one SetGroups at once.
std::optional<ImageView> ProcessImage(orvex::hostkit::SetGroups& sets, size_t serial, const std::string& name,
                                      orvex::hostkit::PreparedImage image, const RunOptions& options,
                                      std::string* refused);

}  // namespace stagecache

#endif
