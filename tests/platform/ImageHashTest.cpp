// Image and raw hashing, the buffer and file loaders, and the C hash-id functions.
#include <OrvexStagecacheHost.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace orvex {
namespace {

// A deterministic colour test pattern.
cv::Mat Pattern(int rows, int cols) {
  cv::Mat m(rows, cols, CV_8UC3);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) m.at<cv::Vec3b>(r, c) = cv::Vec3b(uchar(r * 7 + c), uchar(c * 3), uchar(r ^ c));
  return m;
}

// Copies an image into a buffer with `stride` bytes a row, the padding filled with `pad`.
std::vector<unsigned char> WithStride(const cv::Mat& m, int stride, unsigned char pad) {
  std::vector<unsigned char> bytes(static_cast<size_t>(stride) * m.rows, pad);
  for (int r = 0; r < m.rows; ++r) std::memcpy(&bytes[r * stride], m.ptr(r), m.cols * m.elemSize());
  return bytes;
}

std::string HashOf(const unsigned char* bytes, int w, int h, int stride, core::ImagePixelFormat f) {
  core::CImageData image(bytes, w, h, stride, f);
  char* id = TAV_GetImageHashIdFromBuffer(&image);
  if (id == nullptr) return "";
  std::string text(id);
  TAV_FreeString(&id);
  EXPECT_EQ(id, nullptr);
  return text;
}

// Named after the process too, so runs of several builds at once stay apart.
std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "orvex_" + std::to_string(getpid()) + "_" + name;
}

TEST(RawHash, IsThirtyTwoLowerCaseHexDigits) {
  char out[64];
  ASSERT_TRUE(GenerateHash("abc", 3, out));
  const std::string text(out);
  EXPECT_EQ(text.size(), 32u);
  EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos);
  char again[64];
  ASSERT_TRUE(GenerateHash("abc", 3, again));
  EXPECT_STREQ(out, again);
  ASSERT_TRUE(GenerateHash("abd", 3, again));
  EXPECT_STRNE(out, again);
}

TEST(RawHash, RefusesNullDataWithLengthButHashesNoBytes) {
  char out[64] = "untouched";
  EXPECT_FALSE(GenerateHash(nullptr, 4, out));
  EXPECT_STREQ(out, "untouched");
  EXPECT_FALSE(GenerateHash("x", 1, nullptr));
  char empty1[64], empty2[64];
  ASSERT_TRUE(GenerateHash(nullptr, 0, empty1));
  ASSERT_TRUE(GenerateHash("", 0, empty2));
  EXPECT_STREQ(empty1, empty2);
}

TEST(ImageHash, EqualPixelsAtDifferentStridesGiveOneId) {
  const cv::Mat image = Pattern(37, 53);
  const int rowBytes = 53 * 3;
  const auto tight = WithStride(image, rowBytes, 0);
  const auto padded = WithStride(image, rowBytes + 13, 0xAB);
  const auto otherPadding = WithStride(image, rowBytes + 64, 0x11);
  const std::string id = HashOf(tight.data(), 53, 37, rowBytes, core::IPF_BGR_888);
  ASSERT_EQ(id.size(), 32u);
  EXPECT_EQ(HashOf(padded.data(), 53, 37, rowBytes + 13, core::IPF_BGR_888), id);
  EXPECT_EQ(HashOf(otherPadding.data(), 53, 37, rowBytes + 64, core::IPF_BGR_888), id);
}

TEST(ImageHash, OtherShapeOrTypeNeverSharesAnId) {
  const cv::Mat image = Pattern(20, 30);
  const cv::Mat wider = Pattern(20, 31);
  const std::string id = HashOf(image.data, 30, 20, 90, core::IPF_BGR_888);
  EXPECT_NE(HashOf(wider.data, 31, 20, 93, core::IPF_BGR_888), id);
  // The same 1800 bytes read as 20 rows of 90 gray pixels, or as 30 x 20 in RGB order.
  EXPECT_NE(HashOf(image.data, 90, 20, 90, core::IPF_GRAYSCALE_8), id);
  EXPECT_NE(HashOf(image.data, 30, 20, 90, core::IPF_RGB_888), id);
  // Same bytes, shape transposed in the header only.
  QZMatrix a(image.reshape(3, 30).clone()), b(image.clone());
  ASSERT_TRUE(a.CalcHashID());
  ASSERT_TRUE(b.CalcHashID());
  EXPECT_NE(a.GetHashID(), b.GetHashID());
}

