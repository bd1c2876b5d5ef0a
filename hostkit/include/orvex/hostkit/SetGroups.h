// Parameter sets registered with the library, and images run through them.
//
//   SetGroups sets(LoadParameterSets("params.json"));
//   std::string why;
//   if (auto image = sets.Process(QZRef<QZMatrix>(QZMatrix::ReadQZMatrixFromFile(path, &error, 2)), &why)) {
//     for (size_t s = 0; s < sets.Sets().size(); ++s) Print(image->Regions(s), image->LineSegments(s));
//   }  // the image is released from the cache here
//
// Ownership: SetGroups registers one tree group per set in the process-wide loader, under
// the name the set's parameters decide (RegistrationName), holds the groups and drops them
// when it goes. An ImageInCache holds its image in every group until it goes; it must go
// before its SetGroups. Results handed out (StageImage) keep their pixels alive by a count on
// the stage's result object, never on the cached result itself, which the image's release
// drops as usual.
//
// Threads: Process, and every const operation of ImageInCache, may be called from several
// threads at once, on different images (the tool works on --jobs images at a time this
// way). One ImageInCache is not to be destroyed while another thread reads it.
#ifndef ORVEX_HOSTKIT_SETGROUPS_H
#define ORVEX_HOSTKIT_SETGROUPS_H

#include <orvex/hostkit/ImageSummary.h>
#include <orvex/hostkit/ParameterSets.h>

#include <OrvexStagecacheHost.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace orvex {
namespace hostkit {

// An image result as pixels: a view of the result's own pixels (never copied). `result`
// is the counted object the stage computed (a matrix, or the record that holds one): it
// keeps the pixels valid for as long as the caller holds it, without holding the cached
// result, so the image's release drops that from the table as if nobody had looked.
struct StageImage {
  std::string id;        // the result's data hash id
  int node = 0;          // the node's place among the set's nodes of the stage
  int region = -1;       // the region's place for region stages, -1 for whole-image ones
  cv::Mat pixels;        // read-only by contract: the library shares them
  QZRef<QZObjectBase> result;
};

// The results a node of a set holds for the image.
struct NodeResults {
  const ParameterNodeBase* node = nullptr;
  int stage = 0;
  std::vector<const DW_Base*> results;  // valid while the ImageInCache lives
};

class ImageInCache;
struct PreparedImage;

// A result's pixels, shared with it (valid while it lives), when it is an image result
// that has been computed; else an empty matrix.
ORVEX_EXPORT cv::Mat PixelsOf(const tav::CDataUnit& result);

class ORVEX_EXPORT SetGroups {
 public:
  // Registers a group per set; throws ParameterError when a set's tree cannot be built.
  explicit SetGroups(std::vector<ParameterSet> sets);
  ~SetGroups();
  SetGroups(const SetGroups&) = delete;
  SetGroups& operator=(const SetGroups&) = delete;

  const std::vector<ParameterSet>& Sets() const { return m_sets; }
  ParamTreeGroup& Group(std::size_t set) const { return *m_groups[set]; }
  // The place of the set of that name, or Sets().size() when there is none.
  std::size_t IndexOf(const std::string& name) const;
  // How many nodes of `stage` (1 to 23) the set's tree has: the branches that
  // ImageInCache::StageImages tells apart by StageImage::node.
  std::size_t NodeCount(std::size_t set, int stage) const;

  // Adds the image to every set's group (the matrix is handed over: kept as it is when
  // nothing else shares its pixels), adds its candidate regions and makes the line
  // segments of every region; null, with the reason in *refused, when the library refuses
  // the image. An allocation failure propagates; the image is then released again.
  std::unique_ptr<ImageInCache> Process(QZRef<QZMatrix> image, std::string* refused);
  // The same for an image known by its hash id (and its size), whose pixels `pixels`
  // gives only when a result first needs them: with every result stored, the image is
  // never decoded.
  std::unique_ptr<ImageInCache> ProcessKnown(const std::string& id, int width, int height, QZRef<SourcePixels> pixels,
                                             std::string* refused);
  // The same for an image file made ready by PrepareImageFile; a decoded file is then
  // remembered in its store by its bytes.
  std::unique_ptr<ImageInCache> Process(PreparedImage image, std::string* refused);

 private:
  std::vector<ParameterSet> m_sets;
  std::vector<QZRef<ParamTreeGroup>> m_groups;
  std::vector<ParamTreeGroup*> m_plain;
};

class ORVEX_EXPORT ImageInCache {
 public:
  ~ImageInCache();
  ImageInCache(const ImageInCache&) = delete;
  ImageInCache& operator=(const ImageInCache&) = delete;

  const std::string& Id() const { return m_id; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }
  // The source pixels the library keeps for the image (an image known by its id is
  // decoded now if it was not); empty when they cannot be had.
  cv::Mat Pixels() const;
  // The set's candidate regions and line segments, in source-image coordinates.
  std::vector<Quad> Regions(std::size_t set) const;
  std::vector<cv::Vec4f> LineSegments(std::size_t set) const;
  // The set's image results of a stage, node by node (and region by region below the
  // candidate regions); empty for a stage whose results are not images.
  std::vector<StageImage> StageImages(std::size_t set, int stage) const;
  // The results every node of the set holds for the image, stage by stage.
  std::vector<NodeResults> ResultsByNode(std::size_t set) const;
  // Per stage over all sets: distinct results, node results and compute time.
  std::vector<StageFigures> Figures() const;
  // What the tool's --jsonl line says of the image, `name` its input name.
  ImageSummary Summary(const std::string& name, double seconds) const;

 private:
  friend class SetGroups;
  ImageInCache(SetGroups& sets, std::string id, int width, int height);
  // Adds the regions and makes the line segments in every set.
  void Generate();

  SetGroups& m_sets;
  std::string m_id;
  int m_width;
  int m_height;
  std::vector<std::vector<std::string>> m_regionIds;  // per set, in node and region order
};

}  // namespace hostkit
}  // namespace orvex

#endif
