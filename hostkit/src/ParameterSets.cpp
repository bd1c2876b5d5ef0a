// The parameter-file format: reading, checking and writing parameter sets.
#include <orvex/hostkit/ParameterSets.h>

#include <orvex/hashing/HashId.h>
#include <orvex/improc/ModeLimits.h>
#include <orvex/modes/ModeLiterals.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <climits>
#include <set>

namespace orvex {
namespace hostkit {

using nlohmann::json;

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what) { throw ParameterError(path + ": " + what); }

int32_t ReadInt(const json& value, const std::string& path) {
  if (!value.is_number_integer()) Fail(path, "expected an integer");
  const int64_t number = value.get<int64_t>();
  if (number < INT32_MIN || number > INT32_MAX) Fail(path, "integer out of the 32-bit range");
  return static_cast<int32_t>(number);
}

std::string ReadText(const json& value, const std::string& path) {
  if (!value.is_string()) Fail(path, "expected a text");
  return value.get<std::string>();
}

// A literal without brackets from its kind's list, or an integer.
int32_t ReadLiteral(const json& value, const ModeLiteralList& literals, const std::string& path) {
  if (value.is_number_integer()) return ReadInt(value, path);
  if (!value.is_string()) Fail(path, "expected a mode literal or an integer");
  const std::string name = value.get<std::string>();
  int32_t number = 0;
  if (!literals.ValueOf(name, &number)) Fail(path, "unknown literal '" + name + "'; one of " + literals.Names());
  return number;
}

json LiteralValue(int32_t value, const ModeLiteralList& literals) {
  const char* name = literals.NameOf(value);
  return name != nullptr ? json(name) : json(value);
}

// The fields of one kind of object: how each is read from and written to JSON.
template <class Record>
struct FieldTable {
  struct IntField {
    const char* name;
    int32_t Record::*member;
    const ModeLiteralList* literals;  // null for a plain integer
  };
  struct TextField {
    const char* name;
    std::string Record::*member;
  };
  std::vector<IntField> ints;
  std::vector<TextField> texts;

  Record Read(const json& object, const std::string& path) const {
    if (!object.is_object()) Fail(path, "expected an object");
    Record record;
    for (auto it = object.begin(); it != object.end(); ++it) {
      const std::string fieldPath = path + "." + it.key();
      if (const IntField* field = FindInt(it.key())) {
        record.*(field->member) = field->literals ? ReadLiteral(it.value(), *field->literals, fieldPath)
                                                  : ReadInt(it.value(), fieldPath);
      } else if (const TextField* text = FindText(it.key())) {
        record.*(text->member) = ReadText(it.value(), fieldPath);
      } else {
        Fail(path, "unknown field '" + it.key() + "'");
      }
    }
    return record;
  }

  json Write(const Record& record) const {
    json object = json::object();
    for (const IntField& field : ints)
      object[field.name] = field.literals ? LiteralValue(record.*(field.member), *field.literals) : json(record.*(field.member));
    for (const TextField& field : texts)
      if (!(record.*(field.member)).empty()) object[field.name] = record.*(field.member);
    return object;
  }

