// The pipeline written out by hand over the same processing stages the library runs:
// the yardstick of the end-to-end figures.
#ifndef ORVEX_BENCH_DIRECTPIPELINE_H
#define ORVEX_BENCH_DIRECTPIPELINE_H

#include <OrvexStagecacheHost.h>

#include <vector>

namespace orvexbench {

// A line segment, in region coordinates, with the first corner of its region.
struct Segment {
  int regionX, regionY;
  float x1, y1, x2, y2;
  bool operator<(const Segment& o) const;
  bool operator==(const Segment& o) const;
};

// Runs the page through every parameter set, computing each distinct result once: the
// stages up to the enhanced region image once, the binarization stages once per set.
// REQUIRES: the sets differ in their binarization records only, one record per list.
std::vector<Segment> RunLowerBound(const cv::Mat& page, const std::vector<orvex::QZ_ImageParameter>& sets);

// Runs the page through every parameter set separately, sharing nothing.
std::vector<Segment> RunNaive(const cv::Mat& page, const std::vector<orvex::QZ_ImageParameter>& sets);

// The segments of every line-segment result the groups hold for the regions, sorted.
std::vector<Segment> SegmentsOfGroups(const std::vector<orvex::ParamTreeGroup*>& groups,
                                      const std::vector<std::string>& regionIds);

}  // namespace orvexbench

#endif
