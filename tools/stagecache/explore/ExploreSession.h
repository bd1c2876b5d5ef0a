// What the explore server knows between requests: the images, the sets as last saved,
// the tabs that show an image, and the images they show, held in the cache by the trees
// of the sets each tab sent last. A tab names itself in every request (a random id of
// the page); one that has not been heard of for kTabIdleMinutes, or the least recently
// heard of beyond kMostTabs, is forgotten. An image no tab shows is released.
//
// Threads: every function may be called from any thread; two tabs may edit the same set
// of the same image at once, and each gets the findings of the sets it sent.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_EXPLORESESSION_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_EXPLORESESSION_H

#include "EditedSets.h"
#include "ExploreTree.h"
#include "ImageList.h"
#include "LiveImage.h"

#include <orvex/foundation/Mutex.h>
#include <orvex/hostkit/FileResultStore.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace stagecache {
namespace explore {

constexpr size_t kMostTabs = 8;
constexpr int kTabIdleMinutes = 30;

class ExploreSession {
 public:
  // `paramsFile` is where Save writes (empty: the sets can only be downloaded).
  ExploreSession(ImageList& images, std::vector<ParameterSet> sets, std::string paramsFile,
                 orvex::hostkit::FileResultStore* store);

  ImageList& Images() { return m_images; }

  // {"images": [{"index", "name"}], "sets": [parameter-set objects], "paramsFile": name or
  // null, "store": bool}
  nlohmann::json State() const ORVEX_EXCLUDES(m_mutex);
  // A recompute: {"image": N, "sets": [parameter-set objects], "findings": bool} from tab
  // `tab`. Answers {"image", "imageId", "width", "height", "seconds", "sets": [{"name",
  // "tree", "regions", "lines", "overlay"}], "processed": [tree], "stages", "totals"} and,
  // when asked, "findings": the sets' regions and line segments as the tool's --jsonl line
  // gives them. RequestError 400 for a bad request or set (the parameter file's message).
  nlohmann::json Run(const std::string& tab, const nlohmann::json& request) ORVEX_EXCLUDES(m_mutex);
  // The tree drawing, a node's card and a result's picture of an image some tab shows.
  std::string TreeSvg(size_t image, const std::string& tree) ORVEX_EXCLUDES(m_mutex);
  std::string NodeCard(size_t image, const std::string& tree, size_t node) ORVEX_EXCLUDES(m_mutex);
  std::string ResultPicture(size_t image, const std::string& tree, size_t node, size_t result) ORVEX_EXCLUDES(m_mutex);
  // {"sets": [...]} as a parameter file's text; RequestError 400 as Run.
  std::string ParameterFileText(const nlohmann::json& request) const;
  // Writes the sets to the parameter file explore was started with; {"saved": path}.
  // RequestError 409 without one.
  nlohmann::json Save(const nlohmann::json& request) ORVEX_EXCLUDES(m_mutex);
  // {"images": [indices of the images held], "trees": trees in use, "tabs": tabs known}
  nlohmann::json Memory() const ORVEX_EXCLUDES(m_mutex);

 private:
  using Clock = std::chrono::steady_clock;
  struct Tab {
    size_t image = 0;
    std::set<std::string> trees;
    Clock::time_point seen;
  };

  // Notes that `tab` shows `image` through `trees`; returns the image, held from now on,
  // and moves the images no tab shows any more to `released` (freed by the caller,
  // outside the lock).
  std::shared_ptr<LiveImage> Show(const std::string& tab, size_t image, std::set<std::string> trees,
                                  std::vector<std::shared_ptr<LiveImage>>& released) ORVEX_EXCLUDES(m_mutex);
  // The trees some tab wants to hold `image`.
  std::set<std::string> Wanted(size_t image) const ORVEX_EXCLUDES(m_mutex);
  // A shown image; RequestError 404 when no tab shows it.
  std::shared_ptr<LiveImage> Shown(size_t image) const ORVEX_EXCLUDES(m_mutex);
  void ForgetIdleTabs(Clock::time_point now) ORVEX_REQUIRES(m_mutex);

  ImageList& m_images;
  const std::string m_paramsFile;
  orvex::hostkit::FileResultStore* const m_store;
  TreeCache m_trees;
  // m_saveMutex makes saves take turns, so that the file holds the sets kept last; taken
  // before m_mutex.
  orvex::OutermostMutex m_saveMutex ORVEX_ACQUIRED_BEFORE(m_mutex);
  // m_mutex guards what follows; taken under no other lock but m_saveMutex (images are
  // made and released outside it).
  mutable orvex::OutermostMutex m_mutex;
  std::vector<ParameterSet> m_sets ORVEX_GUARDED_BY(m_mutex);
  std::map<std::string, Tab> m_tabs ORVEX_GUARDED_BY(m_mutex);
  std::map<size_t, std::shared_ptr<LiveImage>> m_shown ORVEX_GUARDED_BY(m_mutex);
};

}  // namespace explore
}  // namespace stagecache

#endif