 private:
  const IntField* FindInt(const std::string& name) const {
    for (const IntField& field : ints)
      if (name == field.name) return &field;
    return nullptr;
  }
  const TextField* FindText(const std::string& name) const {
    for (const TextField& field : texts)
      if (name == field.name) return &field;
    return nullptr;
  }
};

// The literal lists the field tables point at.
const ModeLiteralList kColourModes = ModeLiteralsOf<QZVP_ColourConversionModeStruct>();
const ModeLiteralList kChannels = ChannelLiterals();
const ModeLiteralList kTransformModes = ModeLiteralsOf<QZVP_GrayscaleTransformationModeStruct>();
const ModeLiteralList kRegionModes = ModeLiteralsOf<QZVP_RegionPredetectionModeStruct>();
const ModeLiteralList kEnhancementModes = ModeLiteralsOf<QZVP_GrayscaleEnhancementModeStruct>();
const ModeLiteralList kBinarizationModes = ModeLiteralsOf<QZVP_BinarizationModeStruct>();
const ModeLiteralList kTextureModes = ModeLiteralsOf<QZVP_TextureDetectionModeStruct>();
const ModeLiteralList kTextFilterModes = ModeLiteralsOf<QZVP_TextFilterModeStruct>();
const ModeLiteralList kLineModes = ModeLiteralsOf<QZVP_LineExtractionModeStruct>();

const FieldTable<QZVP_ColourConversionModeStruct> kColourFields = {
    {{"mode", &QZVP_ColourConversionModeStruct::mode, &kColourModes},
     {"channel", &QZVP_ColourConversionModeStruct::channel, &kChannels},
     {"intArg1", &QZVP_ColourConversionModeStruct::intArg1, nullptr},
     {"intArg2", &QZVP_ColourConversionModeStruct::intArg2, nullptr},
     {"intArg3", &QZVP_ColourConversionModeStruct::intArg3, nullptr}},
    {{"textArg1", &QZVP_ColourConversionModeStruct::textArg1}, {"textArg2", &QZVP_ColourConversionModeStruct::textArg2}}};

const FieldTable<QZVP_GrayscaleTransformationModeStruct> kTransformFields = {
    {{"mode", &QZVP_GrayscaleTransformationModeStruct::mode, &kTransformModes}},
    {{"textArg1", &QZVP_GrayscaleTransformationModeStruct::textArg1},
     {"textArg2", &QZVP_GrayscaleTransformationModeStruct::textArg2}}};

const FieldTable<QZVP_LineExtractionModeStruct> kLineFields = {
    {{"mode", &QZVP_LineExtractionModeStruct::mode, &kLineModes}},
    {{"textArg1", &QZVP_LineExtractionModeStruct::textArg1}, {"textArg2", &QZVP_LineExtractionModeStruct::textArg2}}};

const FieldTable<QZVP_GrayscaleEnhancementModeStruct> kEnhancementFields = {
    {{"mode", &QZVP_GrayscaleEnhancementModeStruct::mode, &kEnhancementModes},
     {"intArg1", &QZVP_GrayscaleEnhancementModeStruct::intArg1, nullptr},
     {"intArg2", &QZVP_GrayscaleEnhancementModeStruct::intArg2, nullptr},
     {"intArg3", &QZVP_GrayscaleEnhancementModeStruct::intArg3, nullptr},
     {"intArg4", &QZVP_GrayscaleEnhancementModeStruct::intArg4, nullptr},
     {"intArg5", &QZVP_GrayscaleEnhancementModeStruct::intArg5, nullptr}},
    {{"textArg1", &QZVP_GrayscaleEnhancementModeStruct::textArg1},
     {"textArg2", &QZVP_GrayscaleEnhancementModeStruct::textArg2}}};

const FieldTable<QZVP_BinarizationModeStruct> kBinarizationFields = {
    {{"mode", &QZVP_BinarizationModeStruct::mode, &kBinarizationModes},
     {"intArg1", &QZVP_BinarizationModeStruct::intArg1, nullptr},
     {"intArg2", &QZVP_BinarizationModeStruct::intArg2, nullptr},
     {"intArg3", &QZVP_BinarizationModeStruct::intArg3, nullptr},
     {"intArg4", &QZVP_BinarizationModeStruct::intArg4, nullptr},
     {"intArg5", &QZVP_BinarizationModeStruct::intArg5, nullptr},
     {"intArg6", &QZVP_BinarizationModeStruct::intArg6, nullptr},
     {"intArg7", &QZVP_BinarizationModeStruct::intArg7, nullptr},
     {"intArg8", &QZVP_BinarizationModeStruct::intArg8, nullptr},
     {"intArg9", &QZVP_BinarizationModeStruct::intArg9, nullptr},
     {"intArg10", &QZVP_BinarizationModeStruct::intArg10, nullptr}},
    {{"textArg1", &QZVP_BinarizationModeStruct::textArg1}, {"textArg2", &QZVP_BinarizationModeStruct::textArg2}}};

const FieldTable<QZVP_TextureDetectionModeStruct> kTextureFields = {
    {{"mode", &QZVP_TextureDetectionModeStruct::mode, &kTextureModes},
     {"intArg1", &QZVP_TextureDetectionModeStruct::intArg1, nullptr}},
    {{"textArg1", &QZVP_TextureDetectionModeStruct::textArg1}, {"textArg2", &QZVP_TextureDetectionModeStruct::textArg2}}};

const FieldTable<QZVP_TextFilterModeStruct> kTextFilterFields = {
    {{"mode", &QZVP_TextFilterModeStruct::mode, &kTextFilterModes},
     {"intArg1", &QZVP_TextFilterModeStruct::intArg1, nullptr},
     {"intArg2", &QZVP_TextFilterModeStruct::intArg2, nullptr},
     {"intArg3", &QZVP_TextFilterModeStruct::intArg3, nullptr}},
    {{"textArg1", &QZVP_TextFilterModeStruct::textArg1}, {"textArg2", &QZVP_TextFilterModeStruct::textArg2}}};

const FieldTable<RelativeBarcodeRegion> kRelativeRegionFields = {
    {{"regionMeasuredByPercentage", &RelativeBarcodeRegion::regionMeasuredByPercentage, nullptr},
     {"left", &RelativeBarcodeRegion::left, nullptr},
     {"top", &RelativeBarcodeRegion::top, nullptr},
     {"right", &RelativeBarcodeRegion::right, nullptr},
     {"bottom", &RelativeBarcodeRegion::bottom, nullptr}},
    {}};
const FieldTable<ForeAndBackgroundColour> kColourPairFields = {
    {{"foreColour", &ForeAndBackgroundColour::foreColour, nullptr},
     {"backgroundColour", &ForeAndBackgroundColour::backgroundColour, nullptr},
     {"tolerance", &ForeAndBackgroundColour::tolerance, nullptr}},
    {}};
template <class Range>
FieldTable<Range> RangeFields() {
  return {{{"minValue", &Range::minValue, nullptr}, {"maxValue", &Range::maxValue, nullptr}}, {}};
}

template <class Record, class Table>
std::vector<Record> ReadList(const json& value, const Table& table, const std::string& path) {
  if (!value.is_array()) Fail(path, "expected a list");
  std::vector<Record> records;
  for (size_t i = 0; i < value.size(); ++i) records.push_back(table.Read(value[i], path + "[" + std::to_string(i) + "]"));
  return records;
}

template <class Record, class Table>
json WriteList(const std::vector<Record>& records, const Table& table) {
  json list = json::array();
  for (const Record& record : records) list.push_back(table.Write(record));
  return list;
}

QZVP_RegionPredetectionModeStruct ReadRegionRecord(const json& object, const std::string& path) {
  static const FieldTable<QZVP_RegionPredetectionModeStruct> scalars = {
      {{"mode", &QZVP_RegionPredetectionModeStruct::mode, &kRegionModes},
       {"intArg1", &QZVP_RegionPredetectionModeStruct::intArg1, nullptr},
       {"intArg2", &QZVP_RegionPredetectionModeStruct::intArg2, nullptr},
       {"intArg3", &QZVP_RegionPredetectionModeStruct::intArg3, nullptr},
       {"intArg4", &QZVP_RegionPredetectionModeStruct::intArg4, nullptr},
       {"intArg5", &QZVP_RegionPredetectionModeStruct::intArg5, nullptr}},
      {{"textArg1", &QZVP_RegionPredetectionModeStruct::textArg1},
       {"textArg2", &QZVP_RegionPredetectionModeStruct::textArg2},
       {"textArg3", &QZVP_RegionPredetectionModeStruct::textArg3}}};
  static const std::set<std::string> lists = {"relativeRegions", "foreAndBackgroundColours", "rangeList1",
                                              "rangeList2",      "rangeList3",               "intPairArray"};
  if (!object.is_object()) Fail(path, "expected an object");
  json plain = json::object();
  for (auto it = object.begin(); it != object.end(); ++it)
    if (lists.count(it.key()) == 0) plain[it.key()] = it.value();
  QZVP_RegionPredetectionModeStruct record = scalars.Read(plain, path);
  if (object.contains("relativeRegions"))
    record.relativeRegions = ReadList<RelativeBarcodeRegion>(object["relativeRegions"], kRelativeRegionFields, path + ".relativeRegions");
  if (object.contains("foreAndBackgroundColours"))
    record.foreAndBackgroundColours =
        ReadList<ForeAndBackgroundColour>(object["foreAndBackgroundColours"], kColourPairFields, path + ".foreAndBackgroundColours");
  if (object.contains("rangeList1"))
    record.rangeList1 = ReadList<tagAspectRatioRange>(object["rangeList1"], RangeFields<tagAspectRatioRange>(), path + ".rangeList1");
  if (object.contains("rangeList2"))
    record.rangeList2 = ReadList<tagHeightRange>(object["rangeList2"], RangeFields<tagHeightRange>(), path + ".rangeList2");
  if (object.contains("rangeList3"))
    record.rangeList3 = ReadList<tagWidthRange>(object["rangeList3"], RangeFields<tagWidthRange>(), path + ".rangeList3");
  if (object.contains("intPairArray")) {
    const json& pairs = object["intPairArray"];
    if (!pairs.is_array() || pairs.size() != 8) Fail(path + ".intPairArray", "expected a list of exactly eight integers");
    for (int i = 0; i < 8; ++i) record.intPairArray[i] = ReadInt(pairs[i], path + ".intPairArray[" + std::to_string(i) + "]");
  }
  return record;
}

json WriteRegionRecord(const QZVP_RegionPredetectionModeStruct& record) {
  json object = {{"mode", LiteralValue(record.mode, kRegionModes)},
                 {"intArg1", record.intArg1},
                 {"intArg2", record.intArg2},
                 {"intArg3", record.intArg3},
                 {"relativeRegions", WriteList(record.relativeRegions, kRelativeRegionFields)},
                 {"foreAndBackgroundColours", WriteList(record.foreAndBackgroundColours, kColourPairFields)},
                 {"rangeList1", WriteList(record.rangeList1, RangeFields<tagAspectRatioRange>())},
                 {"rangeList2", WriteList(record.rangeList2, RangeFields<tagHeightRange>())},
                 {"rangeList3", WriteList(record.rangeList3, RangeFields<tagWidthRange>())},
                 {"intArg4", record.intArg4},
                 {"intArg5", record.intArg5},
                 {"intPairArray", std::vector<int32_t>(record.intPairArray, record.intPairArray + 8)}};
  for (auto text : {std::make_pair("textArg1", &record.textArg1), std::make_pair("textArg2", &record.textArg2),
                    std::make_pair("textArg3", &record.textArg3)})
    if (!text.second->empty()) object[text.first] = *text.second;
  return object;
}

// Line and column of a byte offset, for syntax errors.
std::string Position(const std::string& text, size_t byte) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return std::to_string(line) + ":" + std::to_string(column);
}

