// Which computation this thread runs, for the check that nothing shared is freed under a
// library lock; private to the image-processing library.
#ifndef ORVEX_IMPROC_COMPUTATION_H
#define ORVEX_IMPROC_COMPUTATION_H

#include <cstdint>

namespace orvex {

// The serial number of the stage computation this thread runs now; 0 outside one.
// Numbers are never reused, so a matrix made by one computation is known as its own.
uint64_t& CurrentComputation() noexcept;

}  // namespace orvex

#endif
