// Enumerations of the image-processing library.
#ifndef ORVEX_IMPROC_ENUMS_H
#define ORVEX_IMPROC_ENUMS_H

namespace orvex {

// Which channels of a caller's buffer a matrix keeps.
enum ColourChannelUsageType {
  CCUT_ALL_CHANNELS = 1,  // every channel, alpha included
  CCUT_DROP_ALPHA = 2     // colour channels only
};

// How a matrix is loaded from a buffer or a file.
enum QZMatrixLoadMode {
  QZLM_GRAYSCALE = 1,  // one 8-bit channel
  QZLM_COLOUR = 2      // blue-green-red, with alpha as a fourth channel when the image has one
};

// Kinds of log output; a logger is configured with a mask of them.
enum LogMode {
  LM_TEXT = 1,   // plain messages
  LM_TIMING = 2  // entry and exit records of timed steps with elapsed milliseconds
};

// Why a matrix could not be loaded (the error out-value of the loaders).
enum QZMatrixError {
  QZME_OK = 0,
  QZME_NULL_ARGUMENT = 1,
  QZME_BAD_SIZE = 2,
  QZME_BAD_STRIDE = 3,
  QZME_UNKNOWN_FORMAT = 4,
  QZME_BAD_MODE = 5,
  QZME_UNREADABLE_FILE = 6,  // missing, not a regular file, or not readable
  QZME_NOT_AN_IMAGE = 7,     // not a PNG or JPEG image, or one OpenCV cannot decode
  QZME_TRUNCATED = 8,        // a PNG or JPEG whose structure stops before its end
  QZME_TOO_MANY_PIXELS = 9,  // more pixels than the image limits allow
  QZME_FILE_TOO_LARGE = 10,  // more bytes than the image limits allow
  QZME_OUT_OF_MEMORY = 11    // the memory for the pixels could not be had
};

}  // namespace orvex

#endif
