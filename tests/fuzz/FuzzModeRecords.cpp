// Mode records with any field values and text bytes: canonical texts, hashes, the two
// list rules and the range checks never crash and never disagree with themselves.
#include <OrvexStagecacheHost.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

namespace {

using namespace orvex;

template <class Record>
void Exercise(Record record) {
  const std::string text = record.ToString();
  const std::string id = CalcHashValueOfMode(&record);
  const std::string again = GenerateHashId(text.data(), static_cast<unsigned int>(text.size()));
  if (id != again) std::abort();  // the cached id is the hash of the text
  std::vector<Record> list(3, record);
  CalcHashValueOfModesVec(&list);
}

template <class Record>
void Checked(const Record& record) {
  Exercise(record);
  CheckModeRecord(record);
}

std::string Text(FuzzedDataProvider& data) { return data.ConsumeRandomLengthString(64); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  QZVP_ColourConversionModeStruct colour;
  colour.mode = data.ConsumeIntegral<int32_t>();
  colour.channel = data.ConsumeIntegral<int32_t>();
  colour.intArg1 = data.ConsumeIntegral<int32_t>();
  colour.intArg2 = data.ConsumeIntegral<int32_t>();
  colour.intArg3 = data.ConsumeIntegral<int32_t>();
  colour.textArg1 = Text(data);
  Checked(colour);

  QZVP_GrayscaleTransformationModeStruct transform(data.ConsumeIntegral<int32_t>());
  transform.textArg2 = Text(data);
  Exercise(transform);
  std::vector<QZVP_GrayscaleTransformationModeStruct> transforms(data.ConsumeIntegralInRange<int>(0, 6), transform);
  for (auto& t : transforms) t.mode = data.ConsumeIntegral<int32_t>();
  std::vector<QZVP_GrayscaleTransformationModeStruct> filtered;
  FilterGrayscaleTransformationMode(transforms, filtered);
  if (filtered.size() > 2) std::abort();

  QZVP_RegionPredetectionModeStruct regions;
  regions.mode = data.ConsumeIntegral<int32_t>();
  regions.intArg4 = data.ConsumeIntegral<int32_t>();
  for (int i = data.ConsumeIntegralInRange<int>(0, 4); i > 0; --i) {
    regions.relativeRegions.push_back({data.ConsumeIntegral<int32_t>(), data.ConsumeIntegral<int32_t>(),
                                       data.ConsumeIntegral<int32_t>(), data.ConsumeIntegral<int32_t>(),
                                       data.ConsumeIntegral<int32_t>()});
  }
  for (int32_t& p : regions.intPairArray) p = data.ConsumeIntegral<int32_t>();
  regions.textArg3 = Text(data);
  Checked(regions);

  QZVP_GrayscaleEnhancementModeStruct enhancement;
  enhancement.mode = data.ConsumeIntegral<int32_t>();
  enhancement.intArg2 = data.ConsumeIntegral<int32_t>();
  Checked(enhancement);

  std::vector<QZVP_BinarizationModeStruct> binarizations(data.ConsumeIntegralInRange<int>(0, 5));
  for (auto& b : binarizations) {
    b.mode = data.ConsumeIntegral<int32_t>();
    b.intArg1 = data.ConsumeIntegral<int32_t>();
    b.intArg5 = data.ConsumeBool() ? -10000 : data.ConsumeIntegral<int32_t>();
    b.intArg10 = data.ConsumeIntegral<int32_t>();
    b.textArg1 = Text(data);
    Checked(b);
  }
  std::vector<std::vector<QZVP_BinarizationModeStruct>> groups;
  ExtandBinarizationMode(binarizations, groups);
  if (groups.size() != binarizations.size()) std::abort();

  QZVP_TextureDetectionModeStruct texture;
  texture.mode = data.ConsumeIntegral<int32_t>();
  texture.intArg1 = data.ConsumeIntegral<int32_t>();
  Checked(texture);
  QZVP_TextFilterModeStruct filter;
  filter.mode = data.ConsumeIntegral<int32_t>();
  filter.intArg1 = data.ConsumeIntegral<int32_t>();
  filter.textArg2 = data.ConsumeRemainingBytesAsString();
  Checked(filter);
  QZVP_LineExtractionModeStruct lines;
  lines.mode = filter.mode;
  Exercise(lines);
  return 0;
}
