#include <orvex/hashing/HashId.h>

#include <orvex/improc/GenerateHash.h>
#include <orvex/improc/QZMatrix.h>
#include <orvex/improc/QZ_Quad.h>

#include <algorithm>

namespace orvex {

std::string GenerateHashId(const void* data, unsigned int length) {
  char buffer[64];
  if (!GenerateHash(data, length, buffer)) return std::string();
  buffer[sizeof buffer - 1] = '\0';
  return std::string(buffer);
}

bool CalcQZMatrixHashID(QZMatrix& matrix) { return matrix.CalcHashID(); }

std::string SourceImageHashId(QZMatrix& image) {
  if (std::min(image.GetMat().rows, image.GetMat().cols) < kSmallestImageSide) return std::string();
  if (!image.CalcHashID()) return std::string();
  std::string id = image.GetHashID();
  if (id.size() > 64) id.clear();
  return id;
}

bool CalcQZQuadHashID(QZ_Quad& quad) { return quad.CalcHashID(); }

}  // namespace orvex
