#pragma once

#include <cstdint>
#include <limits>

// Fixed numbers of import, in one place so that the importer and the resampler agree
// with each other and with the engine's reader (44100 samples per second, 16 bits).
namespace zuroka {

inline constexpr int kImportRate = 44100;  // samples per second handed to the engine
// The engine counts samples in 32 bits: at most this many samples after resampling.
inline constexpr std::int64_t kMaxImportSamples = std::numeric_limits<std::int32_t>::max();
// Source rates accepted, samples per second. Below 1000 Hz no melody survives; above
// 768000 Hz no recorder writes.
inline constexpr int kMinSourceRate = 1000;
inline constexpr int kMaxSourceRate = 768000;
inline constexpr double kFullScale = 32768.0;  // 16-bit value of a full-scale sample 1.0

// A sample given in 16-bit units rounded to the nearest value (halves away from zero)
// and clipped to -32768..32767. No dither, so the same file always gives the same
// values. NaN becomes 0. For the values import rounds (floats times 32768) v +- 0.5 is
// exact, so the truncation equals std::lround at a third of its cost.
inline std::int16_t ToSample16(double v) {
  if (!(v == v)) return 0;
  if (v >= 32767.0) return 32767;
  if (v <= -32768.0) return -32768;
  return static_cast<std::int16_t>(static_cast<int>(v < 0 ? v - 0.5 : v + 0.5));
}

}  // namespace zuroka
