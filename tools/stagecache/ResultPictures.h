// Pictures of stage results, for the report: image results as they are, the others drawn
// over the image they belong to.
#ifndef ORVEX_TOOLS_STAGECACHE_RESULTPICTURES_H
#define ORVEX_TOOLS_STAGECACHE_RESULTPICTURES_H

#include <OrvexStagecacheHost.h>
#include <orvex/hostkit/SetGroups.h>

#include <opencv2/core.hpp>

namespace stagecache {

// The colours every picture of the report draws regions (green) and line segments (red) in.
inline const cv::Scalar kRegionColour(40, 200, 40);
inline const cv::Scalar kLineColour(30, 30, 230);

using orvex::hostkit::PixelsOf;

// A picture of the result: its pixels for an image result; candidate regions as
// quadrilaterals over the colour image they were found in; texture detection as an
// overlay, contours and line segments drawn over the region image they belong to. Empty
// when the result has nothing to show (not computed, or a stage without a picture).
cv::Mat PictureOf(const orvex::tav::CDataUnit& unit);

}  // namespace stagecache

#endif
