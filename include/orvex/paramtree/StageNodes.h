// The 23 stage nodes, one per pipeline stage. A node keeps its own copy of its
// parameters, forms its identity at construction, makes its lazy result on top of its
// parent's result (CalcData) and attaches the extra inputs its result needs
// (SetRequiredData). The source node and the region colour image node take their results
// from outside (AddData). Construction enters the node in its parent's child list; the
// tree generation registers it with the tree.
#ifndef ORVEX_PARAMTREE_STAGENODES_H
#define ORVEX_PARAMTREE_STAGENODES_H

#include <orvex/datawrap/RegionWraps.h>
#include <orvex/datawrap/WholeImageWraps.h>
#include <orvex/paramtree/QZDelayObj.h>

#include <vector>

namespace orvex {

class ORVEX_EXPORT PN_SourceImage : public QZDelayObj<DW_SourceImage, PN_NoneNode> {
 public:
  explicit PN_SourceImage(QZParameterTree* tree);
  // Adds (or finds) the result for the image and writes its hash id, with a NUL, into
  // `hashOut` (65 bytes). False for an empty image, one smaller than 8 x 8, one without
  // usable hash id, or one whose id is taken by different pixels. False too, with a log
  // message, when the image was added before (by any tree) with other size arguments:
  // the results made with those are not handed out as if made with these.
  bool AddData(QZRef<QZMatrix>& image, int sourceImageArg1, int sourceImageArg2, char* hashOut);
  // The hash id AddData gives the image (it computes it into the matrix); empty when the
  // image would be refused for its size or id.
  static std::string HashIdOfImage(QZRef<QZMatrix>& image);
  // AddData for an image whose id HashIdOfImage gave already.
  bool AddHashedData(QZRef<QZMatrix>& image, const std::string& id, int sourceImageArg1, int sourceImageArg2);

 private:
  bool ComputesResults() const override { return false; }
};

class ORVEX_EXPORT PN_ColourImageAfterSizeFitting : public QZDelayObj<DW_ColourImageAfterSizeFitting, PN_SourceImage> {
 public:
  PN_ColourImageAfterSizeFitting(QZParameterTree* tree, PN_SourceImage* parent);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
};

class ORVEX_EXPORT PN_ColourImageAfterScalingDown
    : public QZDelayObj<DW_ColourImageAfterScalingDown, PN_ColourImageAfterSizeFitting> {
 public:
  PN_ColourImageAfterScalingDown(QZParameterTree* tree, PN_ColourImageAfterSizeFitting* parent, int scalingDownParameter);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  int m_scalingDownParameter;
};

class ORVEX_EXPORT PN_ColourImageForROI : public QZDelayObj<DW_ColourImageForROI, PN_ColourImageAfterScalingDown> {
 public:
  PN_ColourImageForROI(QZParameterTree* tree, PN_ColourImageAfterScalingDown* parent);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
};

class ORVEX_EXPORT PN_GrayscaleImageColourConverted
    : public QZDelayObj<DW_GrayscaleImageColourConverted, PN_ColourImageForROI> {
 public:
  PN_GrayscaleImageColourConverted(QZParameterTree* tree, PN_ColourImageForROI* parent,
                                   const QZVP_ColourConversionModeStruct& mode);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  QZVP_ColourConversionModeStruct m_mode;
};

class ORVEX_EXPORT PN_GrayscaleImageTransformed
    : public QZDelayObj<DW_GrayscaleImageTransformed, PN_GrayscaleImageColourConverted> {
 public:
  PN_GrayscaleImageTransformed(QZParameterTree* tree, PN_GrayscaleImageColourConverted* parent,
                               const QZVP_GrayscaleTransformationModeStruct& mode);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  void SetRequiredData(const std::string& key, DW_Base* data) override;
  QZVP_GrayscaleTransformationModeStruct m_mode;
};

class ORVEX_EXPORT PN_GrayscaleImageForROI : public QZDelayObj<DW_GrayscaleImageForROI, PN_GrayscaleImageTransformed> {
 public:
  PN_GrayscaleImageForROI(QZParameterTree* tree, PN_GrayscaleImageTransformed* parent);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
};

class ORVEX_EXPORT PN_CandidateROIs : public QZDelayObj<DW_CandidateROIs, PN_GrayscaleImageForROI> {
 public:
  PN_CandidateROIs(QZParameterTree* tree, PN_GrayscaleImageForROI* parent,
                   const QZVP_RegionPredetectionModeStruct& mode);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  void SetRequiredData(const std::string& key, DW_Base* data) override;
  QZVP_RegionPredetectionModeStruct m_mode;
};

class ORVEX_EXPORT PN_ROIColourImage : public QZDelayObj<DW_ROIColourImage, PN_CandidateROIs> {
 public:
  PN_ROIColourImage(QZParameterTree* tree, PN_CandidateROIs* parent);
  // Adds (or finds) the result for one region of a candidate-regions result and writes
  // its hash id, with a NUL, into `hashOut` (65 bytes). False for null regions or a
  // region without hash id.
  bool AddData(DW_CandidateROIs* regions, const QZ_Quad& quad, char* hashOut);

