#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

class SSampleSource;

// The samples of one run around the frames being analysed: a ring filled from the
// run's source as the frame loop moves on, so that a run holds a few hundred
// kilobytes of samples whatever the recording's length. Past the samples the source
// gives, up to the run's sample count, every sample has the pad value, as a file that
// ends before its data size is read.
//
// The ring keeps a copy of its first frame's length after its end, so the 2048
// samples of any frame lie side by side.
//
// Threads: Fill belongs to the thread that runs the frame loop; Held, Stored and At may
// be called from any thread, for samples that Held says are there and that the caller
// keeps in use (see Fill's keep).
class SSampleWindow {
 public:
  static constexpr std::int64_t kSpan = 1 << 17;   // samples the ring holds
  static constexpr std::int32_t kChunk = 1 << 14;  // samples read from the source at a time

  // source: read from where it stands (the caller rewinds it), borrowed for the run.
  // count: the run's samples, padding included. pad: the value past the source's end.
  SSampleWindow(SSampleSource& source, std::int64_t count, std::int32_t pad);
  SSampleWindow(const SSampleWindow&) = delete;
  SSampleWindow& operator=(const SSampleWindow&) = delete;

  // Reads until samples [0, end) are held (end is clamped to the count). keep: the
  // first sample that any thread may still read; samples before it may be replaced.
  // end must not exceed keep + kSpan - kChunk. False when the source failed, and from
  // then on (GetError says why).
  bool Fill(std::int64_t end, std::int64_t keep);
  // Reads whatever the source still gives, past the count too, without keeping it, so
  // that a source whose very end is damaged says so. False when the source failed.
  bool Drain();
  // Samples [0, Held()) have been written (acquire: they may be read once seen).
  std::int64_t Held() const { return held.load(std::memory_order_acquire); }
  // How many samples the source gave, once it has ended (before: -1). Published before
  // Held passes it.
  std::int64_t Stored() const { return stored.load(std::memory_order_acquire); }
  // The 2048 samples from start, which must be held and not yet replaced.
  const std::int16_t* At(std::int64_t start) const {
    return ring.data() + static_cast<std::size_t>(start % kSpan);
  }
  const std::string& GetError() const { return error; }

  // Samples a run reads before frame is analysed by a frame loop whose workers may run
  // ahead by ahead frames: up to the end of frame + ahead - 1 (frame f covers samples
  // f * 1024 .. f * 1024 + 2047).
  static std::int64_t FillTarget(int frame, int ahead);

 private:
  void Put(std::int64_t at, const std::int16_t* values, std::int32_t n);
  void Failed();  // the source failed: keeps its words

  SSampleSource& source;
  const std::int64_t count;
  const std::int16_t pad;
  bool failed = false;
  std::string error;
  std::array<std::int16_t, kSpan + 2048> ring{};
  std::array<std::int16_t, kChunk> block{};
  std::atomic<std::int64_t> held{0};
  std::atomic<std::int64_t> stored{-1};
};
