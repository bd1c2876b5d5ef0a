#include "ImageList.h"

#include "../Run.h"
#include "../Scene.h"
#include "RequestError.h"

#include <orvex/improc/ImageCodecs.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cctype>

namespace stagecache {
namespace explore {

using namespace orvex;

namespace {

constexpr int kSmallSide = 160;
constexpr size_t kLargeKept = 4;

// The pixels of a known image, decoded from the file's bytes on the first Load and then
// kept, so that every tree that adds the image is handed the same matrix.
class DecodedOnce : public SourcePixels {
 public:
  explicit DecodedOnce(hostkit::ImageFile file) : m_file(std::move(file)) {}
  explicit DecodedOnce(QZRef<QZMatrix> pixels) : m_pixels(std::move(pixels)) {}
  QZRef<QZMatrix> Load() override ORVEX_EXCLUDES(m_mutex) {
    MutexLock lock(m_mutex);
    if (!m_pixels && !m_file.bytes.empty()) {
      std::string reason;
      m_pixels = hostkit::DecodeImageFile(m_file, &reason);
      std::vector<unsigned char>().swap(m_file.bytes);  // decoded once: the bytes are spent
    }
    return m_pixels;
  }

 private:
  // m_mutex guards the file and the pixels; a leaf lock (Load runs under the source
  // stage's locks and takes nothing else).
  Mutex m_mutex;
  hostkit::ImageFile m_file ORVEX_GUARDED_BY(m_mutex);
  QZRef<QZMatrix> m_pixels ORVEX_GUARDED_BY(m_mutex);
};

}  // namespace

ImageList::ImageList(std::vector<InputFile> inputs) : m_inputs(std::move(inputs)) {}

size_t ImageList::IndexOf(const std::string& text) const {
  const bool digits = !text.empty() && text.size() <= 9 &&
                      std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
  const size_t index = digits ? std::stoul(text) : m_inputs.size();
  if (index >= m_inputs.size()) {
    throw RequestError(404, "no image '" + text.substr(0, 20) + "': images are numbered from 0 to " +
                                std::to_string(m_inputs.size() - 1));
  }
  return index;
}

cv::Mat ImageList::Decode(size_t index) const {
  const InputFile& input = m_inputs.at(index);
  if (input.builtInScene) return DrawDefaultScene();
  if (!input.problem.empty()) throw RequestError(422, input.path + ": " + input.problem);
  hostkit::ImageFile file;
  std::string reason;
  if (!hostkit::ReadImageFile(input.path, &file, &reason)) throw RequestError(422, input.path + ": " + reason);
  QZRef<QZMatrix> pixels = hostkit::DecodeImageFile(file, &reason);
  if (!pixels) throw RequestError(422, input.path + ": " + reason);
  return pixels->GetMat().clone();
}

std::string ImageList::Picture(size_t index, int side) const {
  const cv::Mat source = Decode(index);
  cv::Mat picture = SourcePicture(source);
  const double scale = std::min(1.0, static_cast<double>(side) / std::max(picture.cols, picture.rows));
  if (scale < 1.0) cv::resize(picture, picture, cv::Size(), scale, scale, cv::INTER_AREA);
  if (picture.channels() == 1) cv::cvtColor(picture, picture, cv::COLOR_GRAY2BGR);
  std::vector<unsigned char> bytes;
  if (!EncodeJpeg(picture, 85, &bytes)) throw RequestError(500, "the picture could not be encoded");
  return std::string(bytes.begin(), bytes.end());
}

std::string ImageList::SmallPicture(size_t index) {
  {
    MutexLock lock(m_mutex);
    auto kept = m_small.find(index);
    if (kept != m_small.end()) return kept->second;
  }
  std::string picture = Picture(index, kSmallSide);
  MutexLock lock(m_mutex);
  m_small[index] = picture;
  return picture;
}

std::string ImageList::LargePicture(size_t index) {
  {
    MutexLock lock(m_mutex);
    for (auto it = m_large.begin(); it != m_large.end(); ++it) {
      if (it->first != index) continue;
      m_large.splice(m_large.begin(), m_large, it);
      return m_large.front().second;
    }
  }
  std::string picture = Picture(index, kSourcePictureSide);
  std::list<std::pair<size_t, std::string>> dropped;  // freed after the lock
  MutexLock lock(m_mutex);
  m_large.emplace_front(index, picture);
  while (m_large.size() > kLargeKept) dropped.splice(dropped.begin(), m_large, std::prev(m_large.end()));
  return picture;
}

ImageSource ImageList::Prepare(size_t index, hostkit::FileResultStore* store) const {
  const InputFile& input = m_inputs.at(index);
  ImageSource source;
  QZRef<QZMatrix> pixels;
  if (input.builtInScene) {
    pixels = new QZMatrix(DrawDefaultScene());
  } else {
    if (!input.problem.empty()) throw RequestError(422, input.path + ": " + input.problem);
    hostkit::ImageFile file;
    std::string reason;
    if (!hostkit::ReadImageFile(input.path, &file, &reason)) throw RequestError(422, input.path + ": " + reason);
    if (store != nullptr) {
      source.fileKey = hostkit::FileContentKey(file);
      std::string id;
      if (store->LoadRecord(source.fileKey, &id) && !id.empty()) {
        source.id = id;
        source.width = static_cast<int>(file.width);
        source.height = static_cast<int>(file.height);
        source.pixels = new DecodedOnce(std::move(file));
        source.fileKey.clear();  // remembered already
        return source;
      }
    }
    pixels = hostkit::DecodeImageFile(file, &reason);
    if (!pixels) throw RequestError(422, input.path + ": " + reason);
  }
  hostkit::PreparedImage prepared;
  prepared.pixels = pixels;
  source.id = prepared.Id();
  source.width = pixels->GetMat().cols;
  source.height = pixels->GetMat().rows;
  source.pixels = new DecodedOnce(std::move(pixels));
  return source;
}

}  // namespace explore
}  // namespace stagecache
