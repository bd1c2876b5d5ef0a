#include "LiveImage.h"

#include "../ResultPictures.h"
#include "../TreePictures.h"
#include "RequestError.h"

#include <orvex/improc/ImageCodecs.h>

namespace stagecache {
namespace explore {

using namespace orvex;

LiveImage::LiveImage(ImageList& images, size_t index, hostkit::FileResultStore* store)
    : m_images(images), m_index(index), m_store(store) {}

LiveImage::~LiveImage() {
  MutexLock lock(m_mutex);
  m_held.clear();
}

RunOutcome LiveImage::Run(const std::vector<SetTree>& sets) {
  MutexLock lock(m_mutex);
  if (!m_prepared) {
    m_source = m_images.Prepare(m_index, m_store);
    m_prepared = true;
  }
  std::vector<const hostkit::ImageInCache*> before;
  for (const auto& held : m_held) before.push_back(held.second.image.get());
  const std::set<std::string> heldIds = HeldResultIds(before);

  RunOutcome outcome;
  std::vector<const hostkit::ImageInCache*> run;
  for (const SetTree& set : sets) {
    const std::string& registration = set.tree->Registration();
    if (m_held.count(registration) != 0) continue;
    std::string refused;
    std::unique_ptr<hostkit::ImageInCache> image = set.tree->Groups().ProcessKnown(
        m_source.id, m_source.width, m_source.height, m_source.pixels, &refused);
    if (!image) throw RequestError(422, m_images.Name(m_index) + ": " + refused);
    run.push_back(image.get());
    m_held[registration] = Held{set.tree, std::move(image)};
    outcome.processed.push_back(registration);
  }
  // The store remembers which image the file gave, so that the next start needs no decoding.
  if (m_store != nullptr && !m_source.fileKey.empty() && !run.empty()) {
    m_store->SaveRecord(m_source.fileKey, m_source.id);
    m_source.fileKey.clear();
  }
  outcome.cost = CostOfRun(heldIds, run);
  outcome.imageId = m_source.id;
  outcome.width = m_source.width;
  outcome.height = m_source.height;
  for (const SetTree& set : sets) {
    const hostkit::ImageInCache& image = *m_held.at(set.tree->Registration()).image;
    outcome.sets.push_back({set.name, image.Regions(0), image.LineSegments(0)});
  }
  return outcome;
}

void LiveImage::Keep(const std::set<std::string>& registrations) {
  MutexLock lock(m_mutex);
  for (auto it = m_held.begin(); it != m_held.end();) {
    if (registrations.count(it->first) == 0) it = m_held.erase(it);
    else ++it;
  }
}

std::vector<std::string> LiveImage::Holders() {
  MutexLock lock(m_mutex);
  std::vector<std::string> holders;
  for (const auto& held : m_held) holders.push_back(held.first);
  return holders;
}

const LiveImage::Held& LiveImage::HolderOf(const std::string& registration) {
  auto held = m_held.find(registration);
  if (held == m_held.end()) {
    throw RequestError(404, "that tree does not hold image " + std::to_string(m_index) + " (any more): run it again");
  }
  return held->second;
}

std::map<std::string, SetView> LiveImage::Views() {
  std::vector<SetView> views;
  for (const auto& held : m_held) views.push_back(ViewOfSet(0, held.second.tree->Shape().name, *held.second.image, nullptr));
  MarkShared(views);
  std::map<std::string, SetView> byRegistration;
  size_t v = 0;
  for (const auto& held : m_held) byRegistration[held.first] = std::move(views[v++]);
  return byRegistration;
}

std::string LiveImage::TreeSvg(const std::string& registration) {
  MutexLock lock(m_mutex);
  const Held& held = HolderOf(registration);
  return held.tree->Svg(Views().at(registration), "t");
}

std::string LiveImage::NodeCard(const std::string& registration, size_t place, const std::string& pictureLink) {
  MutexLock lock(m_mutex);
  HolderOf(registration);
  SetView view = Views().at(registration);
  if (place >= view.nodes.size()) throw RequestError(404, "no node " + std::to_string(place) + " in that tree");
  NodeView& node = view.nodes[place];
  for (size_t r = 0; r < node.resultIds.size(); ++r) node.imageFiles.push_back(pictureLink + "&result=" + std::to_string(r));
  return stagecache::NodeCard(node, "card");
}

std::string LiveImage::ResultPicture(const std::string& registration, size_t place, size_t result) {
  MutexLock lock(m_mutex);
  const Held& held = HolderOf(registration);
  const std::vector<hostkit::NodeResults> nodes = held.image->ResultsByNode(0);
  if (place >= nodes.size() || result >= nodes[place].results.size()) {
    throw RequestError(404, "no result " + std::to_string(result) + " of node " + std::to_string(place));
  }
  const cv::Mat picture = PictureOf(*nodes[place].results[result]);
  if (picture.empty()) throw RequestError(404, "that result has no picture");
  std::vector<unsigned char> bytes;
  if (!EncodePng(picture, &bytes)) throw RequestError(500, "that result's picture could not be encoded");
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace explore
}  // namespace stagecache
