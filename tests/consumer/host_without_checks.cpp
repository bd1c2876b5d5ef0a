// A host built without the checking builds' definition, run against libraries built with
// it (the sanitizer builds): every class it shares with them must have the same layout, or
// the sanitizers stop it. It makes its own matrices and wraps and runs a page through a
// tree, reading results through the header templates.
#include <OrvexStagecacheHost.h>

#include "../support/HostPipeline.h"
#include "../support/TestScene.h"

#include <cstdio>
#include <string>

int main() {
#ifdef ORVEX_CHECK_HELD_LOCKS
  std::fprintf(stderr, "built with the checking definition; this host must be built without it\n");
  return 1;
#endif
  using namespace orvex;
  QZ_ImageParameter parameters = testing::PageParameters(10);
  QZRef<ParamTreeGroup> group = QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader()->InitParameterTreeGroup(
      &parameters, &testing::RegisterGroup, "host-without-checks");
  if (!group) return 1;
  StageRequestMap keep;
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    keep[static_cast<tav::DataUnitStageType>(stage)] = 1;
  }
  QZRef<QZMatrix> page(new QZMatrix(testing::DrawBarPage(cv::Size(320, 240))));
  char id[kHashIdBufferSize] = "";
  if (!group->AddSourceData(page, 0, 0, id, keep)) return 1;
  const std::vector<std::string> regions = testing::AddRegionsAndGenerateLines(*group, id);
  // A wrap made by this host, on the library's result, run through the templates here.
  tav::CDataUnit* unit = nullptr;
  group->GetDataUnit(id, &unit);
  auto* source = dynamic_cast<DW_SourceImage*>(unit);
  if (source == nullptr) return 1;
  QZRef<DW_ColourImageAfterSizeFitting> fitted(new DW_ColourImageAfterSizeFitting(source));
  DP_SizeFittingImage* stage = fitted->GetData(true);
  const bool fittedImage = stage != nullptr && stage->GetPrimaryData(false);
  group->MinusSavedTypeCount(id, keep);
  group->RemoveSameSourceData(id);
  fitted.reset();
  group.reset();
  QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader()->UpdateTreeGroups();
  std::printf("%zu regions, fitted image %s\n", regions.size(), fittedImage ? "made" : "missing");
  return regions.empty() || !fittedImage ? 1 : 0;
}