// Every problem of a list's records, as a ParameterError naming the first one's path.
template <class Record>
void CheckRanges(const std::vector<Record>& records, const std::string& path) {
  for (size_t i = 0; i < records.size(); ++i) {
    const std::vector<ModeFieldProblem> problems = CheckModeRecord(records[i]);
    if (problems.empty()) continue;
    const ModeFieldProblem& problem = problems.front();
    Fail(path + "[" + std::to_string(i) + "]." + problem.field,
         std::to_string(problem.value) + " is out of range " + std::to_string(problem.lowest) + " .. " +
             std::to_string(problem.highest));
  }
}

// A list whose every mode is one of its kind, and which (when it branches the tree) holds a
// record that is not a skip: otherwise the tree would stop before the line segments.
template <class Record>
void CheckModes(const std::vector<Record>& records, const std::string& path, bool branches, int32_t skip) {
  const ModeLiteralList literals = ModeLiteralsOf<Record>();
  bool usable = false;
  for (size_t i = 0; i < records.size(); ++i) {
    if (literals.NameOf(records[i].mode) == nullptr) {
      Fail(path + "[" + std::to_string(i) + "].mode",
           std::to_string(records[i].mode) + " is not a mode of this list; one of " + literals.Names());
    }
    usable = usable || records[i].mode != skip;
  }
  if (branches && !usable) {
    Fail(path, records.empty() ? "an empty list: the tree would stop here; give at least one mode"
                               : "only skips: the tree would stop here; give at least one mode that is not " +
                                     std::string(literals.NameOf(skip)));
  }
}

