#include <orvex/improc/QZ_Quad.h>

#include <orvex/improc/GenerateHash.h>

#include <cstdint>

namespace orvex {

QZ_Quad::QZ_Quad() = default;

QZ_Quad::QZ_Quad(const cv::Point& p0, const cv::Point& p1, const cv::Point& p2, const cv::Point& p3)
    : m_points{p0, p1, p2, p3} {}

QZ_Quad::QZ_Quad(const core::CQuadrilateral& quad) {
  for (int i = 0; i < 4; ++i) m_points[i] = cv::Point(quad.points[i].x, quad.points[i].y);
}

bool QZ_Quad::CalcHashID() {
  int32_t coordinates[8];
  for (int i = 0; i < 4; ++i) {
    coordinates[2 * i] = m_points[i].x;
    coordinates[2 * i + 1] = m_points[i].y;
  }
  char text[64];
  if (!GenerateHash(coordinates, sizeof coordinates, text)) {
    m_hashId.clear();
    return false;
  }
  m_hashId = text;
  return true;
}

}  // namespace orvex
