// Range checks of the mode records: a walk of their field descriptions.
#include <orvex/modes/ModeRecords.h>

#include <orvex/modes/ModeFields.h>

#include <cstddef>

namespace orvex {

namespace {

// Collects the integers of a record that lie outside their ranges, named by their path.
class RangeCheck {
 public:
  template <class Record>
  static std::vector<ModeFieldProblem> Of(const Record& record) {
    RangeCheck check;
    ModeFields<Record>::Visit(record, check);
    return std::move(check.m_problems);
  }

  void Literal(const char*, int32_t, const ModeLiteralList&) {}
  void Integer(const char* name, int32_t value, FieldRange range) {
    if (range.applies && (value < range.lowest || value > range.highest))
      m_problems.push_back({m_prefix + name, value, range.lowest, range.highest});
  }
  void HiddenInteger(const char*, int32_t) {}
  void Text(const char*, const std::string&) {}
  void IntegerArray(const char*, const int32_t (&)[8]) {}
  template <class Sub>
  void List(const char* name, const std::vector<Sub>& records, bool checked) {
    if (!checked) return;
    const std::string outer = m_prefix;
    for (size_t i = 0; i < records.size(); ++i) {
      m_prefix = outer + name + "[" + std::to_string(i) + "].";
      ModeFields<Sub>::Visit(records[i], *this);
    }
    m_prefix = outer;
  }

 private:
  std::vector<ModeFieldProblem> m_problems;
  std::string m_prefix;
};

}  // namespace

template <class Record>
std::vector<ModeFieldProblem> CheckModeRecord(const Record& record) {
  return RangeCheck::Of(record);
}

template ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_ColourConversionModeStruct&);
template ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_GrayscaleTransformationModeStruct&);
template ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_RegionPredetectionModeStruct&);
template ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_GrayscaleEnhancementModeStruct&);
template ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_BinarizationModeStruct&);
template ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_TextureDetectionModeStruct&);
template ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_TextFilterModeStruct&);
template ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_LineExtractionModeStruct&);

}  // namespace orvex
