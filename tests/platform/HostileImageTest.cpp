// Image files and buffers as an attacker or a careless host hands them in: nothing they
// hold is decoded beyond the limits, read unbounded, or lets an exception out.
#include <OrvexStagecache.h>
#include <OrvexStagecacheHost.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace orvex {
namespace {

// Named after the process too, so runs of several builds at once stay apart.
std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "orvex_hostile_" + std::to_string(getpid()) + "_" + name;
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::vector<unsigned char> Encoded(const char* extension, const cv::Mat& image) {
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(cv::imencode(extension, image, bytes));
  return bytes;
}

cv::Mat Gradient(int rows, int cols, int type) {
  cv::Mat image(rows, cols, type);
  cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(256));
  return image;
}

// Reads a file as the library does; the error it reports.
int LoadError(const std::string& path) {
  int error = -1;
  QZRef<QZMatrix> matrix(QZMatrix::ReadQZMatrixFromFile(path.c_str(), &error, QZLM_COLOUR));
  EXPECT_EQ(static_cast<bool>(matrix), error == QZME_OK);
  return error;
}

// Restores the process-wide limits when a test has changed them.
struct LimitsGuard {
  ImageLimits saved = QZMatrix::GetImageLimits();
  ~LimitsGuard() { QZMatrix::SetImageLimits(saved); }
};

TEST(HostileImageFiles, HeaderDeclaringTooManyPixelsIsRefusedBeforeDecoding) {
  // A real 64 x 64 PNG whose header claims 32,000 x 32,000 (1,024 megapixels).
  std::vector<unsigned char> png = Encoded(".png", Gradient(64, 64, CV_8UC3));
  const unsigned char claimed[8] = {0, 0, 0x7d, 0x00, 0, 0, 0x7d, 0x00};
  std::copy(claimed, claimed + 8, png.begin() + 16);
  const std::string path = TempPath("bomb.png");
  WriteBytes(path, png);
  EXPECT_EQ(LoadError(path), QZME_TOO_MANY_PIXELS);
  EXPECT_EQ(TAV_GetImageHashIdFromFile(path.c_str(), 0), nullptr);
  EXPECT_STREQ(QZMatrix::ErrorText(QZME_TOO_MANY_PIXELS), "has more pixels than the pixel limit allows");

  // The limit is the host's to set: lower it below a real image, and it is refused too.
  const std::string small = TempPath("small.jpg");
  WriteBytes(small, Encoded(".jpg", Gradient(120, 100, CV_8UC3)));
  EXPECT_EQ(LoadError(small), QZME_OK);
  LimitsGuard guard;
  ImageLimits limits = QZMatrix::GetImageLimits();
  EXPECT_EQ(limits.maxPixels, 100 * 1000 * 1000);
  limits.maxPixels = 100 * 120 - 1;
  ASSERT_TRUE(QZMatrix::SetImageLimits(limits));
  EXPECT_EQ(LoadError(small), QZME_TOO_MANY_PIXELS);
  EXPECT_FALSE(QZMatrix::SetImageLimits(ImageLimits{0, 1}));
  std::remove(path.c_str());
  std::remove(small.c_str());
}

TEST(HostileImageFiles, HeaderOfTheLargestDimensionsIsRefusedWithoutOverflow) {
  // Found by the file fuzzer: width and height 4294967295 overflowed the pixel count.
  std::vector<unsigned char> png = Encoded(".png", Gradient(8, 8, CV_8UC3));
  std::fill(png.begin() + 16, png.begin() + 24, 0xFF);
  const std::string path = TempPath("widest.png");
  WriteBytes(path, png);
  EXPECT_EQ(LoadError(path), QZME_TOO_MANY_PIXELS);
  std::remove(path.c_str());
}

