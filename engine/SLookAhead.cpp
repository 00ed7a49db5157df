#include "SLookAhead.h"

#include <algorithm>

#include "EngineConstants.h"

using namespace zuroka;

namespace {

// Frames the loop analyses before the first that repeats its predecessor: frames at
// or past it all lie in the padding, as does the one before each.
int FramesToAnalyze(const SSampleView& samples, int frames) {
  const std::int64_t firstRepeat =
      (static_cast<std::int64_t>(samples.stored) + kHop - 1) / kHop + 1;
  return static_cast<int>(std::min<std::int64_t>(frames, firstRepeat));
}

}  // namespace

bool SLookAhead::RepeatsPrevious(const SSampleView& samples, int frame) {
  return frame > 0 && static_cast<std::int64_t>(frame - 1) * kHop >= samples.stored;
}

SLookAhead::SLookAhead(const SSampleView& samples, int frames, double dbRatio, double cpRatio,
                       int workers, FrameHook hook)
    : samples(samples),
      toAnalyze(FramesToAnalyze(samples, frames)),
      dbRatio(dbRatio),
      cpRatio(cpRatio),
      hook(std::move(hook)) {
  for (int w = 0; w < workers; ++w) analysers.push_back(std::make_unique<SFFT>());
  try {
    for (int w = 0; w < workers; ++w) threads.emplace_back([this, w] { Work(*analysers[w]); });
  } catch (...) {
    Stop();
    throw;
  }
}

SLookAhead::~SLookAhead() { Stop(); }

void SLookAhead::Stop() {
  stopping.store(true, std::memory_order_release);
  // A worker that waits for room wakes on a change of taken and then sees the stop.
  taken.fetch_add(1, std::memory_order_acq_rel);
  taken.notify_all();
  for (std::thread& t : threads) t.join();
  threads.clear();
}

bool SLookAhead::TryClaim(int& frame, int takenNow) {
  int n = next.load(std::memory_order_relaxed);
  // Frame n goes into the slot of frame n - kSlots, free once that one is taken.
  while (n < toAnalyze && n < takenNow + kSlots) {
    if (next.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel)) {
      frame = n;
      return true;
    }
  }
  return false;
}

void SLookAhead::AnalyzeInto(SFFT& analyser, int frame, bool onWorker) {
  Slot& slot = slots[static_cast<std::size_t>(frame % kSlots)];
  if (hook) hook(frame, onWorker);
  analyser.Analyze(samples, frame * kHop, kTransformOrder, dbRatio, cpRatio);
  // The slot's results were handed on when its last frame was taken: free to reuse.
  analyser.ExchangeResults(slot.results);
  slot.ready.store(frame, std::memory_order_release);
  slot.ready.notify_all();
}

void SLookAhead::Work(SFFT& analyser) {
  while (!stopping.load(std::memory_order_acquire)) {
    const int t = taken.load(std::memory_order_acquire);
    int frame;
    if (TryClaim(frame, t)) {
      try {
        AnalyzeInto(analyser, frame, true);
      } catch (...) {
        // The calling thread analyses this frame, and every later one, itself.
        Slot& slot = slots[static_cast<std::size_t>(frame % kSlots)];
        slot.lost = true;
        slot.ready.store(frame, std::memory_order_release);
        slot.ready.notify_all();
        return;
      }
      continue;
    }
    if (next.load(std::memory_order_relaxed) >= toAnalyze) return;
    taken.wait(t, std::memory_order_acquire);  // the ring is full
  }
}

void SLookAhead::Take(int frame, SFFT& fft) {
  if (frame >= toAnalyze) return;
  Slot& slot = slots[static_cast<std::size_t>(frame % kSlots)];
  for (;;) {
    const int ready = slot.ready.load(std::memory_order_acquire);
    if (ready == frame) break;
    // Rather than wait, analyse the next unclaimed frame here; this one is then
    // being analysed by a worker (every earlier frame has been taken).
    int other;
    if (TryClaim(other, frame)) {
      AnalyzeInto(own, other, false);
      continue;
    }
    slot.ready.wait(ready, std::memory_order_acquire);
  }
  if (slot.lost) {
    slot.lost = false;
    AnalyzeInto(own, frame, false);
  }
  fft.ExchangeResults(slot.results);
  taken.store(frame + 1, std::memory_order_release);
  taken.notify_all();
}
