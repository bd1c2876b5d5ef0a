#include "Batch.h"

#include "Scene.h"

#include <orvex/foundation/Mutex.h>
#include <orvex/hostkit/ImageFiles.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <set>
#include <thread>

namespace stagecache {

using namespace orvex;

namespace {

// Lets one thread at a time work on an image of a given id: two equal images processed
// together would share their results, and the figures would depend on the timing.
class SameImageGate {
 public:
  class Turn {
   public:
    Turn(SameImageGate& gate, const std::string& id) : m_gate(gate), m_id(id) { m_gate.Enter(m_id); }
    ~Turn() { m_gate.Leave(m_id); }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

   private:
    SameImageGate& m_gate;
    std::string m_id;
  };

 private:
  void Enter(const std::string& id) ORVEX_EXCLUDES(m_mutex) {
    MutexLock lock(m_mutex);
    while (m_busy.count(id) != 0) m_free.wait(m_mutex);
    m_busy.insert(id);
  }
  void Leave(const std::string& id) ORVEX_EXCLUDES(m_mutex) {
    {
      MutexLock lock(m_mutex);
      m_busy.erase(id);
    }
    m_free.notify_all();
  }

  // m_mutex guards m_busy; taken alone, never with another lock.
  Mutex m_mutex;
  std::condition_variable_any m_free;
  std::set<std::string> m_busy ORVEX_GUARDED_BY(m_mutex);
};

// Hands each outcome to the caller's `ready` with the number done so far, one at a time.
class ReadyCalls {
 public:
  explicit ReadyCalls(const OutcomeReady& ready) : m_ready(ready) {}
  void Call(const Outcome& outcome) ORVEX_EXCLUDES(m_mutex) {
    MutexLock lock(m_mutex);
    m_ready(outcome, ++m_done);
  }

 private:
  const OutcomeReady& m_ready;
  // m_mutex guards m_done and the calls of m_ready; taken alone.
  Mutex m_mutex;
  size_t m_done ORVEX_GUARDED_BY(m_mutex) = 0;
};

// An input's image: decoded, or known by its id from an earlier run's record in the store
// (then decoded only when a result needs the pixels). False with the reason.
bool Load(const InputFile& input, hostkit::FileResultStore* store, hostkit::PreparedImage& image, std::string& reason) {
  if (!input.problem.empty()) {
    reason = input.problem;
    return false;
  }
  if (input.builtInScene) {
    image.pixels.reset(new QZMatrix(DrawDefaultScene()));
    return true;
  }
  return hostkit::PrepareImageFile(input.path, store, &image, &reason);
}

Outcome Work(hostkit::SetGroups& sets, SameImageGate& gate, size_t index, const InputFile& input,
             const BatchOptions& options) {
  Outcome outcome;
  outcome.index = index;
  outcome.name = input.path;
  try {
    hostkit::PreparedImage image;
    if (!Load(input, options.store, image, outcome.skipReason)) return outcome;
    const SameImageGate::Turn turn(gate, image.Id());
    RunOptions run = options.run;
    run.pictures = index < options.pictureImages;
    std::optional<ImageView> view = ProcessImage(sets, index + 1, input.path, std::move(image), run, &outcome.skipReason);
    if (view) {
      outcome.view = std::move(*view);
      outcome.processed = true;
    }
  } catch (const std::exception& error) {
    outcome.skipReason = std::string("failed: ") + error.what();
  }
  return outcome;
}

}  // namespace

std::vector<Outcome> RunBatch(hostkit::SetGroups& sets, const std::vector<InputFile>& inputs, const BatchOptions& options,
                              const OutcomeReady& ready) {
  std::vector<Outcome> outcomes(inputs.size());
  SameImageGate gate;
  std::atomic<size_t> next{0};
  ReadyCalls readyCalls(ready);
  auto worker = [&] {
    for (size_t i = next++; i < inputs.size(); i = next++) {
      outcomes[i] = Work(sets, gate, i, inputs[i], options);
      readyCalls.Call(outcomes[i]);
    }
  };
  const size_t threads = std::max<size_t>(1, std::min(options.jobs, inputs.size()));
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& thread : pool) thread.join();
  return outcomes;
}

}  // namespace stagecache
