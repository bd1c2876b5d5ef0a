// The source node and the region colour image node: the results the host hands in.
#include <orvex/paramtree/StageNodes.h>

#include <orvex/hashing/HashId.h>
#include <orvex/improc/QZLog.h>
#include <orvex/paramtree/DataUnitManager.h>
#include <orvex/paramtree/QZParameterTree.h>

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

using SourceRow = StageRow<tav::DUST_SOURCE_IMAGE>;

void WriteHashOut(const std::string& id, char* hashOut) {
  if (hashOut != nullptr) std::memcpy(hashOut, id.c_str(), id.size() + 1);
}

// Pixels of two images are the same: same shape, type and row bytes.
bool SamePixels(const QZMatrix& a, const QZMatrix& b) {
  if (&a == &b) return true;
  const cv::Mat& x = a.GetMat();
  const cv::Mat& y = b.GetMat();
  if (x.rows != y.rows || x.cols != y.cols || x.type() != y.type()) return false;
  if (x.data == y.data && x.step == y.step) return true;  // the very same pixels
  const size_t rowBytes = x.cols * x.elemSize();
  for (int r = 0; r < x.rows; ++r)
    if (std::memcmp(x.ptr(r), y.ptr(r), rowBytes) != 0) return false;
  return true;
}

// Whether a result found under an image's hash id is that image's source result.
// A result of an image known by its id whose pixels were never fetched is taken on its id.
bool IsSourceOf(const QZRef<DW_Base>& found, const QZMatrix& image) {
  const DW_SourceImage* source = dynamic_cast<const DW_SourceImage*>(found.get());
  if (source == nullptr) return false;
  const QZRef<QZMatrix> pixels = source->GetSourceImage();
  return pixels ? SamePixels(*pixels, image) : source->IsKnownById();
}

}  // namespace

PN_SourceImage::PN_SourceImage(QZParameterTree* tree) : QZDelayObj(tree) {
  SetStage(tav::DUST_SOURCE_IMAGE);
  static const std::string singleMode = HashOfKeyText(SourceRow::kModeKey);
  static const std::string layer = HashOfKeyText(SourceRow::kLayerKey);
  static const std::string global = HashOfKeyText(SourceRow::kGlobalKey);
  m_singleModeHash = singleMode;
  m_layerHash = layer;
  m_globalHash = global + "+" + std::to_string(static_cast<int>(tav::DUST_SOURCE_IMAGE));
  PublishHashId();
  m_referenceHash = m_globalHash;
}

bool PN_SourceImage::AddData(QZRef<QZMatrix>& image, int sourceImageArg1, int sourceImageArg2, char* hashOut) {
  const std::string id = image ? SourceImageHashId(*image) : std::string();
  if (id.empty() || !AddHashedData(image, id, sourceImageArg1, sourceImageArg2)) return false;
  WriteHashOut(id, hashOut);
  return true;
}

bool PN_SourceImage::IsKnown(const std::string& id) {
  {
    MutexLock lock(m_dataMutex);
    if (m_dataMap.Find(id) != nullptr) return true;
  }
  QZRef<DW_Base> found;  // dropped after the table's lock
  return m_table != nullptr && m_table->GetFromTotalDataMap(id, found);
}

bool PN_SourceImage::AddHashedData(QZRef<QZMatrix>& image, const std::string& id, int sourceImageArg1,
                                   int sourceImageArg2, bool handedOver, const DW_Base** checked) {
  // A new source result keeps pixels of its own, copied before any lock is taken: the
  // host may refill its matrix with the next frame, and nothing cached under this id may
  // change with it. A matrix handed over that shares its pixels with nobody is its own.
  QZRef<QZMatrix> ownPixels;
  if (handedOver && image->GetRefCount() == 1 && image->HoldsItsPixelsAlone()) ownPixels = image;
  else if (!IsKnown(id)) ownPixels.reset(image->CopyOwnPixels());
  // Handles declared before the lock: what they drop is freed after it.
  QZRef<DW_Base> made;
  QZRef<DW_Base> result;
  DataUnitManager::Leftovers leftovers;
  const auto make = [&] {
    if (!ownPixels) ownPixels.reset(image->CopyOwnPixels());
    made.reset(new DW_SourceImage(ownPixels, sourceImageArg1, sourceImageArg2));
    made->SetDataHashID(id);
    made->SetSourceHashID(id);
    return made;
  };
  {
    MutexLock lock(m_dataMutex);
    bool own = false, created = false;
    result = OwnOrAdd(id, make, &own, &created, leftovers);
    if (!created) {
      // An equal id with other pixels is a hash collision: never hand out another image's results.
      const bool compared = checked != nullptr && *checked == result.get();
      if (!compared && !IsSourceOf(result, *image)) return false;
      if (!MadeWithSizeArguments(*result, sourceImageArg1, sourceImageArg2)) return false;
    }
    Keep(id, result, own, created);
    if (checked != nullptr) *checked = result.get();
  }
  // An image known by its id whose pixels could not be had takes these, which have its id.
  auto* known = dynamic_cast<DW_SourceImage*>(result.get());
  if (known != nullptr && known->NeedsPixels()) {
    if (!ownPixels) ownPixels.reset(image->CopyOwnPixels());
    known->OfferPixels(ownPixels);
  }
  return true;
}

