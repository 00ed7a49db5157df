#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

// A ring of stereo frames with one writer and one reader on different threads, without
// locks: the writer (the WAV decoder) appends frames, the reader (the audio callback)
// takes them in order. Indexes count frames since Reset and never wrap in practice
// (2^64 frames).
//
// Threads: Write and GetFree on the writer's thread, Read and GetAvailable on the
// reader's; Reset only while neither is using the ring.
class SStereoRing {
 public:
  // capacity: frames, a power of two.
  explicit SStereoRing(int capacity);

  // Appends frames of interleaved left, right; returns how many fitted.
  int Write(const float* interleaved, int frames);
  // Adds up to frames of the ring into left and right; returns how many.
  int Read(float* left, float* right, int frames);
  int GetAvailable() const;  // frames ready to read
  int GetFree() const;       // frames that can be written
  int GetCapacity() const { return capacity; }
  void Reset();

 private:
  int capacity;
  std::vector<float> data;  // interleaved, capacity frames
  std::atomic<std::uint64_t> written{0};
  std::atomic<std::uint64_t> read{0};
};
