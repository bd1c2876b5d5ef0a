// Inputs shared by the benchmarks: a large image and a large product of mode lists.
#ifndef ORVEX_BENCH_BENCHINPUTS_H
#define ORVEX_BENCH_BENCHINPUTS_H

#include <OrvexStagecacheHost.h>

namespace orvex {
namespace bench {

// A 12-megapixel colour image of random pixels, made once.
const cv::Mat& TwelveMegapixels();

// Three colour conversions, GTM_AUTO (two transformations), three region modes, three
// enhancements, `binarizations` local-block binarizations and two line extractions.
QZ_ImageParameter LargeParameters(int binarizations);

}  // namespace bench
}  // namespace orvex

#endif