void CheckSet(const QZ_ImageParameter& p, const std::string& path) {
  CheckModes(p.colourConversionModes, path + ".colourConversionModes", true, CICM_SKIP);
  CheckModes(p.grayscaleTransformationModes, path + ".grayscaleTransformationModes", true, GTM_SKIP);
  CheckModes(p.regionPredetectionModes, path + ".regionPredetectionModes", true, RPM_SKIP);
  CheckModes(p.grayscaleEnhancementModes, path + ".grayscaleEnhancementModes", true, GEM_SKIP);
  CheckModes(p.binarizationModes, path + ".binarizationModes", true, BM_SKIP);
  CheckModes(p.textureDetectionModes, path + ".textureDetectionModes", false, TDM_SKIP);
  CheckModes(p.textFilterModes, path + ".textFilterModes", false, TFM_SKIP);
  CheckModes(p.lineExtractionModes, path + ".lineExtractionModes", true, LEM_SKIP);
  CheckRanges(p.colourConversionModes, path + ".colourConversionModes");
  CheckRanges(p.regionPredetectionModes, path + ".regionPredetectionModes");
  CheckRanges(p.grayscaleEnhancementModes, path + ".grayscaleEnhancementModes");
  CheckRanges(p.binarizationModes, path + ".binarizationModes");
  CheckRanges(p.textureDetectionModes, path + ".textureDetectionModes");
  CheckRanges(p.textFilterModes, path + ".textFilterModes");
}

