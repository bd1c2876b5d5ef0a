// The region colour image wrap: what it does beyond its table row.
#include <orvex/datawrap/RegionWraps.h>

#include <orvex/hashing/HashId.h>

namespace orvex {

DW_ROIColourImage::DW_ROIColourImage(DW_CandidateROIs* parent, const QZ_Quad& regionQuad)
    : DW_ImageTemplate(parent), quad(regionQuad) {
  SetStageType(tav::DUST_ROI_COLOUR_IMAGE);
  SetMediaType(tav::DUMT_IMAGE);
  MutexLock lock(dataMutex);
  const std::string id = RegionHashId(parent, quad);
  if (!id.empty()) SetDataHashID(id);
}

std::string DW_ROIColourImage::RegionHashId(DW_CandidateROIs* regions, QZ_Quad& quad) {
  // The colour image's id, computed by the candidate regions' stage (or kept with them in
  // a store): a region is named without the colour image's pixels.
  DP_DetectROIs* detection = regions != nullptr ? regions->GetData(false) : nullptr;
  QZRef<QZQuadList> found = detection != nullptr ? detection->GetPrimaryData(false) : QZRef<QZQuadList>();
  if (!found || found->colourImageId.empty()) return std::string();
  CalcQZQuadHashID(quad);
  const std::string matrixId = found->colourImageId;
  if (matrixId.empty() || quad.GetHashID().empty()) return std::string();
  // The source image's id first: two sources whose scaled-down images are equal share that
  // image, but a region's results carry its source's coordinates and are released with it.
  const std::string seed = regions->GetSourceHashID() + matrixId + quad.GetHashID();
  const std::string id = GenerateHashId(seed.data(), static_cast<unsigned int>(seed.size()));
  if (id.empty()) return std::string();
  return id + "-" + std::to_string(static_cast<int>(tav::DUST_ROI_COLOUR_IMAGE));
}

DW_ROIColourImage::DW_ROIColourImage(const DW_ROIColourImage* other) : quad(other->quad) { Clone(other); }

void DW_ROIColourImage::CreateData(bool generate) { InstallStage(NewStageOnParent(quad), generate); }

}  // namespace orvex
