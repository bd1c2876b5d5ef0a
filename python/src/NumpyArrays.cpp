#include "NumpyArrays.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace py = pybind11;

namespace orvex {
namespace python {

ArrayPixels::ArrayPixels(const py::handle& object) {
  if (!py::isinstance<py::array>(object)) throw py::type_error("pixels must be a numpy array or a file path");
  m_array = py::reinterpret_borrow<py::array>(object);
  const py::dtype type = m_array.dtype();
  if (type.kind() != 'u' || type.itemsize() != 1) {
    throw py::type_error("pixels must be uint8, not " + py::str(static_cast<const py::handle&>(type)).cast<std::string>());
  }
  const py::ssize_t dims = m_array.ndim();
  if (dims != 2 && dims != 3) {
    throw py::value_error("pixels must be H x W, H x W x 3 or H x W x 4, not of " + std::to_string(dims) + " dimensions");
  }
  m_rows = m_array.shape(0);
  m_cols = m_array.shape(1);
  m_channels = dims == 3 ? m_array.shape(2) : 1;
  if (m_channels != 1 && m_channels != 3 && m_channels != 4) {
    throw py::value_error("pixels must have 1, 3 (BGR) or 4 (BGRA) channels, not " + std::to_string(m_channels));
  }
  if (m_rows == 0 || m_cols == 0) throw py::value_error("pixels must not be empty");
  // Held to the pixel limit of image files, from the shape alone: an array whose strides
  // repeat a few bytes (np.broadcast_to) is refused before anything is copied or allocated.
  const int64_t limit = QZMatrix::GetImageLimits().maxPixels;
  int64_t count = 0;
  if (__builtin_mul_overflow(static_cast<int64_t>(m_rows), static_cast<int64_t>(m_cols), &count) || count > limit) {
    throw py::value_error("the array has " + (count > 0 ? std::to_string(count) : std::string("too many")) +
                          " pixels (" + std::to_string(m_cols) + " x " + std::to_string(m_rows) +
                          "), more than the pixel limit of " + std::to_string(limit));
  }
  if (m_rows > (1 << 20) || m_cols > (1 << 20)) throw py::value_error("pixels have more than 2^20 rows or columns");
  m_rowStride = m_array.strides(0);
  m_colStride = m_array.strides(1);
  m_channelStride = dims == 3 ? m_array.strides(2) : 1;
  m_data = static_cast<const unsigned char*>(m_array.data());
}

QZRef<QZMatrix> ArrayPixels::Copy() const {
  cv::Mat pixels;
  try {
    pixels.create(static_cast<int>(m_rows), static_cast<int>(m_cols), CV_8UC(static_cast<int>(m_channels)));
  } catch (const cv::Exception&) {
    throw std::bad_alloc();  // OpenCV's way of saying there is no memory for the copy
  }
  const py::ssize_t rowBytes = m_cols * m_channels;
  for (py::ssize_t r = 0; r < m_rows; ++r) {
    const unsigned char* from = m_data + r * m_rowStride;
    unsigned char* to = pixels.ptr<unsigned char>(static_cast<int>(r));
    if (m_channelStride == 1 && m_colStride == m_channels) {
      std::memcpy(to, from, static_cast<std::size_t>(rowBytes));
      continue;
    }
    // Any other layout (a slice, a transposed view) element by element.
    for (py::ssize_t c = 0; c < m_cols; ++c) {
      for (py::ssize_t k = 0; k < m_channels; ++k) to[c * m_channels + k] = from[c * m_colStride + k * m_channelStride];
    }
  }
  return QZRef<QZMatrix>(new QZMatrix(pixels));
}

py::array ReadOnlyView(const hostkit::StageImage& image) {
  const cv::Mat& pixels = image.pixels;
  std::vector<py::ssize_t> shape{pixels.rows, pixels.cols};
  std::vector<py::ssize_t> strides{static_cast<py::ssize_t>(pixels.step[0]), static_cast<py::ssize_t>(pixels.elemSize())};
  if (pixels.channels() > 1) {
    shape.push_back(pixels.channels());
    strides.push_back(static_cast<py::ssize_t>(pixels.elemSize1()));
  }
  // The capsule owns a count on the object the stage computed, not on the cached result:
  // the pixels live as long as any view of them, and the image's release still drops the
  // result from the table.
  using Holder = QZRef<QZObjectBase>;
  auto holder = std::make_unique<Holder>(image.result);
  py::capsule base(holder.get(), [](void* held) { std::unique_ptr<Holder> gone(static_cast<Holder*>(held)); });
  holder.release();  // the capsule owns it now
  py::array view(py::dtype::of<unsigned char>(), shape, strides, pixels.data, base);
  // Read-only for good: with a capsule as base, numpy refuses to make it (or any array made
  // from it) writeable again.
  view.attr("flags").attr("writeable") = false;
  return view;
}

py::array_t<float> QuadArray(const std::vector<hostkit::Quad>& quads) {
  py::array_t<float> array({static_cast<py::ssize_t>(quads.size()), py::ssize_t(4), py::ssize_t(2)});
  auto out = array.mutable_unchecked<3>();
  for (std::size_t q = 0; q < quads.size(); ++q) {
    for (int corner = 0; corner < 4; ++corner) {
      out(q, corner, 0) = quads[q][corner].x;
      out(q, corner, 1) = quads[q][corner].y;
    }
  }
  return array;
}

py::array_t<float> SegmentArray(const std::vector<cv::Vec4f>& segments) {
  py::array_t<float> array({static_cast<py::ssize_t>(segments.size()), py::ssize_t(4)});
  auto out = array.mutable_unchecked<2>();
  for (std::size_t s = 0; s < segments.size(); ++s) {
    for (int i = 0; i < 4; ++i) out(s, i) = segments[s][i];
  }
  return array;
}

}  // namespace python
}  // namespace orvex