 private:
  bool ComputesResults() const override { return false; }
};

class ORVEX_EXPORT PN_ROIGrayscaleImageColourConverted
    : public QZDelayObj<DW_ROIGrayscaleImageColourConverted, PN_ROIColourImage> {
 public:
  PN_ROIGrayscaleImageColourConverted(QZParameterTree* tree, PN_ROIColourImage* parent,
                                      const QZVP_ColourConversionModeStruct& mode);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  void SetRequiredData(const std::string& key, DW_Base* data) override;
  QZVP_ColourConversionModeStruct m_mode;
};

class ORVEX_EXPORT PN_ROIGrayscaleImageTransformed
    : public QZDelayObj<DW_ROIGrayscaleImageTransformed, PN_ROIGrayscaleImageColourConverted> {
 public:
  PN_ROIGrayscaleImageTransformed(QZParameterTree* tree, PN_ROIGrayscaleImageColourConverted* parent,
                                  const QZVP_GrayscaleTransformationModeStruct& mode);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  QZVP_GrayscaleTransformationModeStruct m_mode;
};

class ORVEX_EXPORT PN_ROIGrayscaleImage : public QZDelayObj<DW_ROIGrayscaleImage, PN_ROIGrayscaleImageTransformed> {
 public:
  PN_ROIGrayscaleImage(QZParameterTree* tree, PN_ROIGrayscaleImageTransformed* parent);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
};

class ORVEX_EXPORT PN_ROIGrayscaleImageRotated : public QZDelayObj<DW_ROIGrayscaleImageRotated, PN_ROIGrayscaleImage> {
 public:
  PN_ROIGrayscaleImageRotated(QZParameterTree* tree, PN_ROIGrayscaleImage* parent);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
};

class ORVEX_EXPORT PN_ROIGrayscaleImagePerspectiveCorrected
    : public QZDelayObj<DW_ROIGrayscaleImagePerspectiveCorrected, PN_ROIGrayscaleImageRotated> {
 public:
  PN_ROIGrayscaleImagePerspectiveCorrected(QZParameterTree* tree, PN_ROIGrayscaleImageRotated* parent);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
};

class ORVEX_EXPORT PN_ROIGrayscaleImageEnhanced
    : public QZDelayObj<DW_ROIGrayscaleImageEnhanced, PN_ROIGrayscaleImagePerspectiveCorrected> {
 public:
  PN_ROIGrayscaleImageEnhanced(QZParameterTree* tree, PN_ROIGrayscaleImagePerspectiveCorrected* parent,
                               const QZVP_GrayscaleEnhancementModeStruct& mode);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  QZVP_GrayscaleEnhancementModeStruct m_mode;
};

class ORVEX_EXPORT PN_ROIGaryImageProcessed : public QZDelayObj<DW_ROIGaryImageProcessed, PN_ROIGrayscaleImageEnhanced> {
 public:
  PN_ROIGaryImageProcessed(QZParameterTree* tree, PN_ROIGrayscaleImageEnhanced* parent);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
};

class ORVEX_EXPORT PN_ROIBinaryImage : public QZDelayObj<DW_ROIBinaryImage, PN_ROIGaryImageProcessed> {
 public:
  PN_ROIBinaryImage(QZParameterTree* tree, PN_ROIGaryImageProcessed* parent, const QZVP_BinarizationModeStruct& mode);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  QZVP_BinarizationModeStruct m_mode;
};

class ORVEX_EXPORT PN_ROITextureDetectionResult : public QZDelayObj<DW_TextureDetectionResult, PN_ROIBinaryImage> {
 public:
  PN_ROITextureDetectionResult(QZParameterTree* tree, PN_ROIBinaryImage* parent,
                               const std::vector<QZVP_TextureDetectionModeStruct>& modes);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  std::vector<QZVP_TextureDetectionModeStruct> m_modes;
};

class ORVEX_EXPORT PN_ROIGrayscaleImageForStructurizing
    : public QZDelayObj<DW_ROIGrayscaleImageForStructurizing, PN_ROITextureDetectionResult> {
 public:
  PN_ROIGrayscaleImageForStructurizing(QZParameterTree* tree, PN_ROITextureDetectionResult* parent,
                                       const QZVP_GrayscaleEnhancementModeStruct& mode);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  void SetRequiredData(const std::string& key, DW_Base* data) override;
  QZVP_GrayscaleEnhancementModeStruct m_mode;
};

class ORVEX_EXPORT PN_ROIBinaryImageForTextFiltering
    : public QZDelayObj<DW_ROIBinaryImageForTextFiltering, PN_ROIGrayscaleImageForStructurizing> {
 public:
  PN_ROIBinaryImageForTextFiltering(QZParameterTree* tree, PN_ROIGrayscaleImageForStructurizing* parent,
                                    const QZVP_BinarizationModeStruct& mode);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  void SetRequiredData(const std::string& key, DW_Base* data) override;
  QZVP_BinarizationModeStruct m_mode;
};

class ORVEX_EXPORT PN_ROIBinaryImageForStructurizing
    : public QZDelayObj<DW_ROIBinaryImageForStructurizing, PN_ROIBinaryImageForTextFiltering> {
 public:
  PN_ROIBinaryImageForStructurizing(QZParameterTree* tree, PN_ROIBinaryImageForTextFiltering* parent,
                                    const std::vector<QZVP_TextFilterModeStruct>& modes);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  std::vector<QZVP_TextFilterModeStruct> m_modes;
};

class ORVEX_EXPORT PN_Contours : public QZDelayObj<DW_Contours, PN_ROIBinaryImageForStructurizing> {
 public:
  PN_Contours(QZParameterTree* tree, PN_ROIBinaryImageForStructurizing* parent);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
};

class ORVEX_EXPORT PN_LineSegments : public QZDelayObj<DW_LineSegments, PN_Contours> {
 public:
  PN_LineSegments(QZParameterTree* tree, PN_Contours* parent, const QZVP_LineExtractionModeStruct& mode);

 private:
  QZRef<DW_Base> CalcData(const std::string& key, DW_Base* parentResult) override;
  void SetRequiredData(const std::string& key, DW_Base* data) override;
  QZVP_LineExtractionModeStruct m_mode;
};

}  // namespace orvex

#endif