TEST(ImageHash, RoiViewHashesLikeItsCompactCopy) {
  const cv::Mat image = Pattern(40, 40);
  QZMatrix view(image(cv::Rect(5, 7, 20, 11)));
  QZMatrix copy(image(cv::Rect(5, 7, 20, 11)).clone());
  ASSERT_FALSE(view.GetMat().isContinuous());
  ASSERT_TRUE(view.CalcHashID());
  ASSERT_TRUE(copy.CalcHashID());
  EXPECT_EQ(view.GetHashID(), copy.GetHashID());
  EXPECT_EQ(view.GetHashIDLength(), 32);
}

TEST(ImageHash, BufferIdsAreTheIdsOfTheLoadedMatrixInEveryLayout) {
  // Tall enough that converted layouts are hashed in several bands.
  const cv::Mat colour = Pattern(1500, 211);
  cv::Mat gray, alpha;
  cv::cvtColor(colour, gray, cv::COLOR_BGR2GRAY);
  cv::cvtColor(colour, alpha, cv::COLOR_BGR2BGRA);
  const struct {
    const cv::Mat* pixels;
    core::ImagePixelFormat format;
  } layouts[] = {{&gray, core::IPF_GRAYSCALE_8}, {&colour, core::IPF_BGR_888}, {&colour, core::IPF_RGB_888},
                 {&alpha, core::IPF_BGRA_8888}, {&alpha, core::IPF_RGBA_8888}};
  for (const auto& layout : layouts) {
    const int rowBytes = layout.pixels->cols * static_cast<int>(layout.pixels->elemSize());
    const auto padded = WithStride(*layout.pixels, rowBytes + 7, 0x5A);
    for (int mode : {QZLM_GRAYSCALE, QZLM_COLOUR}) {
      for (ColourChannelUsageType usage : {CCUT_ALL_CHANNELS, CCUT_DROP_ALPHA}) {
        QZMatrix loaded;
        int error = -1;
        ASSERT_TRUE(QZMatrix::GetMatrixByBuffer(padded.data(), layout.pixels->cols, layout.pixels->rows, rowBytes + 7,
                                                layout.format, &error, mode, &loaded, usage));
        ASSERT_TRUE(loaded.CalcHashID());
        EXPECT_EQ(QZMatrix::HashIdOfBuffer(padded.data(), layout.pixels->cols, layout.pixels->rows, rowBytes + 7,
                                           layout.format, mode, usage),
                  loaded.GetHashID())
            << "format " << layout.format << " mode " << mode << " usage " << usage;
      }
    }
  }
}

TEST(ImageHash, BadBuffersGiveNull) {
  const cv::Mat image = Pattern(8, 8);
  EXPECT_EQ(TAV_GetImageHashIdFromBuffer(nullptr), nullptr);
  EXPECT_EQ(HashOf(nullptr, 8, 8, 24, core::IPF_BGR_888), "");
  EXPECT_EQ(HashOf(image.data, 0, 8, 24, core::IPF_BGR_888), "");
  EXPECT_EQ(HashOf(image.data, 8, -1, 24, core::IPF_BGR_888), "");
  EXPECT_EQ(HashOf(image.data, 8, 8, 23, core::IPF_BGR_888), "");
  EXPECT_EQ(HashOf(image.data, 8, 8, -24, core::IPF_BGR_888), "");
  EXPECT_EQ(HashOf(image.data, 8, 8, 24, static_cast<core::ImagePixelFormat>(0)), "");
  EXPECT_EQ(HashOf(image.data, 8, 8, 24, static_cast<core::ImagePixelFormat>(42)), "");
}

