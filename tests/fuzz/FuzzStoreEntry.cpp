// Any bytes as a result store's entry file, read by the code a load runs (a store's Load,
// headers and payloads alike), with and without a key, and by the store's check; then as
// a stored result of every result type: read back or refused, never misread. Valid
// entries for the fuzzer's key (raw, lz4, zstd, with and without a tag) are in the seed
// corpus.
#include <orvex/hostkit/FileResultStore.h>
#include <orvex/improc/DP_Stages.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

using namespace orvex;

namespace {

// The key the seed entries are written under, and the key of the tagged ones.
const StoreKey kKey{"fuzz-23", 23, 1};
const char kFuzzStoreKey[] = "fuzz store key";

// Two stores in a scratch folder of their own, one of them with the key.
struct Stores {
  Stores() {
    char folder[] = "/tmp/fuzz-store-XXXXXX";
    if (mkdtemp(folder) == nullptr) std::abort();
    root = folder;
    hostkit::StoreOptions options;
    options.warn = [](const std::string&) {};
    plain.reset(new hostkit::FileResultStore(root + "/plain", options));
    options.key = kFuzzStoreKey;
    keyed.reset(new hostkit::FileResultStore(root + "/keyed", options));
  }
  ~Stores() {
    plain.reset();
    keyed.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  std::string root;
  std::unique_ptr<hostkit::FileResultStore> plain, keyed;
};

// Restores the bytes into a stage of each result type; what restores must encode back to
// bytes that restore the same way.
template <class Stage, class... Args>
void Restore(const std::vector<unsigned char>& bytes, Args... args) {
  QZRef<Stage> stage(new Stage(args...));
  if (!stage->RestoreResult(bytes.data(), bytes.size())) return;
  std::vector<unsigned char> again;
  if (!stage->EncodeResult(&again)) std::abort();
  QZRef<Stage> copy(new Stage(args...));
  if (!copy->RestoreResult(again.data(), again.size())) std::abort();
}

// Puts `data` where the store keeps the entry of kKey, then loads and checks it.
void LoadAsEntry(hostkit::FileResultStore& store, const uint8_t* data, size_t size) {
  const std::string path = store.EntryPath(kKey);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  std::vector<unsigned char> payload;
  if (store.Load(kKey, &payload)) Restore<DP_ProcessLineSet>(payload, nullptr, nullptr);
  store.Contents(true);
  std::remove(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Stores stores;
  LoadAsEntry(*stores.plain, data, size);
  LoadAsEntry(*stores.keyed, data, size);
  const std::vector<unsigned char> raw(data, data + size);
  Restore<DP_ProcessLineSet>(raw, nullptr, nullptr);
  Restore<DP_ProcessContour>(raw, nullptr);
  Restore<DP_TextureDetectImage>(raw, nullptr, nullptr);
  Restore<DP_ROIImage>(raw, nullptr, QZ_Quad());
  Restore<DP_DetectROIs>(raw, nullptr, nullptr);
  Restore<DP_BinarizeROIImage>(raw, nullptr, nullptr);
  return 0;
}
