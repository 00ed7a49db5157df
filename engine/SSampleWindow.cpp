#include "SSampleWindow.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "EngineConstants.h"
#include "SSampleSource.h"

using namespace zuroka;

std::int32_t SMemorySamples::Read(std::int16_t* out, std::int32_t n) {
  const std::size_t k = std::min(samples.size() - next, static_cast<std::size_t>(n));
  std::copy_n(samples.data() + next, k, out);
  next += k;
  return static_cast<std::int32_t>(k);
}

SSampleWindow::SSampleWindow(SSampleSource& source, std::int64_t count, std::int32_t pad)
    : source(source),
      count(std::max<std::int64_t>(count, 0)),
      pad(static_cast<std::int16_t>(pad)) {}

std::int64_t SSampleWindow::FillTarget(int frame, int ahead) {
  return static_cast<std::int64_t>(frame + std::max(ahead, 1) - 1) * kHop + kFrameLength;
}

void SSampleWindow::Put(std::int64_t at, const std::int16_t* values, std::int32_t n) {
  // Callers split at the ring's end, so a run of values never wraps.
  const auto pos = static_cast<std::size_t>(at % kSpan);
  std::memcpy(ring.data() + pos, values, static_cast<std::size_t>(n) * sizeof(std::int16_t));
  // The copy after the end: the first frame's length, again.
  if (pos < static_cast<std::size_t>(kFrameLength)) {
    const std::size_t mirrored =
        std::min<std::size_t>(static_cast<std::size_t>(n), kFrameLength - pos);
    std::memcpy(ring.data() + kSpan + pos, values, mirrored * sizeof(std::int16_t));
  }
}

void SSampleWindow::Failed() {
  failed = true;
  error = source.GetError();
  if (error.empty()) error = "the samples cannot be read";
}

bool SSampleWindow::Fill(std::int64_t end, std::int64_t keep) {
  end = std::min(end, count);
  assert(end <= keep + kSpan - kChunk);
  (void)keep;
  std::int64_t at = held.load(std::memory_order_relaxed);
  while (at < end && !failed) {
    // At most one chunk, and never across the ring's end.
    const auto room =
        static_cast<std::int32_t>(std::min<std::int64_t>({kChunk, count - at, kSpan - at % kSpan}));
    std::int32_t got = 0;
    if (stored.load(std::memory_order_relaxed) < 0) {
      got = source.Read(block.data(), room);
      if (got < 0) {
        Failed();
        break;
      }
      if (got == 0) stored.store(at, std::memory_order_release);
    }
    if (got == 0) {
      std::fill_n(block.data(), room, pad);
      got = room;
    }
    Put(at, block.data(), got);
    at += got;
    held.store(at, std::memory_order_release);
  }
  return !failed;
}

bool SSampleWindow::Drain() {
  while (!failed && stored.load(std::memory_order_relaxed) < 0) {
    const std::int32_t got = source.Read(block.data(), kChunk);
    if (got < 0) {
      Failed();
    } else if (got == 0) {
      stored.store(held.load(std::memory_order_relaxed), std::memory_order_release);
    }
  }
  return !failed;
}
