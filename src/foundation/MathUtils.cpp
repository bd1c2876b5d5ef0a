#include <orvex/foundation/MathUtils.h>

#include <cmath>

namespace orvex {

int MathUtils::round(float value) {
  const double v = value;
  return static_cast<int>(v > 0 ? v + 0.5 : v - 0.5);
}

float MathUtils::distance(float x1, float y1, float x2, float y2) {
  const float dx = x1 - x2;
  const float dy = y1 - y2;
  return std::sqrt(dx * dx + dy * dy);
}

float MathUtils::distance(int x1, int y1, int x2, int y2) {
  const int dx = x1 - x2;
  const int dy = y1 - y2;
  return static_cast<float>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
}

}  // namespace orvex
