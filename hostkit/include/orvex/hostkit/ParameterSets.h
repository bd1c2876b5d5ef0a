// Named parameter sets, read from and written as JSON files.
//
// A file holds {"parameterSets": [{"name": ..., <field>: ...}, ...]}. Each set gives the
// scaling-down value and the eight mode lists of QZ_ImageParameter by their field names;
// every mode record is an object whose "mode" (and "channel") is a literal without
// brackets ("BM_LOCAL_BLOCK") or an integer, and whose other fields carry the record's
// own names. A set must build a tree that reaches the line segments: every list is
// present, every mode is one of its kind, and the lists that branch the tree (colour
// conversion, grayscale transformation, region predetection, enhancement, binarization,
// line extraction) each hold a record that is not a skip. Errors name the file, the field
// and what is wrong.
//
// Threads: the functions keep no state; call them from any thread.
#ifndef ORVEX_HOSTKIT_PARAMETERSETS_H
#define ORVEX_HOSTKIT_PARAMETERSETS_H

#include <orvex/foundation/Export.h>
#include <orvex/improc/QZ_ImageParameter.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace orvex {
namespace hostkit {

struct ParameterSet {
  std::string name;
  QZ_ImageParameter parameters;
};

// A file or text that is not a valid list of parameter sets. The message names the file
// (or the text's source), the place (line and column, or the path of the field) and what
// is wrong: "params.json: parameterSets[0].binarizationModes[0].intArg1: 0 is out of
// range 3 .. 255".
class ORVEX_EXPORT ParameterError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Two overlapping sets ("standard" and "fine"), so that a run shows results shared
// between trees.
ORVEX_EXPORT std::vector<ParameterSet> DefaultParameterSets();

// Parameter files larger than this are refused unread.
constexpr long long kMaxParameterFileBytes = 16LL << 20;

// The sets of a parameter file: a regular file of at most kMaxParameterFileBytes, never a
// FIFO, device or folder (nothing that could block or never end). Throws ParameterError.
ORVEX_EXPORT std::vector<ParameterSet> LoadParameterSets(const std::string& path);

// Parses the text of a parameter file; `source` names it in messages. Every mode-record
// integer that a stage reads as a size, a count or a weight must lie in its range
// (CheckModeRecord). Throws ParameterError.
ORVEX_EXPORT std::vector<ParameterSet> ParseParameterSets(const std::string& text, const std::string& source);

// The sets as a parameter file; ParseParameterSets reads it back to equal sets.
ORVEX_EXPORT std::string WriteParameterSets(const std::vector<ParameterSet>& sets);

// The name a set's tree group is registered under: decided by the parameters alone (a
// hash of their canonical texts), never by the set's name, so that two different
// parameter sets never share a tree by name, and equal ones share one.
ORVEX_EXPORT std::string RegistrationName(const QZ_ImageParameter& parameters);

}  // namespace hostkit
}  // namespace orvex

#endif
