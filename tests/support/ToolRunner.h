// Runs the stagecache tool as a user runs it, from a shell.
#ifndef ORVEX_TESTS_SUPPORT_TOOLRUNNER_H
#define ORVEX_TESTS_SUPPORT_TOOLRUNNER_H

#include <filesystem>
#include <string>

namespace orvex {
namespace testing {

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs `tool` with `arguments` (already quoted where needed), its standard error going
// through `errFile`.
ToolRun RunTool(const std::string& tool, const std::string& arguments, const std::filesystem::path& errFile);

// The whole of a file, or an empty text when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& path);

}  // namespace testing
}  // namespace orvex

#endif
