// The numeric helpers.
#include <OrvexStagecacheHost.h>

#include <gtest/gtest.h>

namespace orvex {
namespace {

TEST(MathUtils, RoundsHalfAwayFromZero) {
  EXPECT_EQ(MathUtils::round(2.5f), 3);
  EXPECT_EQ(MathUtils::round(-2.5f), -3);
  EXPECT_EQ(MathUtils::round(0.49f), 0);
  EXPECT_EQ(MathUtils::round(-0.49f), 0);
  EXPECT_EQ(MathUtils::round(0.0f), 0);
}

TEST(MathUtils, DistanceOfFloatAndIntegerPoints) {
  EXPECT_FLOAT_EQ(MathUtils::distance(0.0f, 0.0f, 3.0f, 4.0f), 5.0f);
  EXPECT_FLOAT_EQ(MathUtils::distance(1, 1, 4, 5), 5.0f);
  EXPECT_FLOAT_EQ(MathUtils::distance(-2, 0, 2, 0), 4.0f);
}

}  // namespace
}  // namespace orvex
