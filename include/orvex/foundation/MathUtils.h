// Small numeric helpers.
#ifndef ORVEX_FOUNDATION_MATHUTILS_H
#define ORVEX_FOUNDATION_MATHUTILS_H

#include <orvex/Export.h>

namespace orvex {

class ORVEX_EXPORT MathUtils {
 public:
  MathUtils() = delete;

  // Rounds half away from zero: 2.5 gives 3, -2.5 gives -3, 0.49 gives 0.
  static int round(float value);
  // Distance of (x1, y1) and (x2, y2), in single precision.
  static float distance(float x1, float y1, float x2, float y2);
  // The same for integer points; the squares are summed in 32-bit integers.
  static float distance(int x1, int y1, int x2, int y2);
};

}  // namespace orvex

#endif
