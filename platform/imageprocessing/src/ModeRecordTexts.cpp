// Canonical texts of the mode records: a walk of their field descriptions.
#include <orvex/foundation/ModeRecordFields.h>

#include <charconv>
#include <cstddef>
#include <string>
#include <vector>

namespace orvex {

namespace {

// Writes a record's canonical text from its field description: literals, integers and
// texts in brackets (a value without a literal adds nothing), the numbers of list records
// bare and run together, the integer array as "[v0,v1,...]".
class CanonicalText {
 public:
  template <class Record>
  static std::string Of(const Record& record) {
    CanonicalText text;
    text.m_text.reserve(64);
    ModeFields<Record>::Visit(record, text);
    return std::move(text.m_text);
  }

  void Literal(const char*, int32_t value, const ModeLiteralList& literals) {
    if (const char* name = literals.NameOf(value)) Bracketed(name);
  }
  void Integer(const char*, int32_t value, FieldRange) {
    if (m_listDepth > 0) {
      Number(value);
    } else {
      m_text += '[';
      Number(value);
      m_text += ']';
    }
  }
  void HiddenInteger(const char*, int32_t) {}
  void Text(const char*, const std::string& value) { Bracketed(value.c_str()); }
  void IntegerArray(const char*, const int32_t (&values)[8]) {
    m_text += '[';
    for (size_t i = 0; i < 8; ++i) {
      if (i > 0) m_text += ',';
      Number(values[i]);
    }
    m_text += ']';
  }
  template <class Sub>
  void List(const char*, const std::vector<Sub>& records, bool) {
    ++m_listDepth;
    for (const Sub& record : records) ModeFields<Sub>::Visit(record, *this);
    --m_listDepth;
  }

 private:
  void Number(int32_t value) {
    char digits[12];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    m_text.append(digits, end);
  }
  void Bracketed(const char* text) {
    m_text += '[';
    m_text += text;
    m_text += ']';
  }

  std::string m_text;
  int m_listDepth = 0;
};

}  // namespace

std::string QZVP_ColourConversionModeStruct::ToString() const { return CanonicalText::Of(*this); }
std::string QZVP_GrayscaleTransformationModeStruct::ToString() const { return CanonicalText::Of(*this); }
std::string QZVP_RegionPredetectionModeStruct::ToString() const { return CanonicalText::Of(*this); }
std::string QZVP_GrayscaleEnhancementModeStruct::ToString() const { return CanonicalText::Of(*this); }
std::string QZVP_BinarizationModeStruct::ToString() const { return CanonicalText::Of(*this); }
std::string QZVP_TextureDetectionModeStruct::ToString() const { return CanonicalText::Of(*this); }
std::string QZVP_TextFilterModeStruct::ToString() const { return CanonicalText::Of(*this); }
std::string QZVP_LineExtractionModeStruct::ToString() const { return CanonicalText::Of(*this); }

}  // namespace orvex
