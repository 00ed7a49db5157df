#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "SFFT.h"
#include "SSampleWindow.h"

// Analyses the frames of one run ahead of the steps that must run in frame order (the
// tracks, the candidate scan). A frame's analysis depends only on the samples, so
// worker threads analyse frames into a small ring of results while the calling thread
// takes them in order; whenever the next frame is not ready and the ring has room,
// the calling thread analyses a frame itself instead of waiting. Taking a frame
// hands its results into the caller's analyser without copying, so everything that
// reads that analyser sees what the one-thread loop would show.
//
// The samples come from the run's window, which Take fills ahead of the workers; a
// worker claims a frame only once its samples are held.
//
// Threads: the constructor, Take and the destructor belong to one thread (the one
// that runs the frame loop); the workers touch only the window's samples, their own
// analysers and the ring, never the engine or its seam.
class SLookAhead {
 public:
  // Called on the analysing thread just before a frame is analysed, with the frame
  // and whether a worker (not the calling thread) analyses it. For tests: it may
  // throw on a worker, which then stops; its frame and the rest are analysed by the
  // calling thread, with the same results.
  using FrameHook = std::function<void(int frame, bool onWorker)>;

  // Frames in the ring: results a worker may run ahead of the frame loop. Enough for
  // a worker to keep going while an import's decoder has the frame loop's core
  // (16 left a 44.1 kHz FLAC's conversion a fifth slower); about 25 KB each.
  static constexpr int kSlots = 48;

  // window: the run's samples, alive while this object lives and filled by Take only.
  // frames: the run's analysed frames (frame f starts at sample f * 1024; all 2048
  // samples inside the signal). dbRatio, cpRatio: the options for the whole run.
  // workers: threads to start, 1 or more. Throws (std::system_error, std::bad_alloc)
  // when a thread or the ring cannot be had, and then leaves no thread running.
  SLookAhead(SSampleWindow& window, int frames, double dbRatio, double cpRatio, int workers,
             FrameHook hook = {});
  // Stops and joins the workers, wherever the run stands.
  ~SLookAhead();
  SLookAhead(const SLookAhead&) = delete;
  SLookAhead& operator=(const SLookAhead&) = delete;

  // Hands frame's results into fft; frames are taken once each, in order from 0.
  // A frame wholly in the padding of a short file after another such frame is not
  // analysed: its results equal those fft holds, which stay as they are. False when
  // the window's source failed (its GetError says why); fft is then unchanged.
  bool Take(int frame, SFFT& fft);

  // Whether the loop may keep the results of the frame before: frame and the one
  // before it both lie wholly in the padding past the stored samples. Known once the
  // window has been filled for the frame before.
  static bool RepeatsPrevious(const SSampleWindow& window, int frame);
  // Analyses frame on the calling thread alone, filling the window first; the road
  // of a one-thread run. False when the window's source failed.
  static bool AnalyzeHere(SSampleWindow& window, int frame, SFFT& fft, double dbRatio,
                          double cpRatio);

 private:
  struct Slot {
    std::unique_ptr<SFFT::FrameResults> results = std::make_unique<SFFT::FrameResults>();
    bool lost = false;           // a worker failed on this frame: not analysed
    std::atomic<int> ready{-1};  // the frame whose results the slot holds
  };

  int Limit() const;
  bool TryClaim(int& frame, int taken);
  void AnalyzeInto(SFFT& analyser, int frame, bool onWorker);
  void Work(SFFT& analyser);
  void Stop();

  SSampleWindow& window;
  const int frames;
  const double dbRatio;
  const double cpRatio;
  const FrameHook hook;
  std::array<Slot, kSlots> slots;
  SFFT own;                                      // the calling thread's analyser
  std::vector<std::unique_ptr<SFFT>> analysers;  // one per worker
  // Written by different threads: kept on separate cache lines.
  alignas(64) std::atomic<int> next{0};   // next frame to claim for analysis
  alignas(64) std::atomic<int> taken{0};  // frames handed over
  alignas(64) std::atomic<int> epoch{0};  // changes when a frame is taken or samples come
  alignas(64) std::atomic<bool> stopping{false};
  std::vector<std::thread> threads;
};
