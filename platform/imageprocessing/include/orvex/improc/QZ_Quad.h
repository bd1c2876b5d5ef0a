// A quadrilateral of four corner points, with its hash id. Plain value type.
#ifndef ORVEX_IMPROC_QZ_QUAD_H
#define ORVEX_IMPROC_QZ_QUAD_H

#include <orvex/foundation/Export.h>
#include <orvex/core/CImageData.h>

#include <opencv2/core.hpp>

#include <string>

namespace orvex {

class ORVEX_EXPORT QZ_Quad {
 public:
  QZ_Quad();
  QZ_Quad(const cv::Point& p0, const cv::Point& p1, const cv::Point& p2, const cv::Point& p3);
  explicit QZ_Quad(const core::CQuadrilateral& quad);

  const cv::Point& GetPoint(int i) const { return m_points[i]; }
  void SetPoint(int i, const cv::Point& p) { m_points[i] = p; }

  // Hashes the eight coordinates in point order and keeps the text; false when hashing failed.
  bool CalcHashID();
  const std::string& GetHashID() const { return m_hashId; }

 private:
  cv::Point m_points[4];
  std::string m_hashId;
};

}  // namespace orvex

#endif