// The fields of a parameter set besides its name, each of which must be present.
const char* const kSetFields[] = {"scalingDownValue",          "colourConversionModes", "grayscaleTransformationModes",
                                  "regionPredetectionModes",   "grayscaleEnhancementModes", "binarizationModes",
                                  "textureDetectionModes",     "textFilterModes",       "lineExtractionModes"};

ParameterSet ReadSet(const json& object, const std::string& path) {
  if (!object.is_object()) Fail(path, "expected an object");
  ParameterSet set;
  QZ_ImageParameter& p = set.parameters;
  for (auto it = object.begin(); it != object.end(); ++it) {
    const std::string& key = it.key();
    const std::string field = path + "." + key;
    if (key == "name") set.name = ReadText(it.value(), field);
    else if (key == "scalingDownValue") p.scalingDownValue = ReadInt(it.value(), field);
    else if (key == "colourConversionModes") p.colourConversionModes = ReadList<QZVP_ColourConversionModeStruct>(it.value(), kColourFields, field);
    else if (key == "grayscaleTransformationModes")
      p.grayscaleTransformationModes = ReadList<QZVP_GrayscaleTransformationModeStruct>(it.value(), kTransformFields, field);
    else if (key == "regionPredetectionModes") {
      if (!it.value().is_array()) Fail(field, "expected a list");
      for (size_t r = 0; r < it.value().size(); ++r)
        p.regionPredetectionModes.push_back(ReadRegionRecord(it.value()[r], field + "[" + std::to_string(r) + "]"));
    } else if (key == "grayscaleEnhancementModes")
      p.grayscaleEnhancementModes = ReadList<QZVP_GrayscaleEnhancementModeStruct>(it.value(), kEnhancementFields, field);
    else if (key == "binarizationModes") p.binarizationModes = ReadList<QZVP_BinarizationModeStruct>(it.value(), kBinarizationFields, field);
    else if (key == "textureDetectionModes")
      p.textureDetectionModes = ReadList<QZVP_TextureDetectionModeStruct>(it.value(), kTextureFields, field);
    else if (key == "textFilterModes") p.textFilterModes = ReadList<QZVP_TextFilterModeStruct>(it.value(), kTextFilterFields, field);
    else if (key == "lineExtractionModes") p.lineExtractionModes = ReadList<QZVP_LineExtractionModeStruct>(it.value(), kLineFields, field);
    else Fail(path, "unknown field '" + key + "'");
  }
  if (set.name.empty()) Fail(path, "a parameter set needs a non-empty \"name\"");
  for (const char* field : kSetFields) {
    if (!object.contains(field)) Fail(path + "." + field, "missing: every list must be given (an empty list where the tree does not branch)");
  }
  CheckSet(p, path);
  return set;
}

