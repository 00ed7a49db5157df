#include "SLookAhead.h"

#include <algorithm>

#include "EngineConstants.h"

using namespace zuroka;

namespace {

// Take fills the window for every frame a worker may claim, a chunk past it, and
// keeps the frame being taken: all of it must fit in the window's ring.
static_assert((SLookAhead::kSlots - 1) * kHop + kFrameLength + SSampleWindow::kChunk <=
              SSampleWindow::kSpan - SSampleWindow::kChunk);

// The first frame that repeats its predecessor, for a source that gave stored samples:
// frames at or past it all lie in the padding, as does the one before each.
std::int64_t FirstRepeat(std::int64_t stored) { return (stored + kHop - 1) / kHop + 1; }

// The window's 2048 samples of frame, as the analyser reads a frame.
SSampleView FrameView(const SSampleWindow& window, int frame) {
  SSampleView v;
  v.data = window.At(static_cast<std::int64_t>(frame) * kHop);
  v.stored = kFrameLength;
  v.count = kFrameLength;
  return v;
}

}  // namespace

bool SLookAhead::RepeatsPrevious(const SSampleWindow& window, int frame) {
  const std::int64_t stored = window.Stored();
  return frame > 0 && stored >= 0 && static_cast<std::int64_t>(frame - 1) * kHop >= stored;
}

bool SLookAhead::AnalyzeHere(SSampleWindow& window, int frame, SFFT& fft, double dbRatio,
                             double cpRatio) {
  if (RepeatsPrevious(window, frame)) return true;
  const std::int64_t start = static_cast<std::int64_t>(frame) * kHop;
  if (window.Held() < start + kFrameLength &&
      !window.Fill(start + kFrameLength + SSampleWindow::kChunk, start)) {
    return false;
  }
  fft.Analyze(FrameView(window, frame), 0, kTransformOrder, dbRatio, cpRatio);
  return true;
}

SLookAhead::SLookAhead(SSampleWindow& window, int frames, double dbRatio, double cpRatio,
                       int workers, FrameHook hook)
    : window(window), frames(frames), dbRatio(dbRatio), cpRatio(cpRatio), hook(std::move(hook)) {
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
  // A waiting worker wakes on a change of the epoch and then sees the stop.
  epoch.fetch_add(1, std::memory_order_acq_rel);
  epoch.notify_all();
  for (std::thread& t : threads) t.join();
  threads.clear();
}

int SLookAhead::Limit() const {
  // Frames to analyse: all of them until the source has ended, then those before the
  // first that repeats its predecessor.
  const std::int64_t stored = window.Stored();
  if (stored < 0) return frames;
  return static_cast<int>(std::min<std::int64_t>(frames, FirstRepeat(stored)));
}

bool SLookAhead::TryClaim(int& frame, int takenNow) {
  // Held first: a source's end is published before the samples that follow it.
  const std::int64_t held = window.Held();
  const int limit = Limit();
  int n = next.load(std::memory_order_relaxed);
  // Frame n goes into the slot of frame n - kSlots, free once that one is taken.
  while (n < limit && n < takenNow + kSlots &&
         static_cast<std::int64_t>(n) * kHop + kFrameLength <= held) {
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
  analyser.Analyze(FrameView(window, frame), 0, kTransformOrder, dbRatio, cpRatio);
  // The slot's results were handed on when its last frame was taken: free to reuse.
  analyser.ExchangeResults(slot.results);
  slot.ready.store(frame, std::memory_order_release);
  slot.ready.notify_all();
}

void SLookAhead::Work(SFFT& analyser) {
  while (!stopping.load(std::memory_order_acquire)) {
    const int e = epoch.load(std::memory_order_acquire);
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
    if (next.load(std::memory_order_relaxed) >= Limit()) return;
    epoch.wait(e, std::memory_order_acquire);  // the ring is full or the samples are not here
  }
}

bool SLookAhead::Take(int frame, SFFT& fft) {
  if (RepeatsPrevious(window, frame)) return true;
  const std::int64_t keep = static_cast<std::int64_t>(frame) * kHop;
  // Samples for every frame a worker may claim before this one is taken, read a chunk
  // at a time.
  const std::int64_t target = SSampleWindow::FillTarget(frame, kSlots);
  if (window.Held() < target) {
    if (!window.Fill(target + SSampleWindow::kChunk, keep)) return false;
    epoch.fetch_add(1, std::memory_order_acq_rel);
    epoch.notify_all();
  }
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
  epoch.fetch_add(1, std::memory_order_acq_rel);
  epoch.notify_all();
  return true;
}
