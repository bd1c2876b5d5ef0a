#include "Inputs.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace stagecache {

namespace {

bool IsImageName(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
  return extension == ".png" || extension == ".jpg" || extension == ".jpeg";
}

// Why a folder entry named like an image is no file to read, or empty when it is one.
std::string EntryProblem(const std::filesystem::directory_entry& entry) {
  std::error_code error;
  if (entry.is_symlink(error)) {
    if (std::filesystem::status(entry.path(), error).type() == std::filesystem::file_type::not_found || error) {
      if (error == std::errc::too_many_symbolic_link_levels) return "is a symbolic link in a loop";
      return "is a symbolic link to nothing";
    }
  }
  if (!entry.is_regular_file(error)) return "is not a regular file";
  return std::string();
}

}  // namespace

std::vector<InputFile> ExpandInputs(const std::vector<std::string>& inputs) {
  std::vector<InputFile> files;
  for (const std::string& input : inputs) {
    std::error_code error;
    if (!std::filesystem::is_directory(input, error)) {
      files.push_back({input, std::string(), false});
      continue;
    }
    std::vector<InputFile> found;
    for (const auto& entry : std::filesystem::directory_iterator(input, error)) {
      if (IsImageName(entry.path())) found.push_back({entry.path().string(), EntryProblem(entry), false});
    }
    std::sort(found.begin(), found.end(), [](const InputFile& a, const InputFile& b) { return a.path < b.path; });
    files.insert(files.end(), found.begin(), found.end());
  }
  return files;
}

std::vector<InputFile> ShardOf(std::vector<InputFile> inputs, size_t index, size_t count) {
  std::stable_sort(inputs.begin(), inputs.end(), [](const InputFile& a, const InputFile& b) { return a.path < b.path; });
  std::vector<InputFile> shard;
  for (size_t i = index; i < inputs.size(); i += count) shard.push_back(inputs[i]);
  return shard;
}

}  // namespace stagecache
