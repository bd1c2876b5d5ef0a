// Working on many images at once: several threads, each taking the next image through
// the one set of tree groups, in the library's shared pool.
#ifndef ORVEX_TOOLS_STAGECACHE_BATCH_H
#define ORVEX_TOOLS_STAGECACHE_BATCH_H

#include "Inputs.h"
#include "Run.h"

#include <orvex/hostkit/FileResultStore.h>

#include <functional>
#include <string>
#include <vector>

namespace stagecache {

// What became of one input.
struct Outcome {
  size_t index = 0;  // place in the input list
  std::string name;
  bool processed = false;
  ImageView view;          // when processed
  std::string skipReason;  // when not
};

struct BatchOptions {
  size_t jobs = 1;
  RunOptions run;
  size_t pictureImages = 0;  // the first this many inputs get a picture of every result
  orvex::hostkit::FileResultStore* store = nullptr;  // with --store
};

// Called once per input as soon as it is done, one call at a time, with the number of
// inputs done so far (this one included).
using OutcomeReady = std::function<void(const Outcome&, size_t done)>;

// Reads and processes every input, `jobs` at a time; returns the outcomes in input order.
// Images with equal pixels are never worked on at the same time, so each is computed
// as it would be alone and the figures do not depend on the number of jobs.
std::vector<Outcome> RunBatch(orvex::hostkit::SetGroups& sets, const std::vector<InputFile>& inputs, const BatchOptions& options,
                              const OutcomeReady& ready);

}  // namespace stagecache

#endif
