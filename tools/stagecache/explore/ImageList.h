// The images explore was started with. A request names an image by its place in this list,
// never by a path, so no request reaches the file system beyond these files. Each has a
// small picture for the list and a large one to draw the overlays on, made on first
// request and kept (the small ones all, the large ones of the last few images).
//
// Threads: every function may be called from any thread.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_IMAGELIST_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_IMAGELIST_H

#include "../Inputs.h"

#include <orvex/foundation/Mutex.h>
#include <orvex/hostkit/FileResultStore.h>
#include <orvex/hostkit/ImageFiles.h>

#include <cstddef>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace stagecache {
namespace explore {

// An image ready for the cache: its id and size, and where its pixels come from (already
// decoded, or the file's bytes to decode when a result first needs them).
struct ImageSource {
  std::string id;
  int width = 0;
  int height = 0;
  orvex::QZRef<orvex::SourcePixels> pixels;
  std::string fileKey;  // with a store, when the store did not know the file yet
};

class ImageList {
 public:
  // The inputs as ExpandInputs lists them (the built-in scene among them, or alone).
  explicit ImageList(std::vector<InputFile> inputs);

  size_t Size() const { return m_inputs.size(); }
  const std::string& Name(size_t index) const { return m_inputs.at(index).path; }
  // The place an index text of a request names: decimal digits only, below Size();
  // RequestError 404 otherwise.
  size_t IndexOf(const std::string& text) const;

  // JPEG bytes of the image scaled to 160 (small) or kSourcePictureSide (large) pixels on
  // its longest side. RequestError 422 with the reason when the file cannot be read.
  std::string SmallPicture(size_t index) ORVEX_EXCLUDES(m_mutex);
  std::string LargePicture(size_t index) ORVEX_EXCLUDES(m_mutex);

  // Reads the image for the cache: with a store that remembers the file's bytes, known by
  // the id it gave before (decoded only when a result needs the pixels); else decoded.
  // RequestError 422 with the reason when it cannot be read.
  ImageSource Prepare(size_t index, orvex::hostkit::FileResultStore* store) const;

 private:
  // The pixels of the image; RequestError 422 when they cannot be had.
  cv::Mat Decode(size_t index) const;
  std::string Picture(size_t index, int side) const;

  const std::vector<InputFile> m_inputs;
  // m_mutex guards the kept pictures; a leaf lock, never held while pictures are made.
  orvex::OutermostMutex m_mutex;
  std::map<size_t, std::string> m_small ORVEX_GUARDED_BY(m_mutex);
  std::list<std::pair<size_t, std::string>> m_large ORVEX_GUARDED_BY(m_mutex);  // most recent first
};

}  // namespace explore
}  // namespace stagecache

#endif
