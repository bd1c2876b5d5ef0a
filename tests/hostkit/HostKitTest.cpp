// The host kit as a host uses it: parameter files, registration by parameters, an image's
// results per set in source-image coordinates, and the process's pool with its store.
#include <orvex/hostkit/FileResultStore.h>
#include <orvex/hostkit/ImageFiles.h>
#include <orvex/hostkit/ParameterSets.h>
#include <orvex/hostkit/ProcessPool.h>
#include <orvex/hostkit/SetGroups.h>
#include <orvex/modes/ModeFields.h>

#include "../support/TestScene.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace orvex {
namespace hostkit {
namespace {

std::string ErrorOf(const std::string& text, const std::string& source = "sets.json") {
  try {
    ParseParameterSets(text, source);
  } catch (const ParameterError& error) {
    return error.what();
  }
  return std::string();
}

// The default sets' file with `edit` applied to the text of the first set.
std::string EditedDefaults(const std::string& from, const std::string& to) {
  std::string text = WriteParameterSets(DefaultParameterSets());
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Gives every described field but the mode a value of its own: integers count up (kept in
// their ranges), texts name their field, the channel takes a literal, lists hold two records.
class DistinctValues {
 public:
  void Literal(const char* name, int32_t& value, const ModeLiteralList& literals) {
    if (std::string(name) != "mode") value = literals.begin()[m_next++ % literals.count].value;
  }
  void Integer(const char*, int32_t& value, FieldRange range) {
    value = range.applies ? static_cast<int32_t>(std::min<int64_t>(range.highest, range.lowest + m_next)) : m_next;
    ++m_next;
  }
  void HiddenInteger(const char* name, int32_t& value) { Integer(name, value, kAnyValue); }
  void Text(const char* name, std::string& value) { value = std::string("x]") + name; }
  void IntegerArray(const char*, int32_t (&values)[8]) {
    for (int32_t& value : values) value = m_next++;
  }
  template <class Sub>
  void List(const char*, std::vector<Sub>& records, bool) {
    records.resize(2);
    for (Sub& record : records) ModeFields<Sub>::Visit(record, *this);
  }

 private:
  int32_t m_next = 1;
};

// Every described field of a record as "name=value;", lists and hidden fields included.
class FieldDump {
 public:
  template <class Record>
  static std::string Of(const Record& record) {
    FieldDump dump;
    ModeFields<Record>::Visit(record, dump);
    return dump.m_text;
  }
  void Literal(const char* name, int32_t value, const ModeLiteralList&) { Add(name, std::to_string(value)); }
  void Integer(const char* name, int32_t value, FieldRange) { Add(name, std::to_string(value)); }
  void HiddenInteger(const char* name, int32_t value) { Add(name, std::to_string(value)); }
  void Text(const char* name, const std::string& value) { Add(name, value); }
  void IntegerArray(const char* name, const int32_t (&values)[8]) {
    for (int32_t value : values) Add(name, std::to_string(value));
  }
  template <class Sub>
  void List(const char* name, const std::vector<Sub>& records, bool) {
    for (const Sub& record : records) Add(name, Of(record));
  }

 private:
  void Add(const char* name, const std::string& value) { m_text += std::string(name) + "=" + value + ";"; }
  std::string m_text;
};

// The names and addresses a description visits: none may come twice.
class FieldIdentity {
 public:
  template <class Record>
  static void Check(Record& record) {
    FieldIdentity identity;
    ModeFields<Record>::Visit(record, identity);
  }
  void Literal(const char* name, int32_t& value, const ModeLiteralList&) { Seen(name, &value); }
  void Integer(const char* name, int32_t& value, FieldRange) { Seen(name, &value); }
  void HiddenInteger(const char* name, int32_t& value) { Seen(name, &value); }
  void Text(const char* name, std::string& value) { Seen(name, &value); }
  void IntegerArray(const char* name, int32_t (&values)[8]) { Seen(name, values); }
  template <class Sub>
  void List(const char* name, std::vector<Sub>& records, bool) {
    Seen(name, &records);
    records.resize(1);
    Check(records[0]);
  }

 private:
  void Seen(const char* name, const void* address) {
    EXPECT_TRUE(m_names.insert(name).second) << name << " is described twice";
    EXPECT_TRUE(m_addresses.insert(address).second) << name << " shares its member with another field";
  }
  std::set<std::string> m_names;
  std::set<const void*> m_addresses;
};

TEST(ParameterSets, EveryModeAndFieldRoundTripsThroughTheFile) {
  std::vector<ParameterSet> sets = DefaultParameterSets();
  // One record per literal of each list, every other field given a value of its own.
  VisitModeLists(sets[0].parameters, [](const char*, auto& list, ModeListRole) {
    using Record = typename std::decay_t<decltype(list)>::value_type;
    list.clear();
    for (const ModeLiteral& literal : ModeLiteralsOf<Record>()) {
      Record record;
      record.mode = literal.value;
      DistinctValues values;
      ModeFields<Record>::Visit(record, values);
      FieldIdentity::Check(record);
      list.push_back(record);
    }
  });
  sets[0].parameters.scalingDownValue = 777;
  const std::string text = WriteParameterSets(sets);
  const std::vector<ParameterSet> read = ParseParameterSets(text, "round trip");
  ASSERT_EQ(read.size(), sets.size());
  for (size_t s = 0; s < sets.size(); ++s) {
    EXPECT_EQ(read[s].name, sets[s].name);
    EXPECT_EQ(read[s].parameters.scalingDownValue, sets[s].parameters.scalingDownValue);
    EXPECT_EQ(RegistrationName(read[s].parameters), RegistrationName(sets[s].parameters));
  }
  VisitModeLists(sets[0].parameters, [&](const char* name, const auto& written, ModeListRole) {
    VisitModeLists(read[0].parameters, [&](const char* readName, const auto& got, ModeListRole) {
      if (std::string(name) != readName) return;
      ASSERT_EQ(got.size(), written.size()) << name;
      for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(FieldDump::Of(got[i]), FieldDump::Of(written[i])) << name << "[" << i << "]";
        EXPECT_EQ(got[i].ToString(), written[i].ToString()) << name << "[" << i << "]";
      }
    });
  });
  EXPECT_EQ(WriteParameterSets(read), text);
}

TEST(ParameterSets, ErrorsNameTheFileTheFieldAndWhatWouldDo) {
  EXPECT_EQ(ErrorOf(EditedDefaults("\"BM_LOCAL_BLOCK\"", "\"BM_LOCAL\"")),
            "sets.json: parameterSets[0].binarizationModes[0].mode: unknown literal 'BM_LOCAL'; one of BM_SKIP, BM_AUTO, "
            "BM_LOCAL_BLOCK, BM_THRESHOLD, BM_REV");
  EXPECT_EQ(ErrorOf(EditedDefaults("\"RPM_GENERAL_GRAY_CONTRAST\"", "12345")).rfind(
                "sets.json: parameterSets[0].regionPredetectionModes[0].mode: 12345 is not a mode of this list", 0),
            0u);
  EXPECT_EQ(ErrorOf(EditedDefaults("\"lineExtractionModes\"", "\"lineModes\"")),
            "sets.json: parameterSets[0]: unknown field 'lineModes'");
  const std::string missing = ErrorOf(R"({"parameterSets": [{"name": "a", "scalingDownValue": 1000}]})");
  EXPECT_EQ(missing.rfind("sets.json: parameterSets[0].colourConversionModes: missing", 0), 0u) << missing;
  EXPECT_EQ(ErrorOf(EditedDefaults("\"LEM_GENERAL\"", "\"LEM_SKIP\"")),
            "sets.json: parameterSets[0].lineExtractionModes: only skips: the tree would stop here; give at least one mode "
            "that is not LEM_SKIP");
  EXPECT_EQ(ErrorOf(EditedDefaults("\"intArg1\": 15", "\"intArg1\": 99999")).rfind(
                "sets.json: parameterSets[0].binarizationModes[0].intArg1: 99999 is out of range", 0),
            0u);
  try {
    LoadParameterSets("/nonexistent/params.json");
    ADD_FAILURE();
  } catch (const ParameterError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("/nonexistent/params.json: cannot read the parameter file", 0), 0u);
  }
}

TEST(ParameterSets, RegistrationNamesFollowTheParametersNotTheNames) {
  std::vector<ParameterSet> sets = DefaultParameterSets();
  EXPECT_NE(RegistrationName(sets[0].parameters), RegistrationName(sets[1].parameters));
  ParameterSet renamed = sets[0];
  renamed.name = "another name";
  EXPECT_EQ(RegistrationName(renamed.parameters), RegistrationName(sets[0].parameters));
  ParameterSet changed = sets[0];
  changed.parameters.binarizationModes[0].intArg1 += 2;
  EXPECT_NE(RegistrationName(changed.parameters), RegistrationName(sets[0].parameters));
  // A text argument cannot move a record boundary.
  ParameterSet a = sets[0], b = sets[0];
  a.parameters.lineExtractionModes[0].textArg1 = "x";
  b.parameters.lineExtractionModes[0].textArg2 = "x";
  EXPECT_NE(RegistrationName(a.parameters), RegistrationName(b.parameters));
}

TEST(SetGroupsTrees, NodeCountsFollowEachSetsModeLists) {
  const ParameterSet standard = DefaultParameterSets()[0];
  ParameterSet wider = standard;
  wider.name = "wider";
  QZVP_BinarizationModeStruct threshold;
  threshold.mode = BM_THRESHOLD;
  wider.parameters.binarizationModes.push_back(threshold);  // a second binarization beside the first
  SetGroups sets({standard, wider});
  for (std::size_t s = 0; s < 2; ++s) {
    EXPECT_EQ(sets.NodeCount(s, tav::DUST_SOURCE_IMAGE), 1u) << s;
    EXPECT_EQ(sets.NodeCount(s, tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED), 1u) << s << ": above the binarization";
  }
  EXPECT_EQ(sets.NodeCount(0, tav::DUST_ROI_BINARY_IMAGE), 1u);
  EXPECT_EQ(sets.NodeCount(1, tav::DUST_ROI_BINARY_IMAGE), 2u);
  EXPECT_EQ(sets.NodeCount(1, tav::DUST_LINE_SEGMENTS), 2 * sets.NodeCount(0, tav::DUST_LINE_SEGMENTS))
      << "every branch below the binarization is doubled";
}

class ImagesInCache : public ::testing::Test {
 protected:
  static QZRef<QZMatrix> Matrix(const cv::Mat& pixels) { return QZRef<QZMatrix>(new QZMatrix(pixels.clone())); }
  DataUnitManager* Table() { return QZParameterTreeAndDataPool::GetInstance()->GetDataManager(); }
};

TEST_F(ImagesInCache, RegionsAndLinesComeInSourceCoordinatesPerSet) {
  SetGroups sets(DefaultParameterSets());
  const cv::Mat page = testing::DrawBarPage(cv::Size(800, 600));
  cv::Mat twice;
  cv::resize(page, twice, cv::Size(), 2.0, 2.0, cv::INTER_NEAREST);  // scaled down to the page again
  std::string why;
  std::unique_ptr<ImageInCache> small = sets.Process(Matrix(page), &why);
  std::unique_ptr<ImageInCache> large = sets.Process(Matrix(twice), &why);
  ASSERT_TRUE(small && large) << why;
  for (size_t s = 0; s < sets.Sets().size(); ++s) {
    const std::vector<Quad> a = small->Regions(s), b = large->Regions(s);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_FALSE(a.empty());
    for (size_t r = 0; r < a.size(); ++r)
      for (int c = 0; c < 4; ++c) EXPECT_NEAR(b[r][c].x, 2 * a[r][c].x, 1.0) << s << " " << r;
    const std::vector<cv::Vec4f> la = small->LineSegments(s), lb = large->LineSegments(s);
    ASSERT_EQ(la.size(), lb.size());
    ASSERT_FALSE(la.empty());
    for (size_t i = 0; i < la.size(); ++i) EXPECT_NEAR(lb[i][2], 2 * la[i][2], 1.0);
  }
  // The sets find different things, each reported apart.
  EXPECT_NE(small->LineSegments(0).size(), small->LineSegments(1).size());
  const ImageSummary summary = small->Summary("page", 0.0);
  ASSERT_EQ(summary.sets.size(), 2u);
  EXPECT_EQ(summary.sets[1].name, "fine");
  EXPECT_EQ(summary.sets[1].lineSegments.size(), small->LineSegments(1).size());
}

TEST_F(ImagesInCache, StageImagesShareTheResultsPixelsAndOutliveTheImageWithoutKeepingItsResults) {
  const int entries = Table()->GetDataMapSize();
  std::vector<StageImage> kept;
  std::vector<cv::Mat> copies;
  {
    SetGroups sets(DefaultParameterSets());
    std::string why;
    const cv::Mat page = testing::DrawBarPage(cv::Size(400, 300));
    std::unique_ptr<ImageInCache> image = sets.Process(Matrix(page), &why);
    ASSERT_TRUE(image) << why;
    const std::vector<StageImage> source = image->StageImages(0, tav::DUST_SOURCE_IMAGE);
    ASSERT_EQ(source.size(), 1u) << "the source image is kept under the image's own id";
    EXPECT_EQ(cv::norm(source[0].pixels, page, cv::NORM_INF), 0.0);
    const std::vector<StageImage> once = image->StageImages(0, tav::DUST_ROI_BINARY_IMAGE);
    const std::vector<StageImage> again = image->StageImages(0, tav::DUST_ROI_BINARY_IMAGE);
    ASSERT_FALSE(once.empty());
    ASSERT_EQ(once.size(), again.size());
    EXPECT_EQ(once[0].pixels.data, again[0].pixels.data) << "two reads of one result share its pixels";
    EXPECT_EQ(once[0].region, 0);
    EXPECT_TRUE(image->StageImages(0, tav::DUST_LINE_SEGMENTS).empty()) << "line segments are no image";
    kept = once;
    kept.push_back(source[0]);
    for (const StageImage& result : kept) copies.push_back(result.pixels.clone());
  }
  // The image and its sets are gone, and so are its results in the table; what the caller
  // kept still holds its pixels, unchanged.
  EXPECT_EQ(Table()->GetDataMapSize(), entries);
  {
    // Another image's results are computed into fresh memory, not into the kept pixels.
    SetGroups sets(DefaultParameterSets());
    std::string why;
    ASSERT_TRUE(sets.Process(Matrix(testing::DrawBarPage(cv::Size(420, 310))), &why)) << why;
  }
  for (std::size_t k = 0; k < kept.size(); ++k) EXPECT_EQ(cv::norm(kept[k].pixels, copies[k], cv::NORM_INF), 0.0) << k;
  EXPECT_GT(cv::countNonZero(kept[0].pixels), 0);
}

TEST_F(ImagesInCache, SetsThatShareANameButNotTheirParametersGetTreesOfTheirOwn) {
  std::vector<ParameterSet> first = DefaultParameterSets();
  std::vector<ParameterSet> second = DefaultParameterSets();
  second[0].parameters.binarizationModes[0].intArg5 = 30;  // "standard" again, other parameters
  SetGroups a(first), b(second);
  EXPECT_NE(a.Group(0).GetTree(), b.Group(0).GetTree());
  EXPECT_EQ(a.Group(1).GetTree(), b.Group(1).GetTree()) << "equal parameters share one tree";
  std::string why;
  const cv::Mat page = testing::DrawBarPage(cv::Size(400, 300));
  std::unique_ptr<ImageInCache> inA = a.Process(Matrix(page), &why);
  std::unique_ptr<ImageInCache> inB = b.Process(Matrix(page), &why);
  ASSERT_TRUE(inA && inB);
  EXPECT_EQ(inA->Id(), inB->Id());
  EXPECT_NE(inA->LineSegments(0).size(), inB->LineSegments(0).size());
  EXPECT_EQ(inA->LineSegments(1).size(), inB->LineSegments(1).size());
}

TEST_F(ImagesInCache, RefusedImagesAndFilesSayWhy) {
  SetGroups sets(DefaultParameterSets());
  std::string why;
  EXPECT_FALSE(sets.Process(Matrix(cv::Mat(7, 100, CV_8UC3, cv::Scalar(1, 2, 3))), &why));
  EXPECT_EQ(why, "smaller than 8 x 8 pixels");
  ImageFile file;
  EXPECT_FALSE(ReadImageFile("/nonexistent/page.png", &file, &why));
  EXPECT_EQ(why, "is missing");
  EXPECT_FALSE(ReadImageFile("/tmp", &file, &why));
  EXPECT_EQ(why, "is not a regular file");
}

// Every stage's count of one kind, over stages 1 to 23.
template <class Count>
uint64_t Total(const CacheStatistics& statistics, Count count) {
  uint64_t total = 0;
  for (int stage = stages::kFirstStage; stage <= stages::kLastStage; ++stage) total += count(statistics.stages[stage]);
  return total;
}

uint64_t Computations(const CacheStatistics& statistics) {
  return Total(statistics, [](const StageStatistics& s) { return s.computations; });
}

uint64_t Loads(const CacheStatistics& statistics) {
  return Total(statistics, [](const StageStatistics& s) { return s.loads; });
}

TEST_F(ImagesInCache, PoolStatisticsCountWhatImagesDidSinceTheLastReset) {
  SetGroups sets(DefaultParameterSets());
  ResetPoolStatistics();
  const CacheStatistics fresh = PoolStatistics();
  EXPECT_EQ(Computations(fresh), 0u);
  EXPECT_EQ(Total(fresh, [](const StageStatistics& s) { return s.createdResults; }), 0u);
  std::string why;
  {
    std::unique_ptr<ImageInCache> image = sets.Process(Matrix(testing::DrawBarPage(cv::Size(380, 290))), &why);
    ASSERT_TRUE(image) << why;
    const CacheStatistics held = PoolStatistics();
    EXPECT_GT(Computations(held), 20u);
    EXPECT_GT(held.stages[stages::kLastStage].createdResults, 0u) << "the line segments were made";
    EXPECT_GT(held.tableEntries, fresh.tableEntries);
    EXPECT_GT(held.liveResultBytes, fresh.liveResultBytes);
    // The host kit reads the pool the library counts in, not a copy of its own.
    EXPECT_EQ(Computations(held), Computations(QZParameterTreeAndDataPool::GetInstance()->GetStatistics()));
  }
  const CacheStatistics released = PoolStatistics();
  EXPECT_EQ(released.tableEntries, fresh.tableEntries);
  EXPECT_GT(Computations(released), 0u) << "a release keeps the counts";
  ResetPoolStatistics();
  EXPECT_EQ(Computations(PoolStatistics()), 0u);
}

TEST_F(ImagesInCache, AStoreInstalledForThePoolKeepsResultsThatALaterRunLoads) {
  const std::filesystem::path folder =
      std::filesystem::path(::testing::TempDir()) / ("pool-store-" + std::to_string(getpid()));
  std::filesystem::remove_all(folder);
  // Whatever the test's outcome, later tests of the process run without the store.
  struct Uninstall {
    ~Uninstall() { InstallResultStore(nullptr); }
  } uninstall;
  auto store = std::make_shared<FileResultStore>(folder.string());
  ASSERT_TRUE(store->IsStore()) << store->NotAStore();
  InstallResultStore(store);
  const cv::Mat page = testing::DrawBarPage(cv::Size(370, 285));
  std::string why;
  for (int run = 0; run < 2; ++run) {
    ResetPoolStatistics();
    const StoreStatistics before = store->Statistics();
    {
      SetGroups sets(DefaultParameterSets());
      ASSERT_TRUE(sets.Process(Matrix(page), &why)) << why;
    }  // the image and its trees go: the next run finds nothing in the table
    const CacheStatistics statistics = PoolStatistics();
    ASSERT_TRUE(statistics.storeInstalled);
    EXPECT_EQ(statistics.store.writes, store->Statistics().writes) << "the figures are the installed store's";
    if (run == 0) {
      EXPECT_GT(statistics.store.writes, before.writes);
      EXPECT_GT(Computations(statistics), 0u);
      EXPECT_EQ(Loads(statistics), 0u);
    } else {
      EXPECT_EQ(statistics.store.writes, before.writes);
      EXPECT_GT(statistics.store.hits, before.hits);
      EXPECT_GT(Loads(statistics), 0u);
      EXPECT_EQ(Computations(statistics), 0u) << "every result came from the store";
    }
  }
  InstallResultStore(nullptr);
  EXPECT_FALSE(PoolStatistics().storeInstalled);
  store.reset();  // counts what it wrote into its folder before the folder goes
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace hostkit
}  // namespace orvex
