// Small numeric helpers.
#ifndef ORVEX_FOUNDATION_MATHUTILS_H
#define ORVEX_FOUNDATION_MATHUTILS_H

#include <cmath>

namespace orvex {

class MathUtils {
 public:
  MathUtils() = delete;

  // Rounds half away from zero: 2.5 gives 3, -2.5 gives -3, 0.49 gives 0.
  static int round(float value) {
    const double v = value;
    return static_cast<int>(v > 0 ? v + 0.5 : v - 0.5);
  }
  // Distance of (x1, y1) and (x2, y2), in single precision.
  static float distance(float x1, float y1, float x2, float y2) {
    const float dx = x1 - x2;
    const float dy = y1 - y2;
    return std::sqrt(dx * dx + dy * dy);
  }
  // The same for integer points; the squares are summed in 32-bit integers.
  static float distance(int x1, int y1, int x2, int y2) {
    const int dx = x1 - x2;
    const int dy = y1 - y2;
    return static_cast<float>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
  }
};

}  // namespace orvex

#endif
