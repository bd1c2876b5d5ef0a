// Named parameter sets, read from and written as JSON.
//
// The file holds {"parameterSets": [{"name": ..., <field>: ...}, ...]}. Each set names the
// scaling-down value and the mode lists of QZ_ImageParameter by their field names; every
// mode record is an object whose "mode" (and "channel") is a literal without brackets
// ("BM_LOCAL_BLOCK") or an integer, and whose other fields carry the record's own names.
#ifndef ORVEX_TOOLS_STAGECACHE_PARAMETERFILE_H
#define ORVEX_TOOLS_STAGECACHE_PARAMETERFILE_H

#include <OrvexStagecacheHost.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace stagecache {

struct ParameterSet {
  std::string name;
  orvex::QZ_ImageParameter parameters;
};

// A malformed file: the message names the place (line and column, or the path of the
// field) and what is wrong.
class ParameterError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Two overlapping sets, so that a run shows results shared between trees.
std::vector<ParameterSet> DefaultParameterSets();

// Parameter files larger than this are refused unread.
constexpr long long kMaxParameterFileBytes = 16LL << 20;

// The text of a parameter file: a regular file of at most kMaxParameterFileBytes, never a
// FIFO, device or folder (nothing that could block or never end). Throws ParameterError
// naming the file and the reason.
std::string ReadParameterFile(const std::string& path);

// Parses the text of a parameter file; `source` names it in messages. Every mode-record
// integer that a stage reads as a size, a count or a weight must lie in its range
// (orvex::CheckModeRecord); the error names the field's path. Throws ParameterError.
std::vector<ParameterSet> ParseParameterSets(const std::string& text, const std::string& source);

// The sets as a parameter file.
std::string WriteParameterSets(const std::vector<ParameterSet>& sets);

}  // namespace stagecache

#endif
