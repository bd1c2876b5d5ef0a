// Parameter sets registered with the library, and images run through them.
#include <orvex/hostkit/SetGroups.h>

#include <orvex/hostkit/FileResultStore.h>
#include <orvex/hashing/HashId.h>
#include <orvex/hostkit/ImageFiles.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <utility>

namespace orvex {
namespace hostkit {

namespace {

QZParameterTreeLoader* Loader() { return QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader(); }

// The registration callback: the group of the set's tree with its region parts. It runs
// under the loader's mutex, which the analysis cannot follow through the callback pointer.
QZRef<ParamTreeGroup> RegisterGroup(void* host, QZParameterTreeLoader* loader, const char* name)
    ORVEX_NO_THREAD_SAFETY_ANALYSIS {
  return loader->BuildTreeGroup(name, &static_cast<ParameterSet*>(host)->parameters);
}

cv::Point2f Map(const cv::Mat& transform, const cv::Point2f& p) {
  const double w = transform.at<double>(2, 0) * p.x + transform.at<double>(2, 1) * p.y + transform.at<double>(2, 2);
  return cv::Point2f(static_cast<float>((transform.at<double>(0, 0) * p.x + transform.at<double>(0, 1) * p.y +
                                         transform.at<double>(0, 2)) / w),
                     static_cast<float>((transform.at<double>(1, 0) * p.x + transform.at<double>(1, 1) * p.y +
                                         transform.at<double>(1, 2)) / w));
}

void GenerateLines(ParamTreeGroup& group, const std::vector<std::string>& regionIds) {
  for (ParameterNodeBase* node : group.GetTree()->GetAllNodesOfStage(tav::DUST_LINE_SEGMENTS)) {
    for (const std::string& region : regionIds) {
      if (QZRef<DW_LineSegments> lines = static_cast<PN_LineSegments*>(node)->GetData(region, true, true)) lines->GetData(true);
    }
  }
}

// The results a node holds for the image, as wraps.
std::vector<const DW_Base*> ResultsOf(const ParameterNodeBase& node, const std::string& imageId) {
  tav::CDataUnitArray units;
  std::vector<const DW_Base*> results;
  if (node.GetDataUnits(imageId.c_str(), &units) != 0) throw std::bad_alloc();
  for (int i = 0; i < units.GetCount(); ++i) {
    if (const auto* wrap = dynamic_cast<const DW_Base*>(units.GetDataUnit(i))) results.push_back(wrap);
  }
  return results;
}

// The pixels of an image result and the object the stage computed that owns them.
struct ResultPixels {
  cv::Mat pixels;
  QZRef<QZObjectBase> owner;
};

// Stage N's result object behind `wrap` (a wrap of that stage) with its pixels; empty
// before the stage has a result, and for stages whose results are not images.
template <int N>
ResultPixels ResultPixelsAt(DW_Base& wrap) {
  ResultPixels found;
  if constexpr (StageRow<N>::kImage) {
    auto* typed = dynamic_cast<stages::WrapOf<N>*>(&wrap);
    auto* stage = typed != nullptr ? typed->GetData(false) : nullptr;
    const auto data = stage != nullptr ? stage->GetPrimaryData(false) : nullptr;
    // The stage's own view of its result (which the checking builds check against its
    // seal as it is handed out): 8 bits, one, three or four channels.
    const core::CImageData* view = data ? stage->GetResultAsImageData() : nullptr;
    if (view == nullptr || view->GetBytes() == nullptr) return found;
    found.pixels = cv::Mat(view->GetHeight(), view->GetWidth(), CV_8UC(core::BytesPerPixel(view->GetImagePixelFormat())),
                           const_cast<unsigned char*>(view->GetBytes()), static_cast<size_t>(view->GetStride()));
    found.owner = data;
  }
  return found;
}

template <int... Offsets>
ResultPixels ResultPixelsOf(DW_Base& wrap, int stage, std::integer_sequence<int, Offsets...>) {
  ResultPixels found;
  ((stage == stages::kFirstStage + Offsets ? (void)(found = ResultPixelsAt<stages::kFirstStage + Offsets>(wrap)) : (void)0),
   ...);
  return found;
}

}  // namespace

cv::Mat PixelsOf(const tav::CDataUnit& result) {
  core::CImageData* image = nullptr;
  if (result.GetMediaType() != tav::DUMT_IMAGE || result.GetDataAsImageData(&image) != 0 || image == nullptr ||
      image->GetBytes() == nullptr) {
    return cv::Mat();
  }
  const int channels = core::BytesPerPixel(image->GetImagePixelFormat());
  return cv::Mat(image->GetHeight(), image->GetWidth(), CV_8UC(channels), const_cast<unsigned char*>(image->GetBytes()),
                 static_cast<size_t>(image->GetStride()));
}

SetGroups::SetGroups(std::vector<ParameterSet> sets) : m_sets(std::move(sets)) {
  for (ParameterSet& set : m_sets) {
    const std::string name = RegistrationName(set.parameters);
    QZRef<ParamTreeGroup> group = Loader()->InitParameterTreeGroup(&set, &RegisterGroup, name.c_str());
    if (!group || group->GetTree() == nullptr || group->GetTree()->GetRootNode() == nullptr) {
      throw ParameterError(set.name + ": the library built no tree for this set");
    }
    m_plain.push_back(group.get());
    m_groups.push_back(std::move(group));
  }
}

SetGroups::~SetGroups() {
  m_plain.clear();
  m_groups.clear();
  Loader()->UpdateTreeGroups();
}

std::size_t SetGroups::IndexOf(const std::string& name) const {
  for (std::size_t s = 0; s < m_sets.size(); ++s)
    if (m_sets[s].name == name) return s;
  return m_sets.size();
}

std::size_t SetGroups::NodeCount(std::size_t set, int stage) const {
  return Group(set).GetTree()->GetAllNodesOfStage(static_cast<tav::DataUnitStageType>(stage)).size();
}

std::unique_ptr<ImageInCache> SetGroups::Process(QZRef<QZMatrix> image, std::string* refused) {
  const auto refuse = [&](const std::string& reason) {
    if (refused != nullptr) *refused = reason;
    return std::unique_ptr<ImageInCache>();
  };
  if (!image || image->IsEmpty()) return refuse("no pixels");
  if (std::min(image->GetMat().rows, image->GetMat().cols) < kSmallestImageSide) {
    return refuse("smaller than " + std::to_string(kSmallestImageSide) + " x " + std::to_string(kSmallestImageSide) +
                  " pixels");
  }
  char id[kHashIdBufferSize] = "";
  const int width = image->GetMat().cols, height = image->GetMat().rows;
  if (!ParamTreeGroup::AddSourceDataToGroups(m_plain, std::move(image), 0, 0, id, RequestEveryStage())) {
    return refuse("the library refused it: its id is taken by other pixels");
  }
  // From here the image is in every group: the ImageInCache releases it, also on failure.
  std::unique_ptr<ImageInCache> added(new ImageInCache(*this, id, width, height));
  added->Generate();
  return added;
}

std::unique_ptr<ImageInCache> SetGroups::ProcessKnown(const std::string& id, int width, int height,
                                                      QZRef<SourcePixels> pixels, std::string* refused) {
  if (!ParamTreeGroup::AddKnownImageToGroups(m_plain, id, std::move(pixels), 0, 0, RequestEveryStage())) {
    if (refused != nullptr) *refused = "the library refused it: an image of that id was added with other sizes";
    return std::unique_ptr<ImageInCache>();
  }
  std::unique_ptr<ImageInCache> added(new ImageInCache(*this, id, width, height));
  added->Generate();
  return added;
}

std::unique_ptr<ImageInCache> SetGroups::Process(PreparedImage image, std::string* refused) {
  if (!image.known) {
    std::unique_ptr<ImageInCache> added = Process(std::move(image.pixels), refused);
    // The store remembers which image the file gave, so that the next run needs no decoding.
    if (added && image.store != nullptr && !image.fileKey.empty()) image.store->SaveRecord(image.fileKey, added->Id());
    return added;
  }
  const QZRef<FilePixels> loader = image.known;
  std::unique_ptr<ImageInCache> added = ProcessKnown(image.knownId, image.width, image.height, std::move(image.known), refused);
  QZRef<QZMatrix> decoded;
  std::string failure;
  // Never decoded: every result asked for was stored under the recorded id.
  if (!added || !loader->TakeDecoded(&decoded, &failure)) return added;
  std::string real = decoded ? decoded->GetHashID() : std::string();
  if (decoded && real.empty()) real = SourceImageHashId(*decoded);
  if (decoded && real == image.knownId) return added;
  // The pixels contradict the record, or there are none: nothing was settled for the
  // recorded id; the image is released, and processed again under the id of its pixels.
  added.reset();
  if (!decoded) {
    if (refused != nullptr) *refused = "cannot be decoded: " + failure;
    return added;
  }
  if (image.store != nullptr && !image.fileKey.empty() && !real.empty()) {
    image.store->ReplaceRecord(image.fileKey, image.path, image.knownId, real);
  }
  return Process(std::move(decoded), refused);
}

ImageInCache::ImageInCache(SetGroups& sets, std::string id, int width, int height)
    : m_sets(sets), m_id(std::move(id)), m_width(width), m_height(height), m_regionIds(sets.Sets().size()) {}

void ImageInCache::Generate() {
  for (std::size_t s = 0; s < m_sets.Sets().size(); ++s) {
    m_regionIds[s] = m_sets.Group(s).AddCandidateRegions(m_id);
    GenerateLines(m_sets.Group(s), m_regionIds[s]);
  }
}

cv::Mat ImageInCache::Pixels() const {
  tav::CDataUnit* unit = nullptr;
  m_sets.Group(0).GetDataUnit(m_id.c_str(), &unit);
  auto* source = dynamic_cast<DW_SourceImage*>(unit);
  if (source == nullptr) return cv::Mat();
  DP_SourceImage* stage = source->GetData(true);
  QZRef<QZMatrix> pixels = stage != nullptr ? stage->GetPrimaryData(true) : QZRef<QZMatrix>();
  return pixels ? pixels->GetMat() : cv::Mat();
}

ImageInCache::~ImageInCache() {
  for (std::size_t s = 0; s < m_sets.Sets().size(); ++s) {
    m_sets.Group(s).MinusSavedTypeCount(m_id, RequestEveryStage());
    m_sets.Group(s).RemoveSameSourceData(m_id);
  }
}

std::vector<Quad> ImageInCache::Regions(std::size_t set) const {
  std::vector<Quad> regions;
  for (ParameterNodeBase* node : m_sets.Group(set).GetTree()->GetAllNodesOfStage(tav::DUST_CANDIDATE_ROIS)) {
    QZRef<DW_CandidateROIs> candidates = static_cast<PN_CandidateROIs*>(node)->GetData(m_id, false, false);
    DP_DetectROIs* detection = candidates ? candidates->GetData(false) : nullptr;
    QZRef<QZQuadList> quads = detection != nullptr ? detection->GetPrimaryData(false) : QZRef<QZQuadList>();
    if (!quads) continue;
    const cv::Mat toSource = candidates->GetTransMatInvertToSourceImage()->GetMat();
    for (const QZ_Quad& quad : quads->quads) {
      Quad corners;
      for (int i = 0; i < 4; ++i) corners[i] = Map(toSource, quad.GetPoint(i));
      regions.push_back(corners);
    }
  }
  return regions;
}

std::vector<cv::Vec4f> ImageInCache::LineSegments(std::size_t set) const {
  std::vector<cv::Vec4f> segments;
  for (ParameterNodeBase* node : m_sets.Group(set).GetTree()->GetAllNodesOfStage(tav::DUST_LINE_SEGMENTS)) {
    for (const std::string& region : m_regionIds[set]) {
      QZRef<DW_LineSegments> wrap = static_cast<PN_LineSegments*>(node)->GetData(region, false, false);
      DP_ProcessLineSet* stage = wrap ? wrap->GetData(false) : nullptr;
      QZRef<LineSegmentSet> lines = stage != nullptr ? stage->GetPrimaryData(false) : QZRef<LineSegmentSet>();
      if (!lines || !lines->toSourceImage) continue;
      const cv::Mat& toSource = lines->toSourceImage->GetMat();
      for (const cv::Vec4f& s : lines->segments) {
        const cv::Point2f a = Map(toSource, {s[0], s[1]}), b = Map(toSource, {s[2], s[3]});
        segments.emplace_back(a.x, a.y, b.x, b.y);
      }
    }
  }
  return segments;
}

std::vector<StageImage> ImageInCache::StageImages(std::size_t set, int stage) const {
  std::vector<StageImage> images;
  const std::vector<ParameterNodeBase*> nodes =
      m_sets.Group(set).GetTree()->GetAllNodesOfStage(static_cast<tav::DataUnitStageType>(stage));
  const bool region = stages::IsRegionStage(stage);
  for (std::size_t n = 0; n < nodes.size(); ++n) {
    // Whole-image results are kept under the image's id, region results under the region's.
    const std::vector<std::string> keys = region ? m_regionIds[set] : std::vector<std::string>{m_id};
    for (std::size_t k = 0; k < keys.size(); ++k) {
      tav::CDataUnit* unit = nullptr;
      // The source image is kept under its own id, every other result under its data hash id.
      char dataId[kHashIdBufferSize];
      if (stage == tav::DUST_SOURCE_IMAGE) {
        std::snprintf(dataId, sizeof dataId, "%s", m_id.c_str());
      } else if (!nodes[n]->CalcDataHashId(keys[k], dataId)) {
        continue;
      }
      m_sets.Group(set).GetDataUnit(dataId, &unit);
      // Pinned while its result object is taken; the caller gets that object, not the wrap.
      const QZRef<DW_Base> wrap = QZRef<DW_Base>::TryPin(dynamic_cast<DW_Base*>(unit));
      if (!wrap) continue;
      ResultPixels found = ResultPixelsOf(*wrap, stage, stages::kEveryStage);
      if (found.pixels.empty()) continue;
      StageImage image;
      image.pixels = std::move(found.pixels);
      image.result = std::move(found.owner);
      image.id = dataId;
      image.node = static_cast<int>(n);
      image.region = region ? static_cast<int>(k) : -1;
      images.push_back(std::move(image));
    }
  }
  return images;
}

std::vector<NodeResults> ImageInCache::ResultsByNode(std::size_t set) const {
  std::vector<NodeResults> byNode;
  for (int stage = stages::kFirstStage; stage <= stages::kLastStage; ++stage) {
    for (ParameterNodeBase* node :
         m_sets.Group(set).GetTree()->GetAllNodesOfStage(static_cast<tav::DataUnitStageType>(stage))) {
      byNode.push_back({node, stage, ResultsOf(*node, m_id)});
    }
  }
  return byNode;
}

std::vector<StageFigures> ImageInCache::Figures() const {
  std::vector<StageFigures> figures(stages::kLastStage);
  std::vector<std::set<std::string>> distinct(stages::kLastStage);
  for (std::size_t s = 0; s < m_sets.Sets().size(); ++s) {
    for (const NodeResults& node : ResultsByNode(s)) {
      StageFigures& stage = figures[node.stage - 1];
      for (const DW_Base* result : node.results) {
        ++stage.holders;
        if (!distinct[node.stage - 1].insert(result->GetDataHashID()).second) continue;
        ++stage.results;
        stage.computeMs += result->GetComputeNanoseconds() / 1e6;
        if (result->IsLoadedFromStore()) ++stage.loaded;
      }
    }
  }
  for (int stage = 1; stage <= stages::kLastStage; ++stage) figures[stage - 1].stage = stage;
  return figures;
}

ImageSummary ImageInCache::Summary(const std::string& name, double seconds) const {
  ImageSummary summary;
  summary.name = name;
  summary.imageId = m_id;
  summary.width = m_width;
  summary.height = m_height;
  summary.seconds = seconds;
  summary.stages = Figures();
  for (std::size_t s = 0; s < m_sets.Sets().size(); ++s) {
    summary.sets.push_back({m_sets.Sets()[s].name, Regions(s), LineSegments(s)});
  }
  return summary;
}

}  // namespace hostkit
}  // namespace orvex
