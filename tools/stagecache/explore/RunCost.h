// What a recompute cost, per stage: of the results the recomputed trees hold for the
// image, how many were computed by it, reused from the trees that held the image before
// it (another set's, or the edited set's tree before the edit) and loaded from the store,
// and the time their computations took.
//
// The figures come from the image's own results, not from process-wide counters: the
// results held before the run are listed first, and runs on one image take turns (see
// LiveImage), so two tabs editing at once each see the cost of their own edit.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_RUNCOST_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_RUNCOST_H

#include <orvex/hostkit/SetGroups.h>

#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

namespace stagecache {
namespace explore {

struct StageCost {
  int stage = 0;
  int computed = 0;  // distinct results computed in the run
  int reused = 0;    // distinct results held before the run by the image's trees
  int loaded = 0;    // distinct results taken from the store in the run
                     // (results in between that nothing asked for are not counted)
  double computeMs = 0;  // of the computed results
};

// The ids of every result the images' trees hold (each image of one SetGroups of one set).
std::set<std::string> HeldResultIds(const std::vector<const orvex::hostkit::ImageInCache*>& images);

// Per stage (1 to the last), the results the `run` trees hold, by where they came from;
// `before` as HeldResultIds gave it before the run.
std::vector<StageCost> CostOfRun(const std::set<std::string>& before,
                                 const std::vector<const orvex::hostkit::ImageInCache*>& run);

// {"stages": [{"stage", "name", "computed", "reused", "loaded", "computeMs"}], "totals": {...}}
nlohmann::json CostJson(const std::vector<StageCost>& cost);

}  // namespace explore
}  // namespace stagecache

#endif