// The sets of a parsed document; errors name the path of the field.
std::vector<ParameterSet> ReadSets(const json& document) {
  if (!document.is_object()) Fail("(top)", "expected an object with \"parameterSets\"");
  for (auto it = document.begin(); it != document.end(); ++it)
    if (it.key() != "parameterSets") Fail("(top)", "unknown field '" + it.key() + "'");
  if (!document.contains("parameterSets") || !document["parameterSets"].is_array() || document["parameterSets"].empty())
    Fail("parameterSets", "expected a non-empty list of parameter sets");
  std::vector<ParameterSet> sets;
  std::set<std::string> names;
  const json& list = document["parameterSets"];
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string path = "parameterSets[" + std::to_string(i) + "]";
    ParameterSet set = ReadSet(list[i], path);
    if (!names.insert(set.name).second) Fail(path + ".name", "the name '" + set.name + "' is used twice");
    sets.push_back(std::move(set));
  }
  return sets;
}

// The text of a parameter file (see LoadParameterSets).
std::string ReadParameterFile(const std::string& path) {
  // Opened without blocking, so that a FIFO is refused rather than waited on.
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) throw ParameterError(path + ": cannot read the parameter file: " + std::strerror(errno));
  struct stat info;
  std::string reason;
  if (fstat(descriptor, &info) != 0) reason = std::strerror(errno);
  else if (!S_ISREG(info.st_mode)) reason = "not a regular file";
  else if (info.st_size > kMaxParameterFileBytes) reason = "larger than " + std::to_string(kMaxParameterFileBytes >> 20) + " MiB";
  std::string text;
  if (reason.empty()) {
    text.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t got = read(descriptor, &text[done], text.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    text.resize(done);
  }
  close(descriptor);
  if (!reason.empty()) throw ParameterError(path + ": cannot read the parameter file: " + reason);
  return text;
}

// The default sets, in the file format. The second shares everything with the first up to
// the binarization and adds a global threshold and margin-based lines.
constexpr char kDefaultParameterSets[] = R"({"parameterSets": [
  {"name": "standard", "scalingDownValue": 1000,
   "colourConversionModes": [{"mode": "CICM_GENERAL"}],
   "grayscaleTransformationModes": [{"mode": "GTM_ORIGINAL"}],
   "regionPredetectionModes": [{"mode": "RPM_GENERAL_GRAY_CONTRAST"}],
   "grayscaleEnhancementModes": [{"mode": "GEM_GRAY_EQUALIZE"}],
   "binarizationModes": [{"mode": "BM_LOCAL_BLOCK", "intArg1": 15, "intArg2": 15, "intArg5": 10}],
   "textureDetectionModes": [{"mode": "TDM_GENERAL_WIDTH_CONCENTRATION", "intArg1": 15}],
   "textFilterModes": [{"mode": "TFM_GENERAL_CONTOUR", "intArg1": 12}],
   "lineExtractionModes": [{"mode": "LEM_GENERAL"}]},
  {"name": "fine", "scalingDownValue": 1000,
   "colourConversionModes": [{"mode": "CICM_GENERAL"}],
   "grayscaleTransformationModes": [{"mode": "GTM_ORIGINAL"}],
   "regionPredetectionModes": [{"mode": "RPM_GENERAL_GRAY_CONTRAST"}],
   "grayscaleEnhancementModes": [{"mode": "GEM_GRAY_EQUALIZE"}],
   "binarizationModes": [{"mode": "BM_LOCAL_BLOCK", "intArg1": 15, "intArg2": 15, "intArg5": 10},
                         {"mode": "BM_THRESHOLD"}],
   "textureDetectionModes": [{"mode": "TDM_GENERAL_WIDTH_CONCENTRATION", "intArg1": 15}],
   "textFilterModes": [{"mode": "TFM_GENERAL_CONTOUR", "intArg1": 12}],
   "lineExtractionModes": [{"mode": "LEM_GENERAL"}, {"mode": "LEM_MARGIN_BASED"}]}
]})";

