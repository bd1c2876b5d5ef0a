// Canonical text plus hash id of the largest mode record: region predetection, ten elements in each list.
#include <OrvexStagecacheHost.h>

#include <benchmark/benchmark.h>

namespace {

orvex::QZVP_RegionPredetectionModeStruct LargestRecord() {
  orvex::QZVP_RegionPredetectionModeStruct record;
  record.mode = orvex::RPM_MANUAL_SPECIFICATION;
  record.intArg1 = 120;
  record.intArg2 = -45;
  record.intArg3 = 100000;
  for (int i = 0; i < 10; ++i) {
    record.relativeRegions.push_back({1, 10 * i, 5 * i, 90 - i, 95 - 2 * i});
    record.foreAndBackgroundColours.push_back({255 - i, i * 3, 17});
    record.rangeList1.push_back({i, 10 * i + 5});
    record.rangeList2.push_back({20 + i, 400 + i});
    record.rangeList3.push_back({30 + i, 600 + i});
  }
  for (int i = 0; i < 8; ++i) record.intPairArray[i] = 1000 * i - 3;
  record.textArg1 = "barcode";
  record.textArg2 = "page";
  record.textArg3 = "region";
  return record;
}

void BM_RegionRecordTextAndHash(benchmark::State& state) {
  const orvex::QZVP_RegionPredetectionModeStruct record = LargestRecord();
  for (auto _ : state) {
    const std::string text = record.ToString();
    benchmark::DoNotOptimize(orvex::GenerateHashId(text.data(), static_cast<unsigned int>(text.size())));
  }
}
BENCHMARK(BM_RegionRecordTextAndHash);

}  // namespace
