// numpy arrays in and out of the module: pixels handed in, findings and read-only views of
// result pixels handed out.
#ifndef ORVEX_PYTHON_NUMPYARRAYS_H
#define ORVEX_PYTHON_NUMPYARRAYS_H

#include <orvex/hostkit/SetGroups.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <vector>

namespace orvex {
namespace python {

// The pixels of a uint8 array of shape (H, W), (H, W, 1), (H, W, 3) or (H, W, 4), with any
// strides (negative ones too). Taken with the GIL held; the copy is made without it.
class ArrayPixels {
 public:
  // Throws TypeError for another dtype, ValueError for another shape, an empty array or
  // one of more pixels than image files may have (QZMatrix::GetImageLimits).
  explicit ArrayPixels(const pybind11::handle& array);
  // A matrix of its own holding the pixels; call without the GIL while this object,
  // which holds the array, lives. Throws std::bad_alloc when there is no memory for it.
  QZRef<QZMatrix> Copy() const;

 private:
  pybind11::array m_array;
  const unsigned char* m_data = nullptr;
  pybind11::ssize_t m_rows = 0, m_cols = 0, m_channels = 1;
  pybind11::ssize_t m_rowStride = 0, m_colStride = 0, m_channelStride = 1;
};

// A read-only view of a result's own pixels; the array's base holds the object that owns
// them (StageImage::result), never the cached result. Call with the GIL.
pybind11::array ReadOnlyView(const hostkit::StageImage& image);

// Quadrilaterals as float32 (N, 4, 2) and segments as float32 (M, 4).
pybind11::array_t<float> QuadArray(const std::vector<hostkit::Quad>& quads);
pybind11::array_t<float> SegmentArray(const std::vector<cv::Vec4f>& segments);

}  // namespace python
}  // namespace orvex

#endif
