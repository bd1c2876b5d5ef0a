#include "ExploreSession.h"

#include "../Overlays.h"
#include "RequestError.h"

#include <orvex/hostkit/ImageSummary.h>

namespace stagecache {
namespace explore {

using nlohmann::json;
using orvex::MutexLock;

namespace {

constexpr char kEditedSource[] = "edited sets";

// The image a request names; RequestError 400 or 404.
size_t ImageOf(const json& request, const ImageList& images) {
  if (!request.is_object() || !request.contains("image") || !request["image"].is_number_unsigned()) {
    throw RequestError(400, "malformed request: expected {\"image\": <number>, ...}");
  }
  return images.IndexOf(std::to_string(request["image"].get<uint64_t>()));
}

const json& SetsOf(const json& request) {
  if (!request.is_object() || !request.contains("sets")) throw RequestError(400, "malformed request: expected {\"sets\": [...]}");
  return request["sets"];
}

}  // namespace

ExploreSession::ExploreSession(ImageList& images, std::vector<ParameterSet> sets, std::string paramsFile,
                               orvex::hostkit::FileResultStore* store)
    : m_images(images), m_paramsFile(std::move(paramsFile)), m_store(store), m_sets(std::move(sets)) {}

json ExploreSession::State() const {
  json images = json::array();
  for (size_t i = 0; i < m_images.Size(); ++i) images.push_back({{"index", i}, {"name", m_images.Name(i)}});
  MutexLock lock(m_mutex);
  return {{"images", std::move(images)},
          {"sets", SetsAsJson(m_sets)},
          {"paramsFile", m_paramsFile.empty() ? json() : json(m_paramsFile)},
          {"store", m_store != nullptr}};
}

json ExploreSession::Run(const std::string& tab, const json& request) {
  const auto started = Clock::now();
  const size_t image = ImageOf(request, m_images);
  const std::vector<ParameterSet> sets = ReadEditedSets(SetsOf(request), kEditedSource);
  std::vector<SetTree> trees;
  std::set<std::string> registrations;
  for (const ParameterSet& set : sets) {
    try {
      trees.push_back({set.name, m_trees.FindOrMake(set)});
    } catch (const orvex::hostkit::ParameterError& error) {
      throw RequestError(400, std::string(kEditedSource) + ": " + error.what());
    }
    registrations.insert(trees.back().tree->Registration());
  }
  std::shared_ptr<LiveImage> live;
  {
    std::vector<std::shared_ptr<LiveImage>> released;
    live = Show(tab, image, registrations, released);
  }
  const RunOutcome outcome = live->Run(trees);
  live->Keep(Wanted(image));

  json answer = CostJson(outcome.cost);
  json setsJson = json::array();
  for (size_t s = 0; s < outcome.sets.size(); ++s) {
    const orvex::hostkit::SetFindings& found = outcome.sets[s];
    setsJson.push_back({{"name", found.name},
                        {"tree", trees[s].tree->Registration()},
                        {"regions", found.regions.size()},
                        {"lines", found.lineSegments.size()},
                        {"overlay", OverlayGroup(found, s)}});
  }
  answer["image"] = image;
  answer["imageId"] = outcome.imageId;
  answer["width"] = outcome.width;
  answer["height"] = outcome.height;
  answer["sets"] = std::move(setsJson);
  answer["processed"] = outcome.processed;
  if (request.value("findings", false)) {
    orvex::hostkit::ImageSummary summary;
    summary.name = m_images.Name(image);
    summary.imageId = outcome.imageId;
    summary.width = outcome.width;
    summary.height = outcome.height;
    summary.sets = outcome.sets;
    json line = json::parse(orvex::hostkit::SummaryJsonLine(summary));
    line.erase("stages");
    line.erase("seconds");
    answer["findings"] = std::move(line);
  }
  answer["seconds"] = std::chrono::duration<double>(Clock::now() - started).count();
  return answer;
}

std::shared_ptr<LiveImage> ExploreSession::Show(const std::string& tab, size_t image, std::set<std::string> trees,
                                                std::vector<std::shared_ptr<LiveImage>>& released) {
  const Clock::time_point now = Clock::now();
  MutexLock lock(m_mutex);
  Tab& shown = m_tabs[tab];
  shown.image = image;
  shown.trees = std::move(trees);
  shown.seen = now;
  ForgetIdleTabs(now);
  std::shared_ptr<LiveImage>& live = m_shown[image];
  if (!live) live = std::make_shared<LiveImage>(m_images, image, m_store);
  std::shared_ptr<LiveImage> held = live;
  for (auto it = m_shown.begin(); it != m_shown.end();) {
    bool wanted = false;
    for (const auto& known : m_tabs) wanted = wanted || known.second.image == it->first;
    if (wanted) {
      ++it;
    } else {
      released.push_back(std::move(it->second));
      it = m_shown.erase(it);
    }
  }
  return held;
}

void ExploreSession::ForgetIdleTabs(Clock::time_point now) {
  for (auto it = m_tabs.begin(); it != m_tabs.end();) {
    if (now - it->second.seen > std::chrono::minutes(kTabIdleMinutes)) it = m_tabs.erase(it);
    else ++it;
  }
  while (m_tabs.size() > kMostTabs) {
    auto oldest = m_tabs.begin();
    for (auto it = m_tabs.begin(); it != m_tabs.end(); ++it)
      if (it->second.seen < oldest->second.seen) oldest = it;
    m_tabs.erase(oldest);
  }
}

std::set<std::string> ExploreSession::Wanted(size_t image) const {
  MutexLock lock(m_mutex);
  std::set<std::string> wanted;
  for (const auto& tab : m_tabs)
    if (tab.second.image == image) wanted.insert(tab.second.trees.begin(), tab.second.trees.end());
  return wanted;
}

std::shared_ptr<LiveImage> ExploreSession::Shown(size_t image) const {
  MutexLock lock(m_mutex);
  auto live = m_shown.find(image);
  if (live == m_shown.end()) throw RequestError(404, "image " + std::to_string(image) + " is not shown: run it first");
  return live->second;
}

std::string ExploreSession::TreeSvg(size_t image, const std::string& tree) { return Shown(image)->TreeSvg(tree); }

std::string ExploreSession::NodeCard(size_t image, const std::string& tree, size_t node) {
  const std::string link =
      "/api/picture?image=" + std::to_string(image) + "&tree=" + tree + "&node=" + std::to_string(node);
  return Shown(image)->NodeCard(tree, node, link);
}

std::string ExploreSession::ResultPicture(size_t image, const std::string& tree, size_t node, size_t result) {
  return Shown(image)->ResultPicture(tree, node, result);
}

std::string ExploreSession::ParameterFileText(const json& request) const {
  return orvex::hostkit::WriteParameterSets(ReadEditedSets(SetsOf(request), kEditedSource));
}

json ExploreSession::Save(const json& request) {
  if (m_paramsFile.empty()) {
    throw RequestError(409, "explore was started without --params FILE: download the parameter file instead");
  }
  std::vector<ParameterSet> sets = ReadEditedSets(SetsOf(request), kEditedSource);
  MutexLock saving(m_saveMutex);
  WriteFileAtomically(m_paramsFile, orvex::hostkit::WriteParameterSets(sets));
  MutexLock lock(m_mutex);
  m_sets = std::move(sets);
  return {{"saved", m_paramsFile}};
}

json ExploreSession::Memory() const {
  json images = json::array();
  size_t tabs = 0;
  {
    MutexLock lock(m_mutex);
    for (const auto& shown : m_shown) images.push_back(shown.first);
    tabs = m_tabs.size();
  }
  return {{"images", std::move(images)}, {"trees", m_trees.Count()}, {"tabs", tabs}};
}

}  // namespace explore
}  // namespace stagecache
