// The results of the processing stages that are more than one image. Once a stage has
// settled, its result is read only: the images a result holds are held as const.
#ifndef ORVEX_IMPROC_STAGERESULTS_H
#define ORVEX_IMPROC_STAGERESULTS_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/QZRef.h>
#include <orvex/improc/QZMatrix.h>
#include <orvex/improc/QZ_Quad.h>

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace orvex {

// An image with the quadrilateral it shows, in the image's own coordinates.
class ORVEX_EXPORT ImageWithQuad : public QZObjectBase {
 public:
  ImageWithQuad(const cv::Mat& image, const QZ_Quad& quad);
  QZRef<const QZMatrix> image;
  QZ_Quad quad;
};

// Candidate regions, in the coordinates of the image they were found in, and the hash id
// of the colour image they are cut from (empty without one), which names the regions.
class ORVEX_EXPORT QZQuadList : public QZObjectBase {
 public:
  std::vector<QZ_Quad> quads;
  std::string colourImageId;
};

// Where a binary region image is textured: a 0/255 mask of the image's size.
class ORVEX_EXPORT TextureDetectionResult : public QZObjectBase {
 public:
  QZRef<const QZMatrix> textureMask;
  double texturedFraction = 0.0;
};

// A binary image after small components were removed, and how many were.
class ORVEX_EXPORT FilteredBinaryImage : public QZObjectBase {
 public:
  QZRef<const QZMatrix> image;
  int removedComponents = 0;
};

// Outer contours of a binary image.
class ORVEX_EXPORT ContourSet : public QZObjectBase {
 public:
  std::vector<std::vector<cv::Point>> contours;
};

// Line segments (x1, y1, x2, y2) in region coordinates, with the 3 x 3 transform that
// maps region coordinates back to the source image. A region whose transform from the
// source cannot be inverted has no place in the source image: its segments stay in
// region coordinates, toSourceImage is null, and hosts leave them out of source-image
// coordinates.
class ORVEX_EXPORT LineSegmentSet : public QZObjectBase {
 public:
  std::vector<cv::Vec4f> segments;
  QZRef<const QZMatrix> toSourceImage;
};

}  // namespace orvex

#endif
