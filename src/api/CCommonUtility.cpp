#include <orvex/foundation/QZRef.h>
#include <orvex/improc/QZMatrix.h>
#include <orvex/tav/Interfaces.h>

#include <cstring>

namespace orvex {
namespace tav {

namespace {

// Channel order and decoding the library always asks of the matrix loaders.
constexpr int kLoadMode = QZLM_COLOUR;
constexpr ColourChannelUsageType kChannelUsage = CCUT_ALL_CHANNELS;

// A caller-owned copy of the matrix's hash id, or null when it has none.
char* HashIdCopy(const QZRef<QZMatrix>& matrix) {
  if (!matrix || !matrix->CalcHashID()) return nullptr;
  const std::string id = matrix->GetHashID();
  char* text = new char[id.size() + 1];
  std::memcpy(text, id.c_str(), id.size() + 1);
  return text;
}

}  // namespace

void CCommonUtility::FreeString(char** text) {
  if (text == nullptr || *text == nullptr) return;
  delete[] * text;
  *text = nullptr;
}

char* CCommonUtility::GetImageHashId(orvex::core::CImageData* image) {
  if (image == nullptr) return nullptr;
  QZRef<QZMatrix> matrix(new QZMatrix());
  int error = 0;
  QZMatrix::GetMatrixByBuffer(image->GetBytes(), image->GetWidth(), image->GetHeight(), image->GetStride(),
                              image->GetImagePixelFormat(), &error, kLoadMode, matrix.get(), kChannelUsage);
  return HashIdCopy(matrix);
}

char* CCommonUtility::GetImageHashId(const char* path, bool) {
  int error = 0;
  QZRef<QZMatrix> matrix(QZMatrix::ReadQZMatrixFromFile(path, &error, kLoadMode));
  return HashIdCopy(matrix);
}

}  // namespace tav
}  // namespace orvex
