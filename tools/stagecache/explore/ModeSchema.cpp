#include "ModeSchema.h"

#include <orvex/improc/QZ_ImageParameter.h>
#include <orvex/modes/ModeFields.h>

#include <type_traits>

namespace stagecache {
namespace explore {

using nlohmann::json;
using namespace orvex;

namespace {

json LiteralNames(const ModeLiteralList& literals) {
  json names = json::array();
  for (const ModeLiteral& literal : literals) names.push_back(literal.name);
  return names;
}

// Collects a record's fields by walking its description once per mode: the fields are the
// same for every mode, the ranges are the mode's.
class SchemaVisitor {
 public:
  template <class Record>
  static json Fields() {
    SchemaVisitor visitor;
    Record record{};
    ModeFields<Record>::Visit(record, visitor);
    return std::move(visitor.m_fields);
  }

  // The fields of a mode record with the range each mode gives each integer.
  template <class Record>
  static json ModeRecordFields() {
    json fields = Fields<Record>();
    for (const ModeLiteral& literal : ModeLiteralsOf<Record>()) {
      Record record{};
      record.mode = literal.value;
      SchemaVisitor visitor;
      ModeFields<Record>::Visit(record, visitor);
      for (size_t f = 0; f < fields.size(); ++f) {
        const json& range = visitor.m_fields[f];
        if (range.contains("range")) fields[f]["ranges"][literal.name] = range["range"];
      }
    }
    for (json& field : fields) field.erase("range");
    return fields;
  }

  void Literal(const char* name, const int32_t&, const ModeLiteralList& literals) {
    m_fields.push_back({{"name", name}, {"kind", "literal"}, {"literals", LiteralNames(literals)}});
  }
  void Integer(const char* name, const int32_t&, FieldRange range) {
    json field = {{"name", name}, {"kind", "integer"}, {"canonical", true}};
    if (range.applies) field["range"] = {range.lowest, range.highest};
    m_fields.push_back(std::move(field));
  }
  void HiddenInteger(const char* name, const int32_t&) {
    m_fields.push_back({{"name", name}, {"kind", "integer"}, {"canonical", false}});
  }
  void Text(const char* name, const std::string&) { m_fields.push_back({{"name", name}, {"kind", "text"}}); }
  void IntegerArray(const char* name, const int32_t (&)[8]) {
    m_fields.push_back({{"name", name}, {"kind", "integers"}, {"length", 8}});
  }
  template <class Sub>
  void List(const char* name, const std::vector<Sub>&, bool) {
    json fields = Fields<Sub>();
    for (json& field : fields) field.erase("range");
    m_fields.push_back({{"name", name}, {"kind", "list"}, {"fields", std::move(fields)}});
  }

 private:
  json m_fields = json::array();
};

}  // namespace

json ModeSchema() {
  json lists = json::array();
  const QZ_ImageParameter parameters;
  VisitModeLists(parameters, [&](const char* name, const auto& list, ModeListRole role) {
    using Record = typename std::decay_t<decltype(list)>::value_type;
    const char* skip = ModeLiteralsOf<Record>().NameOf(role.skip);
    lists.push_back({{"name", name},
                     {"branches", role.branches},
                     {"skip", skip != nullptr ? json(skip) : json()},
                     {"fields", SchemaVisitor::ModeRecordFields<Record>()}});
  });
  return {{"scalars", json::array({{{"name", "scalingDownValue"}, {"kind", "integer"}}})}, {"lists", std::move(lists)}};
}

}  // namespace explore
}  // namespace stagecache
