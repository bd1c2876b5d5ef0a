// Canonical texts and hash ids of the mode records.
#include <OrvexStagecacheHost.h>

#include <gtest/gtest.h>

#include <climits>

namespace orvex {
namespace {

std::string HashOfText(const std::string& text) { return GenerateHashId(text.data(), text.size()); }

TEST(GrayscaleTransformationRecord, RendersModeLiteralAndTexts) {
  QZVP_GrayscaleTransformationModeStruct record(GTM_INVERTED);
  EXPECT_EQ(record.ToString(), "[GTM_INVERTED][][]");
  record.mode = 3;  // no constant of that value
  EXPECT_EQ(record.ToString(), "[][]");
  record.mode = GTM_REV;
  record.textArg1 = "a]b";
  EXPECT_EQ(record.ToString(), "[GTM_REV][a]b][]");
}

TEST(ColourConversionRecord, RendersChannelOnlyForItsThreeValues) {
  QZVP_ColourConversionModeStruct record;
  record.mode = CICM_GENERAL;
  record.channel = QZVP_S_CHANNEL;
  EXPECT_EQ(record.ToString(), "[CICM_GENERAL][QZVP_S_CHANNEL][0][0][0][][]");
  record.channel = QZVP_V_CHANNEL;
  record.mode = CICM_HSV;
  EXPECT_EQ(record.ToString(), "[CICM_HSV][QZVP_V_CHANNEL][0][0][0][][]");
  for (int32_t channel : {0, 3}) {
    record.channel = channel;
    EXPECT_EQ(record.ToString(), "[CICM_HSV][0][0][0][][]") << channel;
  }
  record.mode = CICM_REV;
  record.channel = QZVP_H_CHANNEL;
  record.intArg1 = -7;
  record.intArg2 = INT32_MIN;
  record.intArg3 = INT32_MAX;
  record.textArg2 = "x";
  EXPECT_EQ(record.ToString(), "[CICM_REV][QZVP_H_CHANNEL][-7][-2147483648][2147483647][][x]");
}

TEST(BinarizationRecord, RendersTenNumbersInOrder) {
  QZVP_BinarizationModeStruct record;
  record.mode = BM_LOCAL_BLOCK;
  record.intArg1 = 5;
  record.intArg2 = 5;
  record.intArg5 = -10000;
  record.intArg10 = 1;
  EXPECT_EQ(record.ToString(), "[BM_LOCAL_BLOCK][5][5][0][0][-10000][0][0][0][0][1][][]");
  record.mode = BM_THRESHOLD;
  record.intArg6 = 6;
  record.intArg7 = 7;
  record.textArg1 = "t";
  EXPECT_EQ(record.ToString(), "[BM_THRESHOLD][5][5][0][0][-10000][6][7][0][0][1][t][]");
}

TEST(EnhancementRecord, FirstArgumentTakesNoPartInTextOrHash) {
  QZVP_GrayscaleEnhancementModeStruct a;
  a.mode = GEM_GRAY_SMOOTH;
  a.intArg1 = 1;
  a.intArg2 = 2;
  a.intArg5 = 5;
  QZVP_GrayscaleEnhancementModeStruct b = a;
  b.intArg1 = 999;
  EXPECT_EQ(a.ToString(), "[GEM_GRAY_SMOOTH][2][0][0][5][][]");
  EXPECT_EQ(a.ToString(), b.ToString());
  EXPECT_EQ(CalcHashValueOfMode(&a), CalcHashValueOfMode(&b));
}

TEST(TextureAndTextFilterRecords, RenderEveryFieldInDeclarationOrder) {
  QZVP_TextureDetectionModeStruct texture;
  texture.mode = TDM_GENERAL_WIDTH_CONCENTRATION;
  texture.intArg1 = 12;
  EXPECT_EQ(texture.ToString(), "[TDM_GENERAL_WIDTH_CONCENTRATION][12][][]");
  QZVP_TextFilterModeStruct filter;
  filter.mode = TFM_GENERAL_CONTOUR;
  filter.intArg1 = 1;
  filter.intArg2 = 2;
  filter.intArg3 = 3;
  filter.textArg1 = "p";
  EXPECT_EQ(filter.ToString(), "[TFM_GENERAL_CONTOUR][1][2][3][p][]");
}

TEST(LineExtractionRecord, ZeroIsARealModeAndTheReverseConstantHasNoLiteral) {
  QZVP_LineExtractionModeStruct line;
  EXPECT_EQ(line.mode, LEM_GENERAL);
  EXPECT_EQ(line.ToString(), "[LEM_GENERAL][][]");  // 0 is a real mode here, not a skip
  line.mode = LEM_SKIP;
  EXPECT_EQ(line.ToString(), "[LEM_SKIP][][]");
  line.mode = GTM_REV;  // line extraction has no reverse constant
  EXPECT_EQ(line.ToString(), "[][]");
}

TEST(RegionPredetectionRecord, EmptyRecordRendersZerosAndEmptyLists) {
  QZVP_RegionPredetectionModeStruct record;
  EXPECT_EQ(record.ToString(), "[RPM_SKIP][0][0][0][0][0][0,0,0,0,0,0,0,0][][][]");
}

TEST(RegionPredetectionRecord, ModesSixteenAndThirtyTwoDiffer) {
  QZVP_RegionPredetectionModeStruct hsv, manual;
  hsv.mode = 16;
  manual.mode = 32;
  EXPECT_EQ(hsv.ToString().rfind("[RPM_GENERAL_HSV_CONTRAST]", 0), 0u);
  EXPECT_EQ(manual.ToString().rfind("[RPM_MANUAL_SPECIFICATION]", 0), 0u);
  EXPECT_NE(CalcHashValueOfMode(&hsv), CalcHashValueOfMode(&manual));
}

TEST(RegionPredetectionRecord, ListsRunTogetherInTheirOwnElementOrder) {
  QZVP_RegionPredetectionModeStruct record;
  record.mode = RPM_MANUAL_SPECIFICATION;
  record.intArg1 = 1;
  record.relativeRegions.push_back({1, 2, 3, 4, 5});
  record.foreAndBackgroundColours.push_back({7, 8, 9});
  record.rangeList1.push_back({10, 20});
  record.rangeList2.push_back({-3, 4});
  record.rangeList3.push_back({0, 1});
  record.intArg5 = -1;
  for (int i = 0; i < 8; ++i) record.intPairArray[i] = i - 3;
  record.textArg3 = "z";
  EXPECT_EQ(record.ToString(),
            "[RPM_MANUAL_SPECIFICATION][1][0][0]" "23415" "897" "1020" "-34" "01" "[0][-1][-3,-2,-1,0,1,2,3,4][][][z]");
}

TEST(RegionPredetectionRecord, RunTogetherNumbersCanCoincide) {
  QZVP_RegionPredetectionModeStruct a, b;
  a.rangeList1.push_back({12, 3});
  b.rangeList1.push_back({1, 23});
  EXPECT_EQ(a.ToString(), b.ToString());
  EXPECT_EQ(CalcHashValueOfMode(&a), CalcHashValueOfMode(&b));
}

TEST(RegionPredetectionRecord, CopiesCarryListsArrayAndCache) {
  QZVP_RegionPredetectionModeStruct record;
  record.relativeRegions.push_back({1, 2, 3, 4, 5});
  record.intPairArray[7] = 70;
  const std::string id = CalcHashValueOfMode(&record);
  QZVP_RegionPredetectionModeStruct copy = record;
  EXPECT_EQ(copy.cachedHashId, id);
  EXPECT_EQ(copy.intPairArray[7], 70);
  EXPECT_EQ(copy.ToString(), record.ToString());
}

TEST(RecordHash, IsTheHashOfTheTextAndIsCached) {
  QZVP_BinarizationModeStruct record;
  record.mode = BM_THRESHOLD;
  EXPECT_TRUE(record.cachedHashId.empty());
  const std::string id = CalcHashValueOfMode(&record);
  EXPECT_EQ(id, HashOfText(record.ToString()));
  EXPECT_EQ(record.cachedHashId, id);
  record.intArg1 = 99;  // the cache is never cleared by the library
  EXPECT_EQ(CalcHashValueOfMode(&record), id);
}

bool RefuseEverything(const void*, unsigned int, char*) { return false; }

TEST(RecordHash, FailedHashLeavesCacheEmptyAndIsRetried) {
  QZVP_LineExtractionModeStruct record;
  SetGenerateHashForTesting(&RefuseEverything);
  EXPECT_EQ(CalcHashValueOfMode(&record), "");
  EXPECT_TRUE(record.cachedHashId.empty());
  EXPECT_EQ(GenerateHashId("abc", 3), "");
  SetGenerateHashForTesting(nullptr);
  EXPECT_EQ(CalcHashValueOfMode(&record), HashOfText("[LEM_GENERAL][][]"));
}

TEST(ListHash, JoinsMemberIdsAndFillsTheirCaches) {
  std::vector<QZVP_TextFilterModeStruct> list(2);
  list[0].mode = TFM_AUTO;
  list[1].mode = TFM_GENERAL_CONTOUR;
  const std::string joined = HashOfText(list[0].ToString()) + HashOfText(list[1].ToString());
  EXPECT_EQ(CalcHashValueOfModesVec(&list), HashOfText(joined));
  EXPECT_FALSE(list[0].cachedHashId.empty());
  EXPECT_FALSE(list[1].cachedHashId.empty());
  std::vector<QZVP_TextFilterModeStruct> reversed = {list[1], list[0]};
  EXPECT_NE(CalcHashValueOfModesVec(&reversed), CalcHashValueOfModesVec(&list));
}

TEST(ListHash, EmptyListIsTheHashOfNoBytes) {
  std::vector<QZVP_TextureDetectionModeStruct> none;
  const std::string id = CalcHashValueOfModesVec(&none);
  EXPECT_EQ(id, GenerateHashId(nullptr, 0));
  EXPECT_EQ(id.size(), 32u);
}

}  // namespace
}  // namespace orvex
