#pragma once

#include <samplerate.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SFileHandle.h"

// One sound file held for playback: decoded whole through libsndfile into stereo
// floats (a mono file goes to both sides, a file of more channels gives its first
// two), played at the stream's rate through libsamplerate when the file's differs,
// so that it keeps its true speed and pitch. While held, the file is locked shared
// (flock), so that an exclusive open of the same file fails until the source is gone.
//
// Threads: Open, Rewind and the getters run on the interface thread; MixInto runs on
// the audio thread and only while the output has this source (SAudioOutput::SetWavSource);
// Rewind only while it has not.
class SWavSource {
 public:
  SWavSource() = default;
  ~SWavSource();
  SWavSource(const SWavSource&) = delete;
  SWavSource& operator=(const SWavSource&) = delete;

  // Takes the open file (positioned anywhere; it is read from the start), locks it,
  // decodes it for a stream of streamRate samples per second and rewinds. On failure
  // returns false with error set to the cause (no file name) and holds nothing.
  bool Open(SFileHandle file, int streamRate, std::string& error);

  // Back to the first sample.
  void Rewind();
  // Adds the next frames of the file (at the stream's rate) into left and right;
  // after the end, adds nothing. Never allocates.
  void MixInto(float* left, float* right, int frames);
  // True once every sample has been mixed.
  bool IsFinished() const { return finished.load(std::memory_order_relaxed); }

  int GetFileRate() const { return fileRate; }  // samples per second
  int GetFileChannels() const { return fileChannels; }
  std::int64_t GetFileFrames() const { return frames; }  // at the file's rate

 private:
  struct ResamplerDeleter {
    void operator()(SRC_STATE* p) const { src_delete(p); }
  };

  SFileHandle file;
  std::vector<float> samples;  // interleaved left, right
  std::int64_t frames = 0;
  int fileRate = 0;
  int fileChannels = 0;
  double ratio = 1.0;          // stream rate / file rate
  std::int64_t position = 0;   // next input frame; audio thread while playing
  std::vector<float> scratch;  // resampled block, kMixChunk stereo frames
  std::unique_ptr<SRC_STATE, ResamplerDeleter> resampler;
  std::atomic<bool> finished{true};
};