// The canonical texts of a list's records after the list's name, each after its length,
// so that no two different lists give the same text.
template <class Record>
void AppendTexts(std::string& text, const char* list, const std::vector<Record>& records) {
  text += list;
  text += ' ' + std::to_string(records.size()) + '\n';
  for (const Record& record : records) {
    const std::string canonical = record.ToString();
    text += std::to_string(canonical.size()) + ':' + canonical + '\n';
  }
}

}  // namespace

std::vector<ParameterSet> DefaultParameterSets() { return ParseParameterSets(kDefaultParameterSets, "built-in defaults"); }

std::vector<ParameterSet> LoadParameterSets(const std::string& path) {
  return ParseParameterSets(ReadParameterFile(path), path);
}

std::vector<ParameterSet> ParseParameterSets(const std::string& text, const std::string& source) {
  json document;
  try {
    document = json::parse(text);
  } catch (const json::parse_error& error) {
    std::string reason = error.what();
    const size_t detail = reason.find("syntax error");
    if (detail != std::string::npos) reason = reason.substr(detail);
    throw ParameterError(source + ":" + Position(text, error.byte) + ": " + reason);
  } catch (const json::exception& error) {
    // A number beyond any double: the parser names it but not its place.
    std::string reason = error.what();
    const size_t detail = reason.find("] ");
    if (detail != std::string::npos) reason = reason.substr(detail + 2);
    const size_t kShown = 80;
    if (reason.size() > kShown) reason = reason.substr(0, kShown) + "...";
    throw ParameterError(source + ": " + reason);
  }
  try {
    return ReadSets(document);
  } catch (const ParameterError& error) {
    throw ParameterError(source + ": " + error.what());
  }
}

std::string WriteParameterSets(const std::vector<ParameterSet>& sets) {
  json list = json::array();
  for (const ParameterSet& set : sets) {
    const QZ_ImageParameter& p = set.parameters;
    json regions = json::array();
    for (const auto& record : p.regionPredetectionModes) regions.push_back(WriteRegionRecord(record));
    list.push_back({{"name", set.name},
                    {"scalingDownValue", p.scalingDownValue},
                    {"colourConversionModes", WriteList(p.colourConversionModes, kColourFields)},
                    {"grayscaleTransformationModes", WriteList(p.grayscaleTransformationModes, kTransformFields)},
                    {"regionPredetectionModes", regions},
                    {"grayscaleEnhancementModes", WriteList(p.grayscaleEnhancementModes, kEnhancementFields)},
                    {"binarizationModes", WriteList(p.binarizationModes, kBinarizationFields)},
                    {"textureDetectionModes", WriteList(p.textureDetectionModes, kTextureFields)},
                    {"textFilterModes", WriteList(p.textFilterModes, kTextFilterFields)},
                    {"lineExtractionModes", WriteList(p.lineExtractionModes, kLineFields)}});
  }
  return json{{"parameterSets", list}}.dump(2) + "\n";
}

std::string RegistrationName(const QZ_ImageParameter& p) {
  std::string text = "scalingDownValue " + std::to_string(p.scalingDownValue) + '\n';
  AppendTexts(text, "colourConversionModes", p.colourConversionModes);
  AppendTexts(text, "grayscaleTransformationModes", p.grayscaleTransformationModes);
  AppendTexts(text, "regionPredetectionModes", p.regionPredetectionModes);
  AppendTexts(text, "grayscaleEnhancementModes", p.grayscaleEnhancementModes);
  AppendTexts(text, "binarizationModes", p.binarizationModes);
  AppendTexts(text, "textureDetectionModes", p.textureDetectionModes);
  AppendTexts(text, "textFilterModes", p.textFilterModes);
  AppendTexts(text, "lineExtractionModes", p.lineExtractionModes);
  return "parameters-" + GenerateHashId(text.data(), static_cast<unsigned int>(text.size()));
}

}  // namespace hostkit
}  // namespace orvex
