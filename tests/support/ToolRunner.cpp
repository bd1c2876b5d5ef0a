#include "ToolRunner.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace orvex {
namespace testing {

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ToolRun RunTool(const std::string& tool, const std::string& arguments, const std::filesystem::path& errFile) {
  const std::string command = tool + " " + arguments + " 2>" + errFile.string();
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t read;
  while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, read);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadWholeFile(errFile);
  return run;
}

}  // namespace testing
}  // namespace orvex
