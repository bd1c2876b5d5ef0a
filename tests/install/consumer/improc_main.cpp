// A program built against the installed image-processing library only.
#include <orvex/improc/DP_Stages.h>
#include <orvex/improc/QZMatrix.h>

#include <cstdio>

int main() {
  orvex::QZRef<orvex::QZMatrix> image(new orvex::QZMatrix(cv::Mat(40, 60, CV_8UC3, cv::Scalar(90, 120, 150))));
  orvex::QZRef<orvex::DP_SourceImage> source(new orvex::DP_SourceImage(image, 0, 0));
  orvex::QZRef<orvex::DP_SizeFittingImage> fitted(new orvex::DP_SizeFittingImage(source));
  orvex::QZRef<orvex::QZMatrix> result = fitted->GetPrimaryData(true);
  const bool ok = result && result->GetMat().cols == 60 && result->GetMat().channels() == 3;
  std::printf("improc consumer: size fitting %s\n", ok ? "computed" : "failed");
  return ok ? 0 : 1;
}
