// Any text as a parameter file: parsed or refused with a ParameterError, and what parses
// writes back to a file that parses to the same.
#include <orvex/hostkit/ParameterSets.h>

#include <cstdlib>
#include <string>

using orvex::hostkit::ParameterError;
using orvex::hostkit::ParameterSet;
using orvex::hostkit::ParseParameterSets;
using orvex::hostkit::WriteParameterSets;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::string text(reinterpret_cast<const char*>(bytes), size);
  std::vector<ParameterSet> sets;
  try {
    sets = ParseParameterSets(text, "fuzz.json");
  } catch (const ParameterError&) {
    return 0;
  }
  const std::string written = WriteParameterSets(sets);
  try {
    if (WriteParameterSets(ParseParameterSets(written, "written.json")) != written) std::abort();
  } catch (const ParameterError&) {
    std::abort();  // what the kit writes it must read back
  }
  return 0;
}
