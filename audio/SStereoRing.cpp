#include "SStereoRing.h"

#include <algorithm>

SStereoRing::SStereoRing(int capacity)
    : capacity(capacity), data(static_cast<std::size_t>(capacity) * 2, 0.0f) {}

int SStereoRing::Write(const float* interleaved, int frames) {
  const std::uint64_t w = written.load(std::memory_order_relaxed);
  const std::uint64_t r = read.load(std::memory_order_acquire);
  const int n = std::min(frames, capacity - static_cast<int>(w - r));
  const std::uint64_t mask = static_cast<std::uint64_t>(capacity) - 1;
  for (int i = 0; i < n; ++i) {
    const std::size_t at = static_cast<std::size_t>((w + static_cast<std::uint64_t>(i)) & mask) * 2;
    data[at] = interleaved[2 * i];
    data[at + 1] = interleaved[2 * i + 1];
  }
  written.store(w + static_cast<std::uint64_t>(n), std::memory_order_release);
  return n;
}

int SStereoRing::Read(float* left, float* right, int frames) {
  const std::uint64_t r = read.load(std::memory_order_relaxed);
  const std::uint64_t w = written.load(std::memory_order_acquire);
  const int n = std::min(frames, static_cast<int>(w - r));
  const std::uint64_t mask = static_cast<std::uint64_t>(capacity) - 1;
  for (int i = 0; i < n; ++i) {
    const std::size_t at = static_cast<std::size_t>((r + static_cast<std::uint64_t>(i)) & mask) * 2;
    left[i] += data[at];
    right[i] += data[at + 1];
  }
  read.store(r + static_cast<std::uint64_t>(n), std::memory_order_release);
  return n;
}

int SStereoRing::GetAvailable() const {
  return static_cast<int>(written.load(std::memory_order_acquire) -
                          read.load(std::memory_order_relaxed));
}

int SStereoRing::GetFree() const {
  return capacity - static_cast<int>(written.load(std::memory_order_relaxed) -
                                     read.load(std::memory_order_acquire));
}

void SStereoRing::Reset() {
  written.store(0, std::memory_order_relaxed);
  read.store(0, std::memory_order_relaxed);
}
