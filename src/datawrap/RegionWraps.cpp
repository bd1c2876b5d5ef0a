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
  QZRef<QZMatrix> colour = regions != nullptr ? regions->GetColourImage() : QZRef<QZMatrix>();
  if (!colour) return std::string();
  // The colour image's pixels never change once computed, so its id is computed once.
  if (colour->GetHashIDLength() == 0) CalcQZMatrixHashID(*colour);
  CalcQZQuadHashID(quad);
  const std::string matrixId = colour->GetHashID();
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
