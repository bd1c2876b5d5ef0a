// An image some tab shows, held in the cache by the trees of the sets that tab sent: a
// recompute runs the image through the trees that do not hold it yet, and the results
// whose ids did not change come from the trees that do (or from the store). When no tab
// shows the image any more, it is released from every tree.
//
// Threads: every function may be called from any thread; they take turns on one image
// (its mutex), so the cost of each run is its own.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_LIVEIMAGE_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_LIVEIMAGE_H

#include "ExploreTree.h"
#include "ImageList.h"
#include "RunCost.h"

#include <orvex/foundation/Mutex.h>
#include <orvex/hostkit/FileResultStore.h>
#include <orvex/hostkit/SetGroups.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace stagecache {
namespace explore {

// A set of a run with its tree.
struct SetTree {
  std::string name;
  std::shared_ptr<ExploreTree> tree;
};

// What a run found and what it cost.
struct RunOutcome {
  std::string imageId;
  int width = 0;
  int height = 0;
  std::vector<orvex::hostkit::SetFindings> sets;  // in the order of the run's sets
  std::vector<std::string> processed;              // registrations the image was added to
  std::vector<StageCost> cost;
};

class LiveImage {
 public:
  LiveImage(ImageList& images, size_t index, orvex::hostkit::FileResultStore* store);
  // Releases the image from every tree that holds it.
  ~LiveImage();
  LiveImage(const LiveImage&) = delete;
  LiveImage& operator=(const LiveImage&) = delete;

  // Adds the image to every tree of `sets` that does not hold it yet, makes its line
  // segments there, and reads every set's findings. RequestError 422 when the image
  // cannot be read or the library refuses it.
  RunOutcome Run(const std::vector<SetTree>& sets) ORVEX_EXCLUDES(m_mutex);
  // Releases the image from the trees not named.
  void Keep(const std::set<std::string>& registrations) ORVEX_EXCLUDES(m_mutex);
  // The tree of that registration drawn with the image's results, nodes linked to
  // "#tc<place>"; RequestError 404 when it does not hold the image.
  std::string TreeSvg(const std::string& registration) ORVEX_EXCLUDES(m_mutex);
  // The card of the node at `place` of that tree (as the report shows it), its result
  // pictures linked under `pictureLink` + "&result=<r>".
  std::string NodeCard(const std::string& registration, size_t place, const std::string& pictureLink)
      ORVEX_EXCLUDES(m_mutex);
  // PNG bytes of the picture of a node's result (as the report draws it); RequestError
  // 404 when there is no such result or it has no picture.
  std::string ResultPicture(const std::string& registration, size_t place, size_t result) ORVEX_EXCLUDES(m_mutex);
  // The registrations of the trees that hold the image.
  std::vector<std::string> Holders() ORVEX_EXCLUDES(m_mutex);

 private:
  // The image in one tree. The image goes before its tree (members go in reverse order).
  struct Held {
    std::shared_ptr<ExploreTree> tree;
    std::unique_ptr<orvex::hostkit::ImageInCache> image;
  };

  const Held& HolderOf(const std::string& registration) ORVEX_REQUIRES(m_mutex);
  // Every holding tree's nodes with their results, marked where trees share them.
  std::map<std::string, SetView> Views() ORVEX_REQUIRES(m_mutex);

  ImageList& m_images;
  const size_t m_index;
  orvex::hostkit::FileResultStore* const m_store;
  // m_mutex guards what follows and makes runs on the image take turns. Taken before any
  // library lock (the image is added and released under it) and never while one is held.
  orvex::OutermostMutex m_mutex;
  bool m_prepared ORVEX_GUARDED_BY(m_mutex) = false;
  ImageSource m_source ORVEX_GUARDED_BY(m_mutex);
  std::map<std::string, Held> m_held ORVEX_GUARDED_BY(m_mutex);
};

}  // namespace explore
}  // namespace stagecache

#endif
