// Hash ids: short texts that name parameters, nodes and results. An empty id means
// "no id" (hashing failed or nothing was computed yet). All functions are thread-safe
// as long as the object they are given is not used by another thread meanwhile.
#ifndef ORVEX_HASHING_HASHID_H
#define ORVEX_HASHING_HASHID_H

#include <orvex/foundation/Export.h>

#include <string>

namespace orvex {

class QZMatrix;
class QZ_Quad;

// The primitive hash id of `length` bytes at `data`: at most 63 characters, empty when
// the hash function refused the input.
ORVEX_EXPORT std::string GenerateHashId(const void* data, unsigned int length);

// Lets the matrix compute and keep its own hash id; read it with GetHashID() afterwards.
ORVEX_EXPORT bool CalcQZMatrixHashID(QZMatrix& matrix);

// The smallest width and height of a source image: smaller ones are refused.
constexpr int kSmallestImageSide = 8;

// The hash id of a source image (computed into the matrix, and kept there): empty when
// the image is smaller than kSmallestImageSide either way, or its id cannot be computed
// or is longer than 64 characters.
ORVEX_EXPORT std::string SourceImageHashId(QZMatrix& image);

// Lets the quadrilateral compute and keep its own hash id; read it with GetHashID() afterwards.
ORVEX_EXPORT bool CalcQZQuadHashID(QZ_Quad& quad);

}  // namespace orvex

#endif
