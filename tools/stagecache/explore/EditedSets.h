// Parameter sets as the page edits them: the parameter file's own JSON objects, read by
// the parameter-file reader itself (so an edit is refused with the file's messages:
// field, range, valid literals), within bounds that keep a live recompute small; and the
// parameter file written back atomically with the tool's writer.
//
// Threads: the functions keep no state; call them from any thread.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_EDITEDSETS_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_EDITEDSETS_H

#include "RequestError.h"

#include <orvex/hostkit/ParameterSets.h>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace stagecache {
namespace explore {

using orvex::hostkit::ParameterSet;

// Bounds on what one request may ask for.
constexpr size_t kMostRequestBytes = 1 << 20;  // a request body
constexpr int kMostJsonDepth = 16;             // nesting of a request body
constexpr size_t kMostSets = 16;               // sets in one request
constexpr size_t kMostRecordsPerList = 32;     // records in one mode list
constexpr size_t kMostPathsPerSet = 256;       // product of a set's list lengths: its tree's width

// A request body parsed as JSON, nested at most kMostJsonDepth deep; RequestError 400
// for anything else, with the parser's message.
nlohmann::json ParseRequestBody(const std::string& body);

// The sets of a JSON list of parameter-set objects, read as a parameter file holding them
// would be (`source` names it in messages), then held to the bounds above. RequestError
// 400 with the reader's message ("<source>: parameterSets[0].binarizationModes[0].intArg1:
// 300 is out of range 0 .. 255").
std::vector<ParameterSet> ReadEditedSets(const nlohmann::json& sets, const std::string& source);

// The sets as the objects of a parameter file (what WriteParameterSets writes).
nlohmann::json SetsAsJson(const std::vector<ParameterSet>& sets);

// Replaces `path` with `text` atomically: a temporary file beside it, written, flushed to
// the disk and renamed over it, keeping the old file's permissions. RequestError 500
// naming the path and the reason when that fails (the old file is then unchanged).
void WriteFileAtomically(const std::string& path, const std::string& text);

}  // namespace explore
}  // namespace stagecache

#endif
