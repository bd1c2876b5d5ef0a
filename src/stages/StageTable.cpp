// What the library tells of the stages from their table.
#include <orvex/stages/StageTable.h>

#include <array>
#include <utility>

namespace orvex {
namespace stages {

namespace {

template <std::size_t... I>
constexpr std::array<const char*, sizeof...(I)> StageNames(std::index_sequence<I...>) {
  return {{StageRow<kFirstStage + static_cast<int>(I)>::kName...}};
}

}  // namespace

const char* GetStageName(int stage) {
  static constexpr auto kNames = StageNames(std::make_index_sequence<kLastStage - kFirstStage + 1>{});
  return stage >= kFirstStage && stage <= kLastStage ? kNames[stage - kFirstStage] : "";
}

}  // namespace stages
}  // namespace orvex
