// What the page's parameter panels are generated from: every mode list of a parameter set
// and every field of its records, as the one description of modes and fields
// (orvex/modes/ModeFields.h) gives them, so that the page cannot drift from the library.
//
//   {"scalars": [{"name": "scalingDownValue", "kind": "integer"}],
//    "lists": [{"name": "binarizationModes", "branches": true, "skip": "BM_SKIP",
//               "fields": [<field>...]}, ...]}
//   <field>: {"name", "kind": "literal", "literals": [names]}
//          | {"name", "kind": "integer", "canonical": bool,
//             "ranges": {<mode literal>: [lowest, highest]}}   (the range each mode gives it)
//          | {"name", "kind": "text"} | {"name", "kind": "integers", "length": 8}
//          | {"name", "kind": "list", "fields": [<field>...]}
// A list's first field is its records' mode. Ranges are hints for the page: the server
// checks every edit with the parameter-file reader, whose messages the page shows.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_MODESCHEMA_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_MODESCHEMA_H

#include <nlohmann/json.hpp>

namespace stagecache {
namespace explore {

// The description above; the same on every call.
nlohmann::json ModeSchema();

}  // namespace explore
}  // namespace stagecache

#endif
