#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct soxr;

// Streams one channel from a source rate to 44100 samples per second and rounds the
// result to 16-bit values (no dither).
//
// libsoxr, high-quality recipe (20-bit precision, linear phase, passband to 91 % of the
// lower Nyquist frequency), one thread. Chosen over libsamplerate by
// bench/resampler_compare: on melody tones both stay far below 16-bit resolution
// (signal to error 131-134 dB for soxr HQ, 139-150 dB for the best sinc), aliases of
// tones above 22050 Hz are below -130 dB for both, but soxr resamples a minute of
// 48 kHz audio in 30-70 ms where the best sinc takes 3.5-9 s and even the fastest sinc
// (0.45-0.75 s, and a passband that ends at 80 %) would make a ten-minute file's import
// take several times its whole conversion. Its output is time-aligned with the input
// (the filter delay is removed) and does not depend on how the input is split into
// blocks.
//
// Not thread-safe; one resampler per stream. Streams on different threads are independent.
class SResampler {
 public:
  static constexpr std::int32_t kOk = 0;
  static constexpr std::int32_t kFailed = -1;  // the resampler reported an error
  static constexpr std::int32_t kNoMemory = -2;
  static constexpr std::int32_t kTooLong = -3;  // more than 2^31 - 1 output samples
  static constexpr std::int32_t kBadRate = -4;  // rate outside 1000..768000

  SResampler();
  ~SResampler();
  SResampler(const SResampler&) = delete;
  SResampler& operator=(const SResampler&) = delete;

  // Starts a stream from inRate (samples per second, 1000..768000) to 44100.
  // Returns kOk, kBadRate, or kFailed (GetError says why).
  std::int32_t Init(int inRate);
  // Resamples n samples (full scale is +-1.0; values must be finite) and appends the
  // 16-bit results that are ready to out. Returns kOk or kFailed.
  std::int32_t Process(const float* in, std::size_t n, std::vector<std::int16_t>& out);
  // Ends the input and appends the rest. Afterwards this stream has appended exactly
  // OutputLength(samples given to Process, inRate) values, over all the vectors it was
  // given. Returns kOk or kFailed.
  std::int32_t Finish(std::vector<std::int16_t>& out);
  const std::string& GetError() const { return error; }

  // Samples at 44100 Hz for inputSamples at inRate: floor(inputSamples * 44100 / inRate),
  // the whole samples of the same duration.
  static std::int64_t OutputLength(std::int64_t inputSamples, int inRate);

  // Resamples a whole 16-bit mono buffer (count samples at rate samples per second) to
  // 44100 Hz into out, which is replaced. At 44100 the samples are copied unchanged.
  // The result equals what the importer makes of the same samples in a file at that
  // rate. Returns kOk, kBadRate, kTooLong, kNoMemory or kFailed; out is empty on failure.
  static std::int32_t ResampleTo44100(const std::int16_t* samples, std::size_t count, int rate,
                                      std::vector<std::int16_t>& out);

 private:
  struct SoxrDeleter {
    void operator()(soxr* s) const;
  };
  void Append(std::size_t made, std::vector<std::int16_t>& out);

  std::unique_ptr<soxr, SoxrDeleter> stream;
  std::vector<float> block;   // output of one call of the resampler
  int rate = 0;               // source rate of the stream
  std::int64_t consumed = 0;  // input samples given to Process
  std::int64_t produced = 0;  // output samples appended
  std::string error;
};