TEST(HostileImageFiles, FilesOverTheSizeLimitAndNonRegularFilesAreNeverRead) {
  // A sparse file of 3 GiB that starts like a PNG: refused from its size alone.
  const std::string sparse = TempPath("sparse.png");
  {
    const int fd = open(sparse.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_EQ(write(fd, signature, 8), 8);
    ASSERT_EQ(ftruncate(fd, off_t(3) << 30), 0);
    close(fd);
  }
  EXPECT_EQ(LoadError(sparse), QZME_FILE_TOO_LARGE);
  std::remove(sparse.c_str());

  // A FIFO nobody writes to would block a reader for ever; it is refused at once.
  const std::string fifo = TempPath("pipe.png");
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(LoadError(fifo), QZME_UNREADABLE_FILE);
  std::remove(fifo.c_str());
  EXPECT_EQ(LoadError("/dev/zero"), QZME_UNREADABLE_FILE);
  EXPECT_EQ(LoadError(::testing::TempDir()), QZME_UNREADABLE_FILE);
}

TEST(HostileImageFiles, CompleteImagesWithTrailingBytesAreReadAndCutOnesAreNot) {
  const cv::Mat image = Gradient(48, 40, CV_8UC3);
  for (const char* extension : {".png", ".jpg"}) {
    const std::vector<unsigned char> whole = Encoded(extension, image);
    for (size_t trailing : {size_t(1), size_t(16), size_t(64), size_t(5000)}) {
      std::vector<unsigned char> padded = whole;
      padded.insert(padded.end(), trailing, 0xA5);
      const std::string path = TempPath(std::string("trailing") + extension);
      WriteBytes(path, padded);
      EXPECT_EQ(LoadError(path), QZME_OK) << extension << " with " << trailing << " trailing bytes";
      std::remove(path.c_str());
    }
    for (size_t kept : {whole.size() / 3, whole.size() - 3}) {
      const std::string path = TempPath(std::string("cut") + extension);
      WriteBytes(path, std::vector<unsigned char>(whole.begin(), whole.begin() + kept));
      EXPECT_EQ(LoadError(path), QZME_TRUNCATED) << extension << " cut to " << kept;
      std::remove(path.c_str());
    }
  }
  const std::string bmp = TempPath("image.bmp");
  WriteBytes(bmp, Encoded(".bmp", image));
  EXPECT_EQ(LoadError(bmp), QZME_NOT_AN_IMAGE);  // PNG and JPEG only
  std::remove(bmp.c_str());
}

TEST(HostileImageFiles, EqualPixelsGiveEqualIdsFromABufferAndFromAFile) {
  const cv::Mat gray = Gradient(30, 41, CV_8UC1);
  const cv::Mat alpha = Gradient(30, 41, CV_8UC4);
  const struct {
    const cv::Mat* pixels;
    core::ImagePixelFormat format;
  } cases[] = {{&gray, core::IPF_GRAYSCALE_8}, {&alpha, core::IPF_BGRA_8888}};
  for (const auto& c : cases) {
    const std::string path = TempPath("same.png");
    ASSERT_TRUE(cv::imwrite(path, *c.pixels));
    char* fromFile = TAV_GetImageHashIdFromFile(path.c_str(), 0);
    core::CImageData view(c.pixels->data, c.pixels->cols, c.pixels->rows, static_cast<int>(c.pixels->step), c.format);
    char* fromBuffer = TAV_GetImageHashIdFromBuffer(&view);
    ASSERT_NE(fromFile, nullptr);
    ASSERT_NE(fromBuffer, nullptr);
    EXPECT_STREQ(fromFile, fromBuffer) << "format " << c.format;
    TAV_FreeString(&fromFile);
    TAV_FreeString(&fromBuffer);
    std::remove(path.c_str());
  }
}

TEST(HostileImageBuffers, BuffersOverThePixelLimitAreRefusedWithoutACopy) {
  LimitsGuard guard;
  ImageLimits limits = QZMatrix::GetImageLimits();
  limits.maxPixels = 1000;
  ASSERT_TRUE(QZMatrix::SetImageLimits(limits));
  std::vector<unsigned char> bytes(40 * 30 * 3, 7);
  core::CImageData view(bytes.data(), 40, 30, 120, core::IPF_BGR_888);
  EXPECT_EQ(TAV_GetImageHashIdFromBuffer(&view), nullptr);
  QZMatrix target;
  int error = -1;
  EXPECT_FALSE(QZMatrix::GetMatrixByBuffer(bytes.data(), 40, 30, 120, core::IPF_BGR_888, &error, QZLM_COLOUR, &target,
                                           CCUT_ALL_CHANNELS));
  EXPECT_EQ(error, QZME_TOO_MANY_PIXELS);
  EXPECT_TRUE(target.IsEmpty());
}

}  // namespace
}  // namespace orvex
