// Filtering of grayscale-transformation lists and expansion of binarization lists.
#include <OrvexStagecacheHost.h>

#include <gtest/gtest.h>

namespace orvex {
namespace {

std::vector<int32_t> FilteredModes(const std::vector<int32_t>& modes) {
  std::vector<QZVP_GrayscaleTransformationModeStruct> input;
  for (int32_t m : modes) input.emplace_back(m);
  std::vector<QZVP_GrayscaleTransformationModeStruct> output(3, QZVP_GrayscaleTransformationModeStruct(GTM_AUTO));
  FilterGrayscaleTransformationMode(input, output);
  std::vector<int32_t> result;
  for (const auto& record : output) result.push_back(record.mode);
  return result;
}

using Modes = std::vector<int32_t>;

TEST(GrayscaleFilter, FollowsEveryRowOfTheTable) {
  EXPECT_EQ(FilteredModes({}), Modes{});
  EXPECT_EQ(FilteredModes({GTM_SKIP, GTM_SKIP}), Modes{});
  EXPECT_EQ(FilteredModes({GTM_INVERTED}), Modes{GTM_INVERTED});
  EXPECT_EQ(FilteredModes({GTM_ORIGINAL}), Modes{GTM_ORIGINAL});
  EXPECT_EQ(FilteredModes({GTM_AUTO}), (Modes{GTM_ORIGINAL, GTM_INVERTED}));
  EXPECT_EQ(FilteredModes({GTM_INVERTED, GTM_AUTO}), (Modes{GTM_INVERTED, GTM_ORIGINAL}));
  EXPECT_EQ(FilteredModes({GTM_SKIP, GTM_INVERTED, GTM_ORIGINAL}), (Modes{GTM_INVERTED, GTM_ORIGINAL}));
  EXPECT_EQ(FilteredModes({GTM_ORIGINAL, GTM_INVERTED}), (Modes{GTM_ORIGINAL, GTM_INVERTED}));
  EXPECT_EQ(FilteredModes({GTM_REV}), Modes{GTM_ORIGINAL});
  EXPECT_EQ(FilteredModes({GTM_INVERTED, GTM_INVERTED}), Modes{GTM_INVERTED});
}

TEST(GrayscaleFilter, KeepsNoDuplicatesAndCountsUnknownModesAsOriginal) {
  EXPECT_EQ(FilteredModes({1, 1, 1, 1, 1}), Modes{GTM_INVERTED});
  EXPECT_EQ(FilteredModes({3}), Modes{GTM_ORIGINAL});
  EXPECT_EQ(FilteredModes({GTM_SKIP, 3, GTM_INVERTED}), (Modes{GTM_ORIGINAL, GTM_INVERTED}));
}

TEST(GrayscaleFilter, NewRecordsCarryNothingOfTheInput) {
  std::vector<QZVP_GrayscaleTransformationModeStruct> input(1, QZVP_GrayscaleTransformationModeStruct(GTM_AUTO));
  input[0].textArg1 = "kept?";
  input[0].textArg2 = "no";
  input[0].cachedHashId = "stale";
  std::vector<QZVP_GrayscaleTransformationModeStruct> output;
  FilterGrayscaleTransformationMode(input, output);
  ASSERT_EQ(output.size(), 2u);
  for (const auto& record : output) {
    EXPECT_TRUE(record.textArg1.empty());
    EXPECT_TRUE(record.textArg2.empty());
    EXPECT_TRUE(record.cachedHashId.empty());
  }
  EXPECT_EQ(output[0].mode, GTM_ORIGINAL);
}

TEST(GrayscaleFilter, WorksInPlace) {
  std::vector<QZVP_GrayscaleTransformationModeStruct> list;
  list.emplace_back(GTM_INVERTED);
  list.emplace_back(GTM_AUTO);
  FilterGrayscaleTransformationMode(list, list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].mode, GTM_INVERTED);
  EXPECT_EQ(list[1].mode, GTM_ORIGINAL);
}

QZVP_BinarizationModeStruct Binarization(int32_t mode, int32_t intArg5) {
  QZVP_BinarizationModeStruct record;
  record.mode = mode;
  record.intArg1 = 31;
  record.intArg5 = intArg5;
  record.intArg9 = 9;
  record.textArg2 = "keep me";
  return record;
}

TEST(BinarizationExpansion, SplitsOnlyLocalBlockWithTheSpecialOffset) {
  const std::vector<QZVP_BinarizationModeStruct> input = {Binarization(BM_LOCAL_BLOCK, -10000),
                                                          Binarization(BM_THRESHOLD, -10000)};
  std::vector<std::vector<QZVP_BinarizationModeStruct>> groups(4);
  ExtandBinarizationMode(input, groups);
  ASSERT_EQ(groups.size(), 2u);
  ASSERT_EQ(groups[0].size(), 2u);
  EXPECT_EQ(groups[0][0].intArg5, 10);
  EXPECT_EQ(groups[0][1].intArg5, 2);
  for (const auto& copy : groups[0]) {
    EXPECT_EQ(copy.mode, BM_LOCAL_BLOCK);
    EXPECT_EQ(copy.intArg1, 31);
    EXPECT_EQ(copy.intArg9, 9);
    EXPECT_EQ(copy.textArg2, "keep me");
  }
  ASSERT_EQ(groups[1].size(), 1u);
  EXPECT_EQ(groups[1][0].intArg5, -10000);
}

TEST(BinarizationExpansion, KeepsSkipRecordsAndOtherOffsetsAsSingleGroups) {
  const std::vector<QZVP_BinarizationModeStruct> input = {Binarization(BM_SKIP, -10000),
                                                          Binarization(BM_LOCAL_BLOCK, 7)};
  std::vector<std::vector<QZVP_BinarizationModeStruct>> groups;
  ExtandBinarizationMode(input, groups);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].size(), 1u);
  EXPECT_EQ(groups[0][0].mode, BM_SKIP);
  EXPECT_EQ(groups[0][0].intArg5, -10000);
  EXPECT_EQ(groups[1].size(), 1u);
  EXPECT_EQ(groups[1][0].intArg5, 7);
}

TEST(BinarizationExpansion, EmptyInputGivesNoGroupsAndDiscardsOldOutput) {
  std::vector<std::vector<QZVP_BinarizationModeStruct>> groups(3);
  ExtandBinarizationMode({}, groups);
  EXPECT_TRUE(groups.empty());
  std::vector<QZVP_GrayscaleTransformationModeStruct> filtered(2);
  FilterGrayscaleTransformationMode({}, filtered);
  EXPECT_TRUE(filtered.empty());
}

}  // namespace
}  // namespace orvex
