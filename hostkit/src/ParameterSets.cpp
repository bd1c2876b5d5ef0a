// The parameter-file format: reading, checking and writing parameter sets.
#include <orvex/hostkit/ParameterSets.h>

#include <orvex/hashing/HashId.h>
#include <orvex/modes/ModeFields.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <climits>
#include <set>
#include <type_traits>

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

// Reads a record from a JSON object by walking the record's field description; a field the
// object leaves out keeps its default, a key the description does not name is an error.
class RecordReader {
 public:
  template <class Record>
  static Record Read(const json& object, const std::string& path) {
    if (!object.is_object()) Fail(path, "expected an object");
    Record record;
    RecordReader reader(object, path);
    ModeFields<Record>::Visit(record, reader);
    for (auto it = object.begin(); it != object.end(); ++it)
      if (reader.m_known.count(it.key()) == 0) Fail(path, "unknown field '" + it.key() + "'");
    return record;
  }

  // The records of a JSON list, each described by ModeFields<Record>.
  template <class Record>
  static std::vector<Record> ReadList(const json& value, const std::string& path) {
    if (!value.is_array()) Fail(path, "expected a list");
    std::vector<Record> records;
    records.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) records.push_back(Read<Record>(value[i], path + "[" + std::to_string(i) + "]"));
    return records;
  }

  void Literal(const char* name, int32_t& value, const ModeLiteralList& literals) {
    if (const json* field = Find(name)) value = ReadLiteral(*field, literals, FieldPath(name));
  }
  void Integer(const char* name, int32_t& value, FieldRange) { HiddenInteger(name, value); }
  void HiddenInteger(const char* name, int32_t& value) {
    if (const json* field = Find(name)) value = ReadInt(*field, FieldPath(name));
  }
  void Text(const char* name, std::string& value) {
    if (const json* field = Find(name)) value = ReadText(*field, FieldPath(name));
  }
  void IntegerArray(const char* name, int32_t (&values)[8]) {
    const json* field = Find(name);
    if (field == nullptr) return;
    if (!field->is_array() || field->size() != 8) Fail(FieldPath(name), "expected a list of exactly eight integers");
    for (size_t i = 0; i < 8; ++i) values[i] = ReadInt((*field)[i], FieldPath(name) + "[" + std::to_string(i) + "]");
  }
  template <class Sub>
  void List(const char* name, std::vector<Sub>& records, bool) {
    if (const json* field = Find(name)) records = ReadList<Sub>(*field, FieldPath(name));
  }

 private:
  RecordReader(const json& object, const std::string& path) : m_object(object), m_path(path) {}

  const json* Find(const char* name) {
    m_known.insert(name);
    const auto it = m_object.find(name);
    return it != m_object.end() ? &*it : nullptr;
  }
  std::string FieldPath(const char* name) const { return m_path + "." + name; }

  const json& m_object;
  const std::string& m_path;
  std::set<std::string> m_known;
};

// Writes a record as a JSON object by walking its field description: every integer, the
// mode and channel by their literals, and the texts that are not empty.
class RecordWriter {
 public:
  template <class Record>
  static json Write(const Record& record) {
    RecordWriter writer;
    ModeFields<Record>::Visit(record, writer);
    return std::move(writer.m_object);
  }
  template <class Record>
  static json WriteList(const std::vector<Record>& records) {
    json list = json::array();
    for (const Record& record : records) list.push_back(Write(record));
    return list;
  }

  void Literal(const char* name, int32_t value, const ModeLiteralList& literals) { m_object[name] = LiteralValue(value, literals); }
  void Integer(const char* name, int32_t value, FieldRange) { m_object[name] = value; }
  void HiddenInteger(const char* name, int32_t value) { m_object[name] = value; }
  void Text(const char* name, const std::string& value) {
    if (!value.empty()) m_object[name] = value;
  }
  void IntegerArray(const char* name, const int32_t (&values)[8]) { m_object[name] = std::vector<int32_t>(values, values + 8); }
  template <class Sub>
  void List(const char* name, const std::vector<Sub>& records, bool) {
    m_object[name] = WriteList(records);
  }

 private:
  json m_object = json::object();
};

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

// A list whose every mode is one of its kind and every integer in its range, and which
// (when it branches the tree) holds a record that is not a skip: otherwise the tree would
// stop before the line segments.
template <class Record>
void CheckList(const std::vector<Record>& records, const std::string& path, ModeListRole role) {
  const ModeLiteralList literals = ModeLiteralsOf<Record>();
  bool usable = false;
  for (size_t i = 0; i < records.size(); ++i) {
    if (literals.NameOf(records[i].mode) == nullptr) {
      Fail(path + "[" + std::to_string(i) + "].mode",
           std::to_string(records[i].mode) + " is not a mode of this list; one of " + literals.Names());
    }
    usable = usable || records[i].mode != role.skip;
  }
  if (role.branches && !usable) {
    Fail(path, records.empty() ? "an empty list: the tree would stop here; give at least one mode"
                               : "only skips: the tree would stop here; give at least one mode that is not " +
                                     std::string(literals.NameOf(role.skip)));
  }
  CheckRanges(records, path);
}

// A set's fields are read first, then its name and the presence of every field are checked,
// then the modes and ranges of its lists.
ParameterSet ReadSet(const json& object, const std::string& path) {
  if (!object.is_object()) Fail(path, "expected an object");
  ParameterSet set;
  QZ_ImageParameter& p = set.parameters;
  std::vector<std::string> fields = {"scalingDownValue"};
  VisitModeLists(p, [&](const char* name, const auto&, ModeListRole) { fields.push_back(name); });
  for (auto it = object.begin(); it != object.end(); ++it)
    if (it.key() != "name" && std::find(fields.begin(), fields.end(), it.key()) == fields.end())
      Fail(path, "unknown field '" + it.key() + "'");
  if (object.contains("name")) set.name = ReadText(object["name"], path + ".name");
  if (object.contains("scalingDownValue")) p.scalingDownValue = ReadInt(object["scalingDownValue"], path + ".scalingDownValue");
  VisitModeLists(p, [&](const char* name, auto& list, ModeListRole) {
    using Record = typename std::decay_t<decltype(list)>::value_type;
    if (object.contains(name)) list = RecordReader::ReadList<Record>(object[name], path + "." + name);
  });
  if (set.name.empty()) Fail(path, "a parameter set needs a non-empty \"name\"");
  for (const std::string& field : fields) {
    if (!object.contains(field))
      Fail(path + "." + field, "missing: every list must be given (an empty list where the tree does not branch)");
  }
  VisitModeLists(p, [&](const char* name, const auto& list, ModeListRole role) { CheckList(list, path + "." + name, role); });
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
    json object = {{"name", set.name}, {"scalingDownValue", set.parameters.scalingDownValue}};
    VisitModeLists(set.parameters, [&](const char* name, const auto& records, ModeListRole) {
      object[name] = RecordWriter::WriteList(records);
    });
    list.push_back(std::move(object));
  }
  return json{{"parameterSets", list}}.dump(2) + "\n";
}

std::string RegistrationName(const QZ_ImageParameter& p) {
  std::string text = "scalingDownValue " + std::to_string(p.scalingDownValue) + '\n';
  VisitModeLists(p, [&](const char* name, const auto& records, ModeListRole) { AppendTexts(text, name, records); });
  return "parameters-" + GenerateHashId(text.data(), static_cast<unsigned int>(text.size()));
}

}  // namespace hostkit
}  // namespace orvex
