#include "RunCost.h"

#include <OrvexStagecacheHost.h>

#include <cmath>

namespace stagecache {
namespace explore {

using orvex::hostkit::ImageInCache;
using orvex::hostkit::NodeResults;

namespace {

double Rounded(double ms) { return std::round(ms * 100.0) / 100.0; }

// Whether the stage object of a result of stage N has run (or was restored): a result
// whose descendants came from the store may never have been asked for its own.
template <int N>
bool SettledAt(const orvex::DW_Base& result) {
  auto* typed = dynamic_cast<orvex::stages::WrapOf<N>*>(const_cast<orvex::DW_Base*>(&result));
  auto* stage = typed != nullptr ? typed->GetData(false) : nullptr;
  return stage != nullptr && stage->IsComputed();
}

template <int... Offsets>
bool Settled(const orvex::DW_Base& result, int stage, std::integer_sequence<int, Offsets...>) {
  bool settled = false;
  ((stage == orvex::stages::kFirstStage + Offsets ? (void)(settled = SettledAt<orvex::stages::kFirstStage + Offsets>(result))
                                                  : (void)0),
   ...);
  return settled;
}

}  // namespace

std::set<std::string> HeldResultIds(const std::vector<const ImageInCache*>& images) {
  std::set<std::string> ids;
  for (const ImageInCache* image : images)
    for (const NodeResults& node : image->ResultsByNode(0))
      for (const orvex::DW_Base* result : node.results) ids.insert(result->GetDataHashID());
  return ids;
}

std::vector<StageCost> CostOfRun(const std::set<std::string>& before, const std::vector<const ImageInCache*>& run) {
  std::vector<StageCost> cost(orvex::stages::kLastStage);
  for (int stage = 1; stage <= orvex::stages::kLastStage; ++stage) cost[stage - 1].stage = stage;
  std::set<std::string> counted;
  for (const ImageInCache* image : run) {
    for (const NodeResults& node : image->ResultsByNode(0)) {
      StageCost& stage = cost[node.stage - 1];
      for (const orvex::DW_Base* result : node.results) {
        const std::string id = result->GetDataHashID();
        if (!counted.insert(id).second) continue;
        if (before.count(id) != 0) {
          ++stage.reused;
        } else if (result->IsLoadedFromStore()) {
          ++stage.loaded;
        } else if (Settled(*result, node.stage, orvex::stages::kEveryStage)) {
          ++stage.computed;
          stage.computeMs += result->GetComputeNanoseconds() / 1e6;
        }
      }
    }
  }
  return cost;
}

nlohmann::json CostJson(const std::vector<StageCost>& cost) {
  nlohmann::json stages = nlohmann::json::array();
  StageCost total;
  for (const StageCost& stage : cost) {
    stages.push_back({{"stage", stage.stage},
                      {"name", orvex::stages::GetStageName(stage.stage)},
                      {"computed", stage.computed},
                      {"reused", stage.reused},
                      {"loaded", stage.loaded},
                      {"computeMs", Rounded(stage.computeMs)}});
    total.computed += stage.computed;
    total.reused += stage.reused;
    total.loaded += stage.loaded;
    total.computeMs += stage.computeMs;
  }
  return {{"stages", std::move(stages)},
          {"totals",
           {{"computed", total.computed},
            {"reused", total.reused},
            {"loaded", total.loaded},
            {"computeMs", Rounded(total.computeMs)}}}};
}

}  // namespace explore
}  // namespace stagecache
