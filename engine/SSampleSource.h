#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The first channel of a recording as the analysis reads it: 16-bit values at 44100
// samples per second, front to back. A conversion reads its samples through one source
// as the frames need them, so none has to hold a whole recording.
class SSampleSource {
 public:
  virtual ~SSampleSource() = default;

  // Back to the first sample, for another run. False when the samples cannot be read
  // again (GetError says why).
  virtual bool Rewind() = 0;
  // The next samples, up to n (1 or more), into out: the count given, 0 once they end,
  // -1 when reading fails (GetError says why; later calls fail too).
  virtual std::int32_t Read(std::int16_t* out, std::int32_t n) = 0;
  // Why the last Rewind or Read failed, in English; empty when nothing failed.
  virtual std::string GetError() const { return {}; }
};

// Samples held in memory (made elsewhere and moved in).
class SMemorySamples final : public SSampleSource {
 public:
  explicit SMemorySamples(std::vector<std::int16_t> samples) : samples(std::move(samples)) {}

  bool Rewind() override {
    next = 0;
    return true;
  }
  std::int32_t Read(std::int16_t* out, std::int32_t n) override;
  std::size_t Size() const { return samples.size(); }

 private:
  std::vector<std::int16_t> samples;
  std::size_t next = 0;
};
