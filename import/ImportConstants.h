#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// ToSample16(in[i] * 32768) for a block of full-scale floats: the same values (clipping
// before rounding leaves every result as it was), four at a time and without branches,
// which on audio would be mispredicted half the time; it handles every sample an
// import makes.
inline void ToSamples16(const float* in, std::size_t n, std::int16_t* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128d scale = _mm_set1_pd(kFullScale);
  const __m128d low = _mm_set1_pd(-32768.0);
  const __m128d high = _mm_set1_pd(32767.0);
  const __m128d half = _mm_set1_pd(0.5);
  const __m128d sign = _mm_set1_pd(-0.0);
  const auto round = [&](__m128d v) {
    v = _mm_mul_pd(v, scale);
    v = _mm_and_pd(v, _mm_cmpord_pd(v, v));  // NaN as 0
    v = _mm_min_pd(_mm_max_pd(v, low), high);
    v = _mm_add_pd(v, _mm_or_pd(half, _mm_and_pd(v, sign)));  // halves away from zero
    return _mm_cvttpd_epi32(v);                               // truncation, in the low half
  };
  for (; i + 4 <= n; i += 4) {
    const __m128 f = _mm_loadu_ps(in + i);
    const __m128i a = round(_mm_cvtps_pd(f));
    const __m128i b = round(_mm_cvtps_pd(_mm_movehl_ps(f, f)));
    const __m128i both = _mm_unpacklo_epi64(a, b);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(both, both));
  }
#endif
  for (; i < n; ++i) out[i] = ToSample16(static_cast<double>(in[i]) * kFullScale);
}

}  // namespace zuroka