TEST(ImageHash, LoaderReportsWhyItRefused) {
  const cv::Mat image = Pattern(8, 8);
  QZRef<QZMatrix> target(new QZMatrix(image.clone()));
  int error = -1;
  EXPECT_FALSE(QZMatrix::GetMatrixByBuffer(image.data, 8, 8, 10, core::IPF_BGR_888, &error, QZLM_COLOUR,
                                           target.get(), CCUT_ALL_CHANNELS));
  EXPECT_EQ(error, QZME_BAD_STRIDE);
  EXPECT_TRUE(target->IsEmpty());
  EXPECT_FALSE(QZMatrix::GetMatrixByBuffer(image.data, 8, 8, 24, core::IPF_BGR_888, &error, 9, target.get(),
                                           CCUT_ALL_CHANNELS));
  EXPECT_EQ(error, QZME_BAD_MODE);
  EXPECT_FALSE(QZMatrix::GetMatrixByBuffer(image.data, 8, 8, 24, core::IPF_BGR_888, &error, QZLM_COLOUR, nullptr,
                                           CCUT_ALL_CHANNELS));
  EXPECT_EQ(error, QZME_NULL_ARGUMENT);
}

TEST(ImageHash, LoaderKeepsAPrivateCopyInBlueGreenRedOrder) {
  cv::Mat rgb = Pattern(9, 9);
  QZMatrix matrix;
  int error = -1;
  ASSERT_TRUE(QZMatrix::GetMatrixByBuffer(rgb.data, 9, 9, 27, core::IPF_RGB_888, &error, QZLM_COLOUR, &matrix,
                                          CCUT_ALL_CHANNELS));
  EXPECT_EQ(error, QZME_OK);
  const cv::Vec3b expected = rgb.at<cv::Vec3b>(3, 4);
  rgb.setTo(cv::Scalar::all(0));
  const cv::Vec3b got = matrix.GetMat().at<cv::Vec3b>(3, 4);
  EXPECT_EQ(got[0], expected[2]);
  EXPECT_EQ(got[2], expected[0]);
}

TEST(ImageHash, WrittenFileHashesLikeTheSamePixelsInMemory) {
  const cv::Mat image = Pattern(31, 47);
  const std::string path = TempPath("pattern.png");
  ASSERT_TRUE(cv::imwrite(path, image));
  char* fromFile = TAV_GetImageHashIdFromFile(path.c_str(), 1);
  ASSERT_NE(fromFile, nullptr);
  EXPECT_EQ(std::string(fromFile), HashOf(image.data, 47, 31, 47 * 3, core::IPF_BGR_888));
  char* again = TAV_GetImageHashIdFromFile(path.c_str(), 0);  // the flag changes nothing
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, fromFile);  // separately allocated
  TAV_FreeString(&fromFile);
  EXPECT_EQ(std::string(again).size(), 32u);
  TAV_FreeString(&again);
  TAV_FreeString(&again);  // a second free of the cleared pointer does nothing
  std::remove(path.c_str());
}

TEST(ImageHash, BadFilesGiveNull) {
  EXPECT_EQ(TAV_GetImageHashIdFromFile(nullptr, 0), nullptr);
  EXPECT_EQ(TAV_GetImageHashIdFromFile(TempPath("does-not-exist.png").c_str(), 0), nullptr);
  EXPECT_EQ(TAV_GetImageHashIdFromFile(::testing::TempDir().c_str(), 0), nullptr);

  const std::string text = TempPath("not-an-image.png");
  std::ofstream(text) << "this is not an image at all";
  EXPECT_EQ(TAV_GetImageHashIdFromFile(text.c_str(), 0), nullptr);

  const std::string empty = TempPath("empty.jpg");
  std::ofstream(empty).close();
  EXPECT_EQ(TAV_GetImageHashIdFromFile(empty.c_str(), 0), nullptr);

  for (const char* ext : {".png", ".jpg"}) {
    std::vector<unsigned char> encoded;
    ASSERT_TRUE(cv::imencode(ext, Pattern(64, 64), encoded));
    const std::string cut = TempPath(std::string("truncated") + ext);
    std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(encoded.data()), encoded.size() / 2);
    EXPECT_EQ(TAV_GetImageHashIdFromFile(cut.c_str(), 0), nullptr) << ext;
    int error = 0;
    EXPECT_EQ(QZMatrix::ReadQZMatrixFromFile(cut.c_str(), &error, QZLM_COLOUR), nullptr);
    EXPECT_EQ(error, QZME_TRUNCATED);
    std::remove(cut.c_str());
  }
  std::remove(text.c_str());
  std::remove(empty.c_str());
}