bool PN_SourceImage::AddKnownImage(const std::string& id, QZRef<SourcePixels> pixels, int sourceImageArg1,
                                   int sourceImageArg2) {
  if (id.empty() || id.size() > kHashIdBufferSize - 1 || !pixels) return false;
  // Handles declared before the lock: what they drop is freed after it.
  QZRef<DW_Base> made;
  QZRef<DW_Base> result;
  DataUnitManager::Leftovers leftovers;
  const auto make = [&] {
    made.reset(new DW_SourceImage(pixels, id, sourceImageArg1, sourceImageArg2));
    made->SetDataHashID(id);
    made->SetSourceHashID(id);
    return made;
  };
  {
    MutexLock lock(m_dataMutex);
    bool own = false, created = false;
    result = OwnOrAdd(id, make, &own, &created, leftovers);
    if (!created && !MadeWithSizeArguments(*result, sourceImageArg1, sourceImageArg2)) return false;
    Keep(id, result, own, created);
  }
  // A known image whose pixels could not be had tries this add's loader next.
  auto* known = dynamic_cast<DW_SourceImage*>(result.get());
  if (known != nullptr && known != made.get() && known->NeedsPixels()) known->OfferPixels(pixels);
  return true;
}

template <class Make>
QZRef<DW_Base> PN_SourceImage::OwnOrAdd(const std::string& id, const Make& make, bool* own, bool* created,
                                        DataUnitManager::Leftovers& leftovers) {
  *created = false;
  if (const QZRef<DW_Base>* found = m_dataMap.Find(id)) {
    *own = true;
    return *found;
  }
  *own = false;
  if (m_table != nullptr) return m_table->FindOrAdd(id, m_stageType, make, created, leftovers);
  *created = true;
  return make();
}

void PN_SourceImage::Keep(const std::string& id, const QZRef<DW_Base>& result, bool own, bool created) {
  if (!own) KeepNewResult(id, result, created);
  CountRequest(own ? RequestCounters::kOwn : created ? RequestCounters::kCreated : RequestCounters::kAdopted);
}

bool PN_SourceImage::MadeWithSizeArguments(const DW_Base& result, int sourceImageArg1, int sourceImageArg2) {
  const auto& source = static_cast<const DW_SourceImage&>(result);
  if (source.GetSourceImageArg1() == sourceImageArg1 && source.GetSourceImageArg2() == sourceImageArg2) return true;
  QZLog::m_instance.WriteMessage(1, "PN_SourceImage: refused, the image was added before with other size arguments");
  return false;
}

bool PN_ROIColourImage::AddData(DW_CandidateROIs* regions, const QZ_Quad& quad, char* hashOut) {
  if (regions == nullptr) return false;
  QZ_Quad region(quad);
  const std::string id = DW_ROIColourImage::RegionHashId(regions, region);
  if (id.empty()) return false;
  {
    // Handles declared before the lock: what they drop is freed after it.
    QZRef<DW_Base> made;
    QZRef<DW_Base> result;
    DataUnitManager::Leftovers leftovers;
    ChainPins pins;
    const auto make = [&] {
      made.reset(new DW_ROIColourImage(regions, quad));
      if (m_table != nullptr) made->SetResultStore(m_table->GetResultStore());
      return made;
    };
    MutexLock lock(m_dataMutex);
    if (m_dataMap.Find(id) == nullptr) {
      // The region's id is recorded first, so that nothing can fail between entering the
      // result in the table and keeping it (an id recorded for nothing goes with the release).
      if (m_tree != nullptr) m_tree->AddRegionId(regions->GetSourceHashID(), id);
      // Another tree may hold this region already: its result is adopted, never replaced.
      bool created = true;
      result = m_table != nullptr ? m_table->FindOrAdd(id, m_stageType, make, &created, leftovers) : make();
      if (!result) return false;
      KeepNewResult(id, result, created);
      if (!created) HoldAncestorsOf(id, *result, pins);
      CountRequest(created ? RequestCounters::kCreated : RequestCounters::kAdopted);
    } else {
      CountRequest(RequestCounters::kOwn);
    }
  }
  if (id.size() > kHashIdBufferSize - 1) return false;
  WriteHashOut(id, hashOut);
  return true;
}

}  // namespace orvex
