#include "EditedSets.h"

#include "Access.h"

#include <orvex/modes/ModeFields.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace stagecache {
namespace explore {

using nlohmann::json;

namespace {

// Throws while the parser is deeper than kMostJsonDepth, before it builds anything deeper.
class DepthLimit : public std::runtime_error {
 public:
  DepthLimit() : std::runtime_error("the JSON is nested more than " + std::to_string(kMostJsonDepth) + " levels deep") {}
};

// How many paths from the source image to the line segments the set's tree has at most:
// every record of a list makes one branch below each node of the list before it.
size_t PathsOf(const ParameterSet& set) {
  size_t paths = 1;
  orvex::VisitModeLists(set.parameters, [&](const char*, const auto& list, orvex::ModeListRole) {
    paths *= std::max<size_t>(1, list.size());
    if (paths > kMostPathsPerSet) paths = kMostPathsPerSet + 1;
  });
  return paths;
}

std::string SystemReason() { return std::strerror(errno); }

}  // namespace

json ParseRequestBody(const std::string& body) {
  if (body.size() > kMostRequestBytes) {
    throw RequestError(413, "the request has " + std::to_string(body.size()) + " bytes, more than " +
                                std::to_string(kMostRequestBytes));
  }
  try {
    return json::parse(body, [](int depth, json::parse_event_t, json&) {
      if (depth > kMostJsonDepth) throw DepthLimit();
      return true;
    });
  } catch (const DepthLimit& error) {
    throw RequestError(400, std::string("malformed request: ") + error.what());
  } catch (const json::exception& error) {
    std::string reason = error.what();
    const size_t detail = reason.find("] ");
    if (detail != std::string::npos) reason = reason.substr(detail + 2);
    throw RequestError(400, "malformed request: " + reason.substr(0, 200));
  }
}

std::vector<ParameterSet> ReadEditedSets(const json& sets, const std::string& source) {
  if (!sets.is_array() || sets.empty()) throw RequestError(400, source + ": expected a non-empty list of parameter sets");
  if (sets.size() > kMostSets) {
    throw RequestError(400, source + ": " + std::to_string(sets.size()) + " parameter sets, more than the " +
                                std::to_string(kMostSets) + " explore works with at once");
  }
  std::vector<ParameterSet> read;
  try {
    read = orvex::hostkit::ParseParameterSets(json{{"parameterSets", sets}}.dump(), source);
  } catch (const orvex::hostkit::ParameterError& error) {
    throw RequestError(400, error.what());
  }
  for (size_t s = 0; s < read.size(); ++s) {
    const std::string path = source + ": parameterSets[" + std::to_string(s) + "]";
    orvex::VisitModeLists(read[s].parameters, [&](const char* name, const auto& list, orvex::ModeListRole) {
      if (list.size() > kMostRecordsPerList) {
        throw RequestError(400, path + "." + name + ": " + std::to_string(list.size()) + " records, more than " +
                                    std::to_string(kMostRecordsPerList));
      }
    });
    if (PathsOf(read[s]) > kMostPathsPerSet) {
      throw RequestError(400, path + ": the lists' lengths multiply to more than " + std::to_string(kMostPathsPerSet) +
                                  " paths through the tree, too many to recompute live");
    }
  }
  return read;
}

json SetsAsJson(const std::vector<ParameterSet>& sets) {
  return json::parse(orvex::hostkit::WriteParameterSets(sets))["parameterSets"];
}

void WriteFileAtomically(const std::string& path, const std::string& text) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const std::string temporary =
      (folder / ("." + target.filename().string() + ".explore-" + std::to_string(getpid()) + "-" + RandomToken() + ".tmp"))
          .string();
  const auto fail = [&](const std::string& what) {
    const std::string reason = SystemReason();
    unlink(temporary.c_str());
    throw RequestError(500, "cannot write " + path + ": " + what + ": " + reason);
  };
  const int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor < 0) {
    throw RequestError(500, "cannot write " + path + ": cannot create a file beside it: " + SystemReason());
  }
  struct stat old;
  if (stat(path.c_str(), &old) == 0) fchmod(descriptor, old.st_mode & 07777);
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(descriptor, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(descriptor);
      fail("writing");
    }
    written += static_cast<size_t>(n);
  }
  if (fsync(descriptor) != 0) {
    close(descriptor);
    fail("flushing");
  }
  if (close(descriptor) != 0) fail("closing");
  if (rename(temporary.c_str(), path.c_str()) != 0) fail("renaming");
  const int folderDescriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderDescriptor >= 0) {
    fsync(folderDescriptor);
    close(folderDescriptor);
  }
}

}  // namespace explore
}  // namespace stagecache
