// The built-in input of the command-line host: a page it draws itself.
#ifndef ORVEX_TOOLS_STAGECACHE_SCENE_H
#define ORVEX_TOOLS_STAGECACHE_SCENE_H

#include <opencv2/core.hpp>

namespace stagecache {

// A 1600 x 1200 photograph-like scene: a light page with four dark bar patterns and a
// square dot pattern, turned a little and seen in perspective on a darker desk, with
// sensor noise. The same pixels on every run.
cv::Mat DrawDefaultScene();

}  // namespace stagecache

#endif
