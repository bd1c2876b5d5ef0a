#include <orvex/foundation/NoThrow.h>
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

// A caller-owned copy of a hash id, or null when there is none.
char* HashIdCopy(const std::string& id) {
  if (id.empty()) return nullptr;
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
  return ReturnOrFail(static_cast<char*>(nullptr), [&] {
    if (image == nullptr) return static_cast<char*>(nullptr);
    // The id the loaded matrix would get, without copying the caller's pixels first.
    return HashIdCopy(QZMatrix::HashIdOfBuffer(image->GetBytes(), image->GetWidth(), image->GetHeight(),
                                               image->GetStride(), image->GetImagePixelFormat(), kLoadMode, kChannelUsage));
  });
}

char* CCommonUtility::GetImageHashId(const char* path, bool) {
  return ReturnOrFail(static_cast<char*>(nullptr), [&] {
    int error = 0;
    QZRef<QZMatrix> matrix(QZMatrix::ReadQZMatrixFromFile(path, &error, kLoadMode));
    return HashIdCopy(matrix && matrix->CalcHashID() ? matrix->GetHashID() : std::string());
  });
}

}  // namespace tav
}  // namespace orvex
