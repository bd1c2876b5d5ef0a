// The module's two classes: Cache (parameter sets registered with the library, and the
// result store) and Image (one image added to every set, released when it goes).
//
// Ownership: an Image holds its Cache's sets, so a Cache may go before its images; views
// of result pixels hold the object that owns the pixels (never the cached result, which
// the image's release drops), so they outlive both. Threads: a Cache and an Image may be
// used from several Python threads; every call into the library runs without the GIL, and
// Python objects are made only after the library's work is done.
#ifndef ORVEX_PYTHON_CACHEBINDING_H
#define ORVEX_PYTHON_CACHEBINDING_H

#include <orvex/hostkit/FileResultStore.h>
#include <orvex/hostkit/ProcessPool.h>
#include <orvex/hostkit/SetGroups.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <shared_mutex>
#include <string>

namespace orvex {
namespace python {

// A name as Python gave it (a str or bytes), kept without Python objects so that an Image
// needs no GIL to go: a str as UTF-8 with its lone surrogates passed through (so that every
// str, surrogate-escaped file names included, comes back whole), bytes as they are.
struct GivenName {
  std::string bytes;
  bool text = true;

  // The name of `name`: a str, bytes or an os.PathLike (by os.fspath); TypeError otherwise.
  static GivenName Of(const pybind11::handle& name);
  // The str or bytes it was made from.
  pybind11::object Object() const;
};

// The parameter sets of `params` (as Cache takes them) written as the host kit writes
// parameter files: one text for equal sets, whatever file, dict or spelling they came from.
std::string CanonicalParameters(const pybind11::object& params);

// What a Cache and its images share: the sets' groups and the store they use.
struct CacheState {
  std::shared_ptr<hostkit::FileResultStore> store;
  std::unique_ptr<hostkit::SetGroups> sets;

  // The place of a set by name; KeyError when there is none.
  std::size_t SetIndex(const std::string& name) const;
};

class Image;

class Cache {
 public:
  // `params`: None (the tool's default sets), a path, or the parameter file's structure
  // as a dict; `store`: None or a folder; `storeLimit`: None or bytes; `storeKey`: None
  // or a key file's path.
  Cache(const pybind11::object& params, const pybind11::object& store, const pybind11::object& storeLimit,
        const pybind11::object& storeKey);

  pybind11::list SetNames() const;
  // Adds pixels (a numpy array) or an image file (a str, bytes or os.PathLike path, in
  // any encoding) to every set.
  std::unique_ptr<Image> Add(const pybind11::object& input, const pybind11::object& name);
  // The tool's --jsonl line of a file as a dict: its summary, or why it was skipped (also
  // for a path that cannot name a file); "image" is the path as os.fspath gives it.
  pybind11::dict SummaryOfFile(const pybind11::object& path);
  // What the process's pool did (the figures are the process's, not this cache's), as the
  // host kit gives them; the package's Cache.statistics makes the dict of them.
  CacheStatistics Statistics() const;
  pybind11::object StoreFolder() const;

 private:
  std::shared_ptr<CacheState> m_state;
};

class Image {
 public:
  Image(std::shared_ptr<CacheState> cache, std::unique_ptr<hostkit::ImageInCache> image, GivenName name, double seconds);
  ~Image();

  const std::string& Id() const { return m_id; }
  // The name as it was given: a str or bytes.
  pybind11::object Name() const { return m_name.Object(); }
  bool Released() const;
  pybind11::dict Summary() const;
  pybind11::array_t<float> Regions(const std::string& set) const;
  pybind11::array_t<float> LineSegments(const std::string& set) const;
  pybind11::array Result(const std::string& set, const pybind11::object& stage, int region, int branch) const;
  // Releases the image from every set; later reads raise ValueError. Idempotent.
  void Release();

 private:
  // Runs `read` on the image without the GIL, under the shared lock; ValueError once released.
  template <class Read>
  auto Read(Read read) const -> decltype(read(std::declval<const hostkit::ImageInCache&>()));

  std::shared_ptr<CacheState> m_cache;
  std::string m_id;
  GivenName m_name;
  double m_seconds;
  // m_mutex guards m_image: readers share it, Release takes it alone. Taken without the
  // GIL, and no Python object is touched while it is held.
  mutable std::shared_mutex m_mutex;
  std::unique_ptr<hostkit::ImageInCache> m_image;
};

}  // namespace python
}  // namespace orvex

#endif
