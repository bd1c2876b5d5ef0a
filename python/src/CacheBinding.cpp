#include "CacheBinding.h"

#include "NumpyArrays.h"

#include <orvex/hostkit/ImageFiles.h>
#include <orvex/hostkit/ImageSummary.h>
#include <orvex/hostkit/ParameterSets.h>
#include <orvex/hostkit/ProcessPool.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <mutex>

namespace py = pybind11;

namespace orvex {
namespace python {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

py::object Os() { return py::module_::import("os"); }

bool IsPath(const py::handle& object) {
  return py::isinstance<py::str>(object) || py::isinstance<py::bytes>(object) || py::hasattr(object, "__fspath__");
}

// Text from bytes that may not be UTF-8 (a file name inside a message): the bytes that are
// not come back as surrogate escapes, as os.fsdecode gives them.
py::str TextOf(const std::string& bytes) {
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

[[noreturn]] void Raise(PyObject* type, const py::object& value) {
  PyErr_SetObject(type, value.ptr());
  throw py::error_already_set();
}

// A path's bytes as the file system takes them (any name, UTF-8 or not). A str that the
// file system encoding cannot take raises UnicodeEncodeError, a null byte ValueError, as
// Python's own open() does.
std::string PathBytes(const py::handle& path) {
  const std::string bytes = Os().attr("fsencode")(path).cast<std::string>();
  if (bytes.find('\0') != std::string::npos) Raise(PyExc_ValueError, py::str("embedded null byte"));
  return bytes;
}

// What a message calls a path given as str, bytes or os.PathLike.
py::str PathText(const py::handle& path) { return Os().attr("fsdecode")(path); }

// "<path>: <what>" as a Python str, whatever the path's encoding.
py::str AboutPath(const py::handle& path, const std::string& what) {
  return py::str("{}: {}").format(PathText(path), what);
}

[[noreturn]] void RaiseFileError(hostkit::FileProblem problem, const py::object& path, const std::string& reason) {
  if (problem == hostkit::FileProblem::kRefused) Raise(PyExc_ValueError, AboutPath(path, reason));
  // OSError(errno, text, filename) is FileNotFoundError for ENOENT; the file name is the
  // path as it was given.
  const int error = problem == hostkit::FileProblem::kMissing ? ENOENT
                    : reason.find("permission") != std::string::npos ? EACCES
                                                                     : EIO;
  Raise(PyExc_OSError, py::make_tuple(error, "image file " + reason, path));
}

[[noreturn]] void RaiseParameterError(const hostkit::ParameterError& error) {
  Raise(PyExc_ValueError, TextOf(error.what()));
}

// The result store of the process, installed for the process's pool: one folder (and key)
// per process.
class InstalledStore {
 public:
  static std::shared_ptr<hostkit::FileResultStore> For(const std::string& folder, uint64_t limitBytes,
                                                       const std::string& key) {
    static InstalledStore installed;
    std::error_code error;
    const std::string canonical = std::filesystem::weakly_canonical(std::filesystem::absolute(folder), error).string();
    const std::string where = canonical.empty() ? folder : canonical;
    std::lock_guard<std::mutex> lock(installed.m_mutex);
    if (installed.m_store) {
      if (installed.m_store->Folder() == where && installed.m_key == key) return installed.m_store;
      Raise(PyExc_ValueError, TextOf("this process already keeps its results in the store " +
                                     installed.m_store->Folder() +
                                     (installed.m_store->Folder() == where ? " with another key" : std::string()) +
                                     "; a process uses one store"));
    }
    hostkit::StoreOptions options;
    options.limitBytes = limitBytes;
    options.key = key;
    auto store = std::make_shared<hostkit::FileResultStore>(where, options);
    if (!store->IsStore()) Raise(PyExc_ValueError, TextOf(store->NotAStore()));
    installed.m_store = std::move(store);
    installed.m_key = key;
    hostkit::InstallResultStore(installed.m_store);
    return installed.m_store;
  }

 private:
  std::mutex m_mutex;  // guards m_store and m_key; taken alone
  std::shared_ptr<hostkit::FileResultStore> m_store;
  std::string m_key;
};

// The key in a key file given as a path; OSError or ValueError when it cannot be one.
std::string StoreKeyOf(const py::object& keyFile) {
  if (keyFile.is_none()) return std::string();
  if (!IsPath(keyFile)) throw py::type_error("store_key must be None or a key file's path");
  // Opened by Python first, so that a missing or unreadable file raises its own OSError.
  py::module_::import("builtins").attr("open")(keyFile, "rb").attr("close")();
  std::string key, reason;
  if (!hostkit::ReadStoreKey(PathBytes(keyFile), &key, &reason)) Raise(PyExc_ValueError, TextOf(reason));
  return key;
}

std::vector<hostkit::ParameterSet> ParametersOf(const py::object& params) {
  try {
    if (params.is_none()) return hostkit::DefaultParameterSets();
    if (py::isinstance<py::dict>(params)) {
      const std::string text = py::module_::import("json").attr("dumps")(params).cast<std::string>();
      return hostkit::ParseParameterSets(text, "params");
    }
    if (IsPath(params)) {
      // Opened by Python first, so that a missing or unreadable file raises its own OSError.
      py::module_::import("builtins").attr("open")(params, "rb").attr("close")();
      return hostkit::LoadParameterSets(PathBytes(params));
    }
  } catch (const hostkit::ParameterError& error) {
    RaiseParameterError(error);
  }
  throw py::type_error("params must be None, a parameter file's path or its structure as a dict, not " +
                       std::string(py::str(py::type::of(params))));
}

int StageOf(const py::object& stage) {
  if (py::isinstance<py::int_>(stage) && !py::isinstance<py::bool_>(stage)) {
    const long long number = stage.cast<long long>();
    if (number < stages::kFirstStage || number > stages::kLastStage) {
      throw py::value_error("stage must be 1 to 23 or a stage name, not " + std::to_string(number));
    }
    return static_cast<int>(number);
  }
  if (py::isinstance<py::str>(stage)) {
    const std::string name = stage.cast<std::string>();
    for (int s = stages::kFirstStage; s <= stages::kLastStage; ++s) {
      if (name == stages::GetStageName(s)) return s;
    }
    throw py::value_error("unknown stage '" + name + "'; stage_names() lists them");
  }
  throw py::type_error("stage must be a stage number or name");
}

// An image file added to every set, or why it was not.
struct AddedFile {
  std::unique_ptr<hostkit::ImageInCache> image;
  double seconds = 0;
  hostkit::FileProblem problem = hostkit::FileProblem::kNone;
  std::string reason;
};

AddedFile AddFile(CacheState& cache, const std::string& path) {
  py::gil_scoped_release nogil;
  AddedFile added;
  const Clock::time_point start = Clock::now();
  hostkit::PreparedImage prepared;
  if (!hostkit::PrepareImageFile(path, cache.store.get(), &prepared, &added.reason, &added.problem)) return added;
  added.image = cache.sets->Process(std::move(prepared), &added.reason);
  added.seconds = SecondsSince(start);
  // What the image wrote reaches the store's size files now, also in a forked worker
  // that ends without its destructors.
  if (cache.store) cache.store->Flush();
  return added;
}

}  // namespace

GivenName GivenName::Of(const py::handle& name) {
  const py::object given = Os().attr("fspath")(name);
  GivenName kept;
  kept.text = py::isinstance<py::str>(given);
  if (!kept.text) {
    kept.bytes = given.cast<std::string>();
    return kept;
  }
  PyObject* utf8 = PyUnicode_AsEncodedString(given.ptr(), "utf-8", "surrogatepass");
  if (utf8 == nullptr) throw py::error_already_set();
  kept.bytes = py::reinterpret_steal<py::bytes>(utf8).cast<std::string>();
  return kept;
}

py::object GivenName::Object() const {
  if (!text) return py::bytes(bytes);
  PyObject* name = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogatepass");
  if (name == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(name);
}

std::string CanonicalParameters(const py::object& params) {
  std::vector<hostkit::ParameterSet> sets = ParametersOf(params);
  py::gil_scoped_release nogil;
  return hostkit::WriteParameterSets(sets);
}

std::size_t CacheState::SetIndex(const std::string& name) const {
  const std::size_t index = sets->IndexOf(name);
  if (index == sets->Sets().size()) throw py::key_error("no parameter set named '" + name + "'");
  return index;
}

Cache::Cache(const py::object& params, const py::object& store, const py::object& storeLimit,
             const py::object& storeKey)
    : m_state(std::make_shared<CacheState>()) {
  std::vector<hostkit::ParameterSet> sets = ParametersOf(params);
  if (!store.is_none()) {
    if (!IsPath(store)) throw py::type_error("store must be None or a folder's path");
    const uint64_t limit = storeLimit.is_none() ? hostkit::StoreOptions().limitBytes : storeLimit.cast<uint64_t>();
    m_state->store = InstalledStore::For(PathBytes(store), limit, StoreKeyOf(storeKey));
  } else if (!storeKey.is_none()) {
    throw py::value_error("store_key needs a store");
  }
  try {
    py::gil_scoped_release nogil;
    m_state->sets = std::make_unique<hostkit::SetGroups>(std::move(sets));
  } catch (const hostkit::ParameterError& error) {
    RaiseParameterError(error);
  }
}

py::list Cache::SetNames() const {
  py::list names;
  for (const hostkit::ParameterSet& set : m_state->sets->Sets()) names.append(set.name);
  return names;
}

std::unique_ptr<Image> Cache::Add(const py::object& input, const py::object& name) {
  if (py::isinstance<py::array>(input)) {
    const GivenName shown = name.is_none() ? GivenName{"array", true} : GivenName::Of(name);
    const ArrayPixels pixels(input);
    std::unique_ptr<hostkit::ImageInCache> image;
    std::string refused;
    double seconds = 0;
    {
      py::gil_scoped_release nogil;
      const Clock::time_point start = Clock::now();
      image = m_state->sets->Process(pixels.Copy(), &refused);
      seconds = SecondsSince(start);
      // What the image wrote reaches the store's size files now, also in a forked worker
      // that ends without its destructors.
      if (m_state->store) m_state->store->Flush();
    }
    if (!image) throw py::value_error("the pixels were refused: " + refused);
    return std::make_unique<Image>(m_state, std::move(image), shown, seconds);
  }
  if (!IsPath(input)) {
    throw py::type_error("add() takes a numpy array or an image file's path, not " + std::string(py::str(py::type::of(input))));
  }
  // The path as str or bytes, reported back as it came: its bytes only open the file.
  const py::object given = Os().attr("fspath")(input);
  const GivenName shown = GivenName::Of(name.is_none() ? given : name);
  AddedFile added = AddFile(*m_state, PathBytes(given));
  if (added.problem != hostkit::FileProblem::kNone) RaiseFileError(added.problem, given, added.reason);
  if (!added.image) Raise(PyExc_ValueError, AboutPath(given, "the image was refused: " + added.reason));
  return std::make_unique<Image>(m_state, std::move(added.image), shown, added.seconds);
}

py::dict Cache::SummaryOfFile(const py::object& path) {
  const py::object given = Os().attr("fspath")(path);
  std::string bytes;
  std::string unusable;
  try {
    bytes = PathBytes(given);
  } catch (py::error_already_set& error) {
    // A str the file system encoding cannot take, or a null byte: no file has that name.
    if (!error.matches(PyExc_ValueError)) throw;
    unusable = error.matches(PyExc_UnicodeError) ? "is not a file name (the file system encoding cannot take it)"
                                                  : "is not a file name (it holds a null byte)";
  }
  std::string line;
  {
    AddedFile added;
    if (unusable.empty()) added = AddFile(*m_state, bytes);
    py::gil_scoped_release nogil;
    if (!unusable.empty()) {
      line = hostkit::SkippedJsonLine("", unusable);
    } else if (added.image) {
      hostkit::ImageSummary summary = added.image->Summary("", 0.0);
      const Clock::time_point release = Clock::now();
      added.image.reset();
      summary.seconds = added.seconds + SecondsSince(release);
      line = hostkit::SummaryJsonLine(summary);
    } else {
      line = hostkit::SkippedJsonLine("", added.reason);
    }
  }
  py::dict summary = py::module_::import("json").attr("loads")(line);
  summary["image"] = given;  // as it was given: JSON text could not carry every file name
  return summary;
}

CacheStatistics Cache::Statistics() const {
  py::gil_scoped_release nogil;
  return hostkit::PoolStatistics();
}

py::object Cache::StoreFolder() const {
  if (!m_state->store) return py::none();
  return TextOf(m_state->store->Folder());
}

Image::Image(std::shared_ptr<CacheState> cache, std::unique_ptr<hostkit::ImageInCache> image, GivenName name, double seconds)
    : m_cache(std::move(cache)), m_id(image->Id()), m_name(std::move(name)), m_seconds(seconds), m_image(std::move(image)) {}

Image::~Image() {
  if (!m_image) return;
  if (PyGILState_Check()) {
    py::gil_scoped_release nogil;
    m_image.reset();
  } else {
    m_image.reset();
  }
}

bool Image::Released() const {
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  return !m_image;
}

template <class ReadFunction>
auto Image::Read(ReadFunction read) const -> decltype(read(std::declval<const hostkit::ImageInCache&>())) {
  py::gil_scoped_release nogil;
  std::shared_lock<std::shared_mutex> lock(m_mutex);
  if (!m_image) throw py::value_error("image " + m_id + " was released");
  return read(*m_image);
}

py::dict Image::Summary() const {
  const std::string line = Read([&](const hostkit::ImageInCache& image) {
    return hostkit::SummaryJsonLine(image.Summary("", m_seconds));
  });
  py::dict summary = py::module_::import("json").attr("loads")(line);
  summary["image"] = Name();  // as it was given: JSON text could not carry every file name
  return summary;
}

py::array_t<float> Image::Regions(const std::string& set) const {
  const std::size_t s = m_cache->SetIndex(set);
  return QuadArray(Read([&](const hostkit::ImageInCache& image) { return image.Regions(s); }));
}

py::array_t<float> Image::LineSegments(const std::string& set) const {
  const std::size_t s = m_cache->SetIndex(set);
  return SegmentArray(Read([&](const hostkit::ImageInCache& image) { return image.LineSegments(s); }));
}

py::array Image::Result(const std::string& set, const py::object& stageObject, int region, int branch) const {
  const std::size_t s = m_cache->SetIndex(set);
  const int stage = StageOf(stageObject);
  const bool regionStage = stages::IsRegionStage(stage);
  const std::string what = "stage " + std::to_string(stage) + " (" + stages::GetStageName(stage) + ")";
  if (!regionStage && region != 0) throw py::value_error(what + " is a whole-image stage: region must be 0");
  struct Found {
    hostkit::StageImage image;
    bool found = false;
    std::size_t branches = 0;
    std::size_t regions = 0;
  };
  Found found = Read([&](const hostkit::ImageInCache& image) {
    Found look;
    look.branches = m_cache->sets->NodeCount(s, stage);
    look.regions = regionStage ? image.Regions(s).size() : 1;
    for (hostkit::StageImage& candidate : image.StageImages(s, stage)) {
      if (candidate.node == branch && candidate.region == (regionStage ? region : -1)) {
        look.image = std::move(candidate);
        look.found = true;
        break;
      }
    }
    return look;
  });
  if (found.found) return ReadOnlyView(found.image);
  if (branch < 0 || static_cast<std::size_t>(branch) >= found.branches) {
    throw py::index_error("set '" + set + "' has " + std::to_string(found.branches) + " nodes of " + what + ", no branch " +
                          std::to_string(branch));
  }
  if (region < 0 || static_cast<std::size_t>(region) >= found.regions) {
    throw py::index_error("set '" + set + "' found " + std::to_string(found.regions) + " regions in the image, no region " +
                          std::to_string(region));
  }
  throw py::value_error(what + " has no image result here (regions() and line_segments() give the others)");
}

void Image::Release() {
  py::gil_scoped_release nogil;
  std::unique_ptr<hostkit::ImageInCache> gone;
  {
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    gone = std::move(m_image);
  }
  gone.reset();  // released from every set outside the lock
}

}  // namespace python
}  // namespace orvex
