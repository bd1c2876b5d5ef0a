// Any text as a parameter file of the stagecache tool: parsed or refused with a
// ParameterError, and what parses writes back to a file that parses to the same.
#include "../../tools/stagecache/ParameterFile.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::string text(reinterpret_cast<const char*>(bytes), size);
  std::vector<stagecache::ParameterSet> sets;
  try {
    sets = stagecache::ParseParameterSets(text, "fuzz.json");
  } catch (const stagecache::ParameterError&) {
    return 0;
  }
  const std::string written = stagecache::WriteParameterSets(sets);
  try {
    if (stagecache::WriteParameterSets(stagecache::ParseParameterSets(written, "written.json")) != written) std::abort();
  } catch (const stagecache::ParameterError&) {
    std::abort();  // what the tool writes it must read back
  }
  return 0;
}