TEST(MatrixBasics, InvertsTransformsAndRefusesSingularOnes) {
  QZRef<QZMatrix> m(new QZMatrix(3, 3, CV_64FC1, 0, true));
  m->GetMat().at<double>(0, 0) = 2.0;
  m->GetMat().at<double>(1, 1) = 4.0;
  m->GetMat().at<double>(2, 2) = 1.0;
  m->GetMat().at<double>(0, 2) = 6.0;
  ASSERT_TRUE(m->Invert());
  EXPECT_DOUBLE_EQ(m->GetMat().at<double>(0, 0), 0.5);
  EXPECT_DOUBLE_EQ(m->GetMat().at<double>(1, 1), 0.25);
  EXPECT_DOUBLE_EQ(m->GetMat().at<double>(0, 2), -3.0);
  QZMatrix zero(3, 3, CV_64FC1, 0, true);
  EXPECT_FALSE(zero.Invert());
  QZMatrix empty;
  EXPECT_FALSE(empty.CalcHashID());
  EXPECT_EQ(empty.GetHashID(), "");
}

TEST(QuadHash, EqualCornersGiveEqualIdsAndOrderMatters) {
  QZ_Quad a({1, 2}, {30, 2}, {30, 40}, {1, 40});
  QZ_Quad b(a);
  QZ_Quad rotated({30, 2}, {30, 40}, {1, 40}, {1, 2});
  ASSERT_TRUE(a.CalcHashID());
  ASSERT_TRUE(b.CalcHashID());
  ASSERT_TRUE(rotated.CalcHashID());
  EXPECT_EQ(a.GetHashID(), b.GetHashID());
  EXPECT_NE(a.GetHashID(), rotated.GetHashID());
  core::CQuadrilateral record;
  for (int i = 0; i < 4; ++i) record.points[i] = core::CPoint{a.GetPoint(i).x, a.GetPoint(i).y};
  QZ_Quad fromRecord(record);
  ASSERT_TRUE(fromRecord.CalcHashID());
  EXPECT_EQ(fromRecord.GetHashID(), a.GetHashID());
}

struct CapturedLog {
  std::vector<QZLogRecord::Kind> kinds;
  std::vector<std::string> labels;
  static void Sink(void* self, const QZLogRecord& record) {
    auto* log = static_cast<CapturedLog*>(self);
    log->kinds.push_back(record.kind);
    log->labels.push_back(record.label);
  }
};

TEST(Logger, SilentUntilConfiguredAndFiltersByLevelAndMode) {
  QZLog& log = QZLog::m_instance;
  EXPECT_FALSE(log.AllowLogging(1, LM_TIMING));
  CapturedLog captured;
  log.Configure(&CapturedLog::Sink, &captured, 1, LM_TEXT);
  EXPECT_FALSE(log.AllowLogging(1, LM_TIMING));
  EXPECT_TRUE(log.AllowLogging(1, LM_TEXT));
  log.WriteFuncStartLog(1, "step");
  log.WriteFuncEndLog(2, "too-detailed", 5);
  log.WriteFuncEndLog(1, "step", 0);
  log.Configure(nullptr, nullptr, 0, 0);
  log.WriteMessage(1, "after silence");
  ASSERT_EQ(captured.kinds.size(), 2u);
  EXPECT_EQ(captured.kinds[0], QZLogRecord::kStepStart);
  EXPECT_EQ(captured.kinds[1], QZLogRecord::kStepEnd);
  EXPECT_EQ(captured.labels[1], "step");
}

}  // namespace
}  // namespace orvex
