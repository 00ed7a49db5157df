#include "SFFT.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZUROKA_X86 1
#endif

namespace {

constexpr double kInvN = 0.00048828125;  // 1 / 2048, exact

// Truncation toward zero of a double into an int, saturating instead of overflowing.
std::int32_t TruncToInt(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

[[noreturn]] void OutOfMemory() {
  std::fputs("\nOut of memory error.\n", stderr);
  std::exit(1);  // NOLINT(concurrency-mt-unsafe): the process ends here, by design
}

// One butterfly as the transform defines it: the twiddle multiplies the upper input.
inline void Butterfly(double* re, double* im, int i, int j, double wr, double wi) {
  const double tr = re[j] * wr - im[j] * wi;
  const double ti = im[j] * wr + re[j] * wi;
  re[j] = re[i] - tr;
  im[j] = im[i] - ti;
  re[i] = re[i] + tr;
  im[i] = im[i] + ti;
}

#ifdef ZUROKA_X86
// The same butterflies, four at a time. Only mul, add and sub: no reordering, no FMA,
// so every lane gives the bits of the scalar butterfly.
__attribute__((target("avx2"))) inline void Butterfly4(__m256d& ri, __m256d& ii, __m256d& rj,
                                                       __m256d& ij, __m256d wr, __m256d wi) {
  const __m256d tr = _mm256_sub_pd(_mm256_mul_pd(rj, wr), _mm256_mul_pd(ij, wi));
  const __m256d ti = _mm256_add_pd(_mm256_mul_pd(ij, wr), _mm256_mul_pd(rj, wi));
  rj = _mm256_sub_pd(ri, tr);
  ij = _mm256_sub_pd(ii, ti);
  ri = _mm256_add_pd(ri, tr);
  ii = _mm256_add_pd(ii, ti);
}

// Halves of two vectors: (a.lo, b.lo) and (a.hi, b.hi). Insert and extract rather
// than a cross-lane permute, which is slow on some processors.
__attribute__((target("avx2"))) inline __m256d LowHalves(__m256d a, __m256d b) {
  return _mm256_insertf128_pd(a, _mm256_castpd256_pd128(b), 1);
}
__attribute__((target("avx2"))) inline __m256d HighHalves(__m256d a, __m256d b) {
  return _mm256_insertf128_pd(b, _mm256_extractf128_pd(a, 1), 0);
}

// Two wide stages at once (half block c, then c / 2), each element going through
// exactly the butterflies of the two stages in turn, without a store in between.
__attribute__((target("avx2"))) void StagePairAvx2(double* re, double* im, int n, int c,
                                                   const double* wr1, const double* wi1,
                                                   const double* wr2, const double* wi2) {
  const int q = c / 2;
  for (int b = 0, blk = 0; b < n; b += 2 * c, ++blk) {
    const __m256d w1r = _mm256_set1_pd(wr1[blk]), w1i = _mm256_set1_pd(wi1[blk]);
    const __m256d w2ar = _mm256_set1_pd(wr2[2 * blk]), w2ai = _mm256_set1_pd(wi2[2 * blk]);
    const __m256d w2br = _mm256_set1_pd(wr2[2 * blk + 1]), w2bi = _mm256_set1_pd(wi2[2 * blk + 1]);
    for (int i = b; i < b + q; i += 4) {
      __m256d r0 = _mm256_loadu_pd(re + i), i0 = _mm256_loadu_pd(im + i);
      __m256d r1 = _mm256_loadu_pd(re + i + q), i1 = _mm256_loadu_pd(im + i + q);
      __m256d r2 = _mm256_loadu_pd(re + i + c), i2 = _mm256_loadu_pd(im + i + c);
      __m256d r3 = _mm256_loadu_pd(re + i + c + q), i3 = _mm256_loadu_pd(im + i + c + q);
      Butterfly4(r0, i0, r2, i2, w1r, w1i);
      Butterfly4(r1, i1, r3, i3, w1r, w1i);
      Butterfly4(r0, i0, r1, i1, w2ar, w2ai);
      Butterfly4(r2, i2, r3, i3, w2br, w2bi);
      _mm256_storeu_pd(re + i, r0);
      _mm256_storeu_pd(im + i, i0);
      _mm256_storeu_pd(re + i + q, r1);
      _mm256_storeu_pd(im + i + q, i1);
      _mm256_storeu_pd(re + i + c, r2);
      _mm256_storeu_pd(im + i + c, i2);
      _mm256_storeu_pd(re + i + c + q, r3);
      _mm256_storeu_pd(im + i + c + q, i3);
    }
  }
}

// The first two stages of a transform whose input is real (im all zero), which
// need not be read. Their first block's twiddle is (1, -0 or +0), so a product
// with it or with a zero imaginary part is exact: the values that come out are
// those of the full butterflies; at most the sign of a zero differs, which no
// later step can see (the outputs are only squared, added or compared).
__attribute__((target("avx2"))) void StageFirstRealAvx2(double* re, double* im, int n, double wr2,
                                                        double wi2) {
  const int h = n / 2, q = n / 4;
  const __m256d wr = _mm256_set1_pd(wr2), wi = _mm256_set1_pd(wi2);
  const __m256d zero = _mm256_setzero_pd();
  for (int i = 0; i < q; i += 4) {
    const __m256d a = _mm256_loadu_pd(re + i), b = _mm256_loadu_pd(re + i + q);
    const __m256d c = _mm256_loadu_pd(re + i + h), d = _mm256_loadu_pd(re + i + h + q);
    const __m256d a1 = _mm256_add_pd(a, c), c1 = _mm256_sub_pd(a, c);
    const __m256d b1 = _mm256_add_pd(b, d), d1 = _mm256_sub_pd(b, d);
    const __m256d tr = _mm256_mul_pd(d1, wr), ti = _mm256_mul_pd(d1, wi);
    _mm256_storeu_pd(re + i, _mm256_add_pd(a1, b1));
    _mm256_storeu_pd(re + i + q, _mm256_sub_pd(a1, b1));
    _mm256_storeu_pd(re + i + h, _mm256_add_pd(c1, tr));
    _mm256_storeu_pd(re + i + h + q, _mm256_sub_pd(c1, tr));
    _mm256_storeu_pd(im + i, zero);
    _mm256_storeu_pd(im + i + q, zero);
    _mm256_storeu_pd(im + i + h, ti);
    _mm256_storeu_pd(im + i + h + q, _mm256_sub_pd(zero, ti));
  }
}

// The last three stages (c = 4, 2, 1) on each group of eight values in registers.
// Stage 2 works on pairs of blocks (lanes from LowHalves/HighHalves), stage 1 on
// blocks 0, 2, 1, 3 of each group of four (lanes from unpacklo/unpackhi); the lane
// twiddle tables are laid out to match. With lastHalf only the lower outputs of the
// real part are computed in the last stage (the inverse reads nothing else).
__attribute__((target("avx2"))) void StageLeafAvx2(double* re, double* im, int n, const double* w4r,
                                                   const double* w4i, const double* w2r,
                                                   const double* w2i, const double* w1r,
                                                   const double* w1i, bool lastHalf) {
  for (int p = 0, g = 0; p < n; p += 8, ++g) {
    __m256d ra = _mm256_loadu_pd(re + p), rb = _mm256_loadu_pd(re + p + 4);
    __m256d ia = _mm256_loadu_pd(im + p), ib = _mm256_loadu_pd(im + p + 4);
    Butterfly4(ra, ia, rb, ib, _mm256_set1_pd(w4r[g]), _mm256_set1_pd(w4i[g]));

    __m256d ri = LowHalves(ra, rb), rj = HighHalves(ra, rb);
    __m256d ii = LowHalves(ia, ib), ij = HighHalves(ia, ib);
    Butterfly4(ri, ii, rj, ij, _mm256_loadu_pd(w2r + 4 * g), _mm256_loadu_pd(w2i + 4 * g));
    ra = LowHalves(ri, rj);
    rb = HighHalves(ri, rj);
    ia = LowHalves(ii, ij);
    ib = HighHalves(ii, ij);

    ri = _mm256_unpacklo_pd(ra, rb);
    rj = _mm256_unpackhi_pd(ra, rb);
    ii = _mm256_unpacklo_pd(ia, ib);
    ij = _mm256_unpackhi_pd(ia, ib);
    const __m256d wr = _mm256_loadu_pd(w1r + 4 * g), wi = _mm256_loadu_pd(w1i + 4 * g);
    if (lastHalf) {
      const __m256d tr = _mm256_sub_pd(_mm256_mul_pd(rj, wr), _mm256_mul_pd(ij, wi));
      ri = _mm256_add_pd(ri, tr);
      _mm256_storeu_pd(re + p, _mm256_unpacklo_pd(ri, rj));
      _mm256_storeu_pd(re + p + 4, _mm256_unpackhi_pd(ri, rj));
      continue;
    }
    Butterfly4(ri, ii, rj, ij, wr, wi);
    _mm256_storeu_pd(re + p, _mm256_unpacklo_pd(ri, rj));
    _mm256_storeu_pd(re + p + 4, _mm256_unpackhi_pd(ri, rj));
    _mm256_storeu_pd(im + p, _mm256_unpacklo_pd(ii, ij));
    _mm256_storeu_pd(im + p + 4, _mm256_unpackhi_pd(ii, ij));
  }
}

#endif

// Element-wise loops of a frame, compiled for AVX2 and for the baseline and chosen
// at load time. Each element gets exactly the operations of the plain loop.
// Not under the thread sanitizer: the clones' resolver runs while the program is
// loaded, before the sanitizer is set up, and crashes there.
#if defined(ZUROKA_X86) && !defined(__SANITIZE_THREAD__)
#define ZUROKA_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZUROKA_CLONES
#endif

// Copies 2048 samples into re with the window applied; returns the sum of their
// magnitudes (integers: exact in any order).
// Sum of magnitudes of the frame's samples, and the windowed halves into re.
template <typename Sample>
inline std::int64_t WindowSamples(const Sample* x, const double* hann, double* re) {
  std::int64_t sum = 0;
  for (int i = 0; i < SFFT::N; ++i) {
    const std::int32_t v = x[i];
    sum += v < 0 ? -static_cast<std::int64_t>(v) : v;
    re[i] = static_cast<double>(v) * 0.5 * hann[i];
  }
  return sum;
}
ZUROKA_CLONES std::int64_t WindowFrame(const std::int16_t* x, const double* hann, double* re) {
  return WindowSamples(x, hann, re);
}
ZUROKA_CLONES std::int64_t WindowFrame(const std::int32_t* x, const double* hann, double* re) {
  return WindowSamples(x, hann, re);
}

// Power of each output position, r^2 + x^2 after the scaling by 1/2048.
ZUROKA_CLONES void Powers(const double* re, const double* im, double* out) {
  for (int k = 0; k < SFFT::N; ++k) {
    const double r = re[k] * kInvN;
    const double x = im[k] * kInvN;
    out[k] = r * r + x * x;
  }
}

}  // namespace

SFFT::SFFT() {
  try {
    Precompute();
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
#ifdef ZUROKA_X86
  __builtin_cpu_init();
  hasAvx2 = __builtin_cpu_supports("avx2");
#endif
  portable = !hasAvx2;
}

int SFFT::NoteOfFrequency(double hz) {
  const std::int32_t c = TruncToInt(1200 * std::log2(hz / 440) + 3300);
  return static_cast<int>((static_cast<std::int64_t>(c) + 50) / 100 + 36);
}

void SFFT::Precompute() {
  for (int i = 0; i < N; ++i) hann[i] = 1 - std::cos(2 * M_PI * i / N);

  // Replay the index bookkeeping of the transform once: it fixes each block's
  // twiddle exponent d and, at the end, the bit-reversal permutation.
  std::vector<std::int32_t> idx(N, 0);
  const double theta = 2 * M_PI / N;
  const int h = N / 2;
  for (int c = N / 2; c >= 1; c /= 2) {
    Stage s;
    s.c = c;
    for (int b = 0; b < N; b += 2 * c) {
      const std::int32_t d = idx[b] / 2;
      const std::int32_t e = d + h;
      s.wr.push_back(std::cos(theta * d));
      s.wiF.push_back(std::sin(-1 * theta * d));
      s.wiI.push_back(std::sin(+1 * theta * d));
      for (int i = b; i < b + c; ++i) {
        idx[i] = d;
        idx[i + c] = e;
      }
    }
    // Lane order: pairs of blocks (c == 2) or blocks 0, 2, 1, 3 of each group of
    // four (c == 1), as the vector butterflies load them.
    const int nb = N / (2 * c);
    if (c == 2) {
      for (int b = 0; b < nb; ++b) {
        for (int l = 0; l < 2; ++l) {
          s.lwr.push_back(s.wr[b]);
          s.lwiF.push_back(s.wiF[b]);
          s.lwiI.push_back(s.wiI[b]);
        }
      }
    } else if (c == 1) {
      static constexpr int kLane[4] = {0, 2, 1, 3};
      for (int g = 0; g < nb; g += 4) {
        for (int l = 0; l < 4; ++l) {
          s.lwr.push_back(s.wr[g + kLane[l]]);
          s.lwiF.push_back(s.wiF[g + kLane[l]]);
          s.lwiI.push_back(s.wiI[g + kLane[l]]);
        }
      }
    }
    stages.push_back(std::move(s));
  }
  std::copy(idx.begin(), idx.end(), bitrev.begin());

  for (int k = 0; k < zuroka::kBins; ++k) binNote[k] = NoteOfFrequency((k + 1) * zuroka::kBinHz);
  for (int q = 0; q < zuroka::kCepstrumLength; ++q) {
    quefNote[q] = NoteOfFrequency(static_cast<double>(zuroka::kSampleRate) / (q + 1));
  }
  for (int n = 0; n < kNoteTable; ++n) {
    Run qr{-1, 0, zuroka::kCepstrumLength - 1};
    for (int q = 0; q < zuroka::kCepstrumLength - 1; ++q) {
      if (quefNote[q] == n) {
        qr.first = q;
        while (q < zuroka::kCepstrumLength - 1 && quefNote[q] == n) {
          ++qr.length;
          ++q;
        }
        break;
      }
    }
    quefRun[n] = qr;

    Run br{-1, 0, 0};
    int j = 0;
    for (; j < zuroka::kBins; ++j) {
      if (br.first < 0) {
        if (binNote[j] == n) {
          br.first = j;
        } else if (binNote[j] > n) {
          break;
        }
      } else if (binNote[j] != n) {
        break;
      }
    }
    if (br.first >= 0) {
      br.length = j - br.first;
    } else {
      br.fallback = std::min(j, zuroka::kBins - 1);
    }
    binRun[n] = br;
  }
}

void SFFT::Butterflies(double* r, double* i, int sign, bool lastHalf, bool realInput) {
  std::size_t k = 0;
#ifdef ZUROKA_X86
  if (realInput && !portable) {
    const Stage& second = stages[1];
    StageFirstRealAvx2(r, i, N, second.wr[1], sign < 0 ? second.wiF[1] : second.wiI[1]);
    k = 2;
  }
#endif
  if (realInput && portable) std::fill(i, i + N, 0.0);
  for (; k < stages.size(); ++k) {
    const Stage& s = stages[k];
    const double* wis = sign < 0 ? s.wiF.data() : s.wiI.data();
    const bool last = lastHalf && s.c == 1;
#ifdef ZUROKA_X86
    if (!portable) {
      if (s.c >= 8 && k + 1 < stages.size()) {
        const Stage& t = stages[++k];
        StagePairAvx2(r, i, N, s.c, s.wr.data(), wis, t.wr.data(),
                      sign < 0 ? t.wiF.data() : t.wiI.data());
        continue;
      }
      if (s.c == 4 && k + 2 < stages.size()) {
        const Stage& two = stages[k + 1];
        const Stage& one = stages[k + 2];
        k += 2;
        StageLeafAvx2(r, i, N, s.wr.data(), wis, two.lwr.data(),
                      sign < 0 ? two.lwiF.data() : two.lwiI.data(), one.lwr.data(),
                      sign < 0 ? one.lwiF.data() : one.lwiI.data(), lastHalf);
        continue;
      }
    }
#endif
    int blk = 0;
    for (int b = 0; b < N; b += 2 * s.c, ++blk) {
      const double wr = s.wr[blk], wi = wis[blk];
      if (last) {
        r[b] = r[b] + (r[b + 1] * wr - i[b + 1] * wi);
        continue;
      }
      for (int m = b; m < b + s.c; ++m) Butterfly(r, i, m, m + s.c, wr, wi);
    }
  }
}

void SFFT::Transform(std::int32_t order, int sign) {
  // Only order 11 is ever asked for; the tables are built for it.
  if (order != zuroka::kTransformOrder) return;
  Butterflies(re.data(), im.data(), sign, false, false);
  if (sign < 0) {
    for (int k = 0; k < N; ++k) {
      re[k] = re[k] / N;
      im[k] = im[k] / N;
    }
  }
  for (int k = 0; k < N; ++k) {
    const int t = bitrev[k];
    if (t > k) {
      std::swap(re[k], re[t]);
      std::swap(im[k], im[t]);
    }
  }
}

std::int32_t SFFT::DBOfPower(double p) const {
  if (p == 0) return 0;
  const double m = std::sqrt(p);
  const double v = 0.05 * m;
  if (!(v > 0)) return 0;
  return TruncToInt(20 * std::log10(v));
}

std::int32_t SFFT::GetDB(int bin) const {
  if (bin < 0 || bin >= zuroka::kBins) return 0;
  const FrameResults& r = *frame;
  if (r.dbStamp[bin] != r.stamp) {
    r.db[bin] = DBOfPower(r.power[bin]);
    r.dbStamp[bin] = r.stamp;
  }
  return r.db[bin];
}

void SFFT::Analyze(const std::int32_t* samples, std::int32_t offset, std::int32_t order,
                   double dbRatio, double cpRatio) {
  assert(order == zuroka::kTransformOrder);
  (void)order;
  AnalyzeWindowed(WindowFrame(samples + offset, hann.data(), re.data()), dbRatio, cpRatio);
}

void SFFT::Analyze(const SSampleView& samples, std::int32_t offset, std::int32_t order,
                   double dbRatio, double cpRatio) {
  // The tables are built for order 11, the only order used.
  assert(order == zuroka::kTransformOrder);
  (void)order;
  std::int64_t sum;
  if (offset >= 0 && offset + N <= samples.stored) {
    sum = WindowFrame(samples.data + offset, hann.data(), re.data());
  } else {
    std::int32_t frame[N];
    for (int i = 0; i < N; ++i) frame[i] = samples[offset + i];
    sum = WindowFrame(frame, hann.data(), re.data());
  }
  AnalyzeWindowed(sum, dbRatio, cpRatio);
}

void SFFT::AnalyzeWindowed(std::int64_t sum, double dbRatio, double cpRatio) {
  FrameResults& r = *frame;
  const double v = 0.05 * static_cast<double>(sum);
  r.level = v > 0 ? TruncToInt(20 * std::log10(v)) : 0;

  // Forward transform, then the spectrum and the log power straight from the
  // bit-reversed output (position k holds bin bitrev[k]).
  Butterflies(re.data(), im.data(), -1, false, true);
  ++r.stamp;
  if (r.stamp == 0) {  // wrapped: no stale stamp may match
    r.dbStamp.fill(0);
    r.stamp = 1;
  }
  // Power of each bin in natural order. Dividing by 2048 is exact scaling by a power
  // of two, so the product gives the bits of the division.
  Powers(re.data(), im.data(), im.data());
  for (int k = 0; k < N; ++k) work[bitrev[k]] = im[k];
  double pmax = 0;
  bool anyZero = false;
  for (int k = 0; k < zuroka::kBins; ++k) {
    const double p = work[k];
    r.power[k] = p;
    pmax = p > pmax ? p : pmax;
    anyZero |= p == 0;
  }
  // Log power; bins 200..1023 are cleared before the inverse, so never computed.
  for (int k = 0; k < zuroka::kBandLimitFirst; ++k) work[k] = work[k] > 0 ? std::log(work[k]) : 0;
  std::fill(work.begin() + zuroka::kBandLimitFirst, work.begin() + zuroka::kBins, 0.0);
  for (int k = zuroka::kBins; k < N; ++k) work[k] = work[k] > 0 ? std::log(work[k]) : 0;
  // The largest dB belongs to the largest power; bins within a hair of it are
  // evaluated too, so that no rounding of log10 can hide a larger truncated value.
  if (pmax == 0) {
    r.maxDB = 0;
  } else {
    r.maxDB = anyZero ? 0 : std::numeric_limits<std::int32_t>::min();
    const double near = pmax * (1 - 1e-9);
    for (int k = 0; k < zuroka::kBins; ++k) {
      if (r.power[k] >= near) r.maxDB = std::max(r.maxDB, GetDB(k));
    }
  }

  // Inverse transform of the real log power; only cepstrum[0..1023] is read, which
  // sits at the even positions of the bit-reversed output.
  Butterflies(work.data(), im.data(), +1, true, true);
  for (int k = 0; k < N; k += 2) r.cepstrum[bitrev[k]] = work[k] * kInvN;

  r.maxCP = 0;
  for (int q = zuroka::kCepstrumMaxFirst; q < zuroka::kCepstrumLength; ++q) {
    if (r.cepstrum[q] > r.maxCP) r.maxCP = r.cepstrum[q];
  }
  r.DBThreshold = TruncToInt(r.maxDB * dbRatio);
  r.CPThreshold = r.maxCP * cpRatio;

  // Visiting every index is one branch-free pass; only the maxima are kept.
  const double* c = r.cepstrum.data();
  const double threshold = r.CPThreshold;
  int count = 0;
  for (int q = zuroka::kFirstScanIndex; q < zuroka::kScanEnd; ++q) {
    const double v = c[q];
    r.peaks[static_cast<std::size_t>(count)] = static_cast<std::int16_t>(q);
    count += (v > threshold) & (v > c[q - 1]) & (v > c[q + 1]);
  }
  r.peakCount = count;
}

int SFFT::NoteOfQuefrency(int q) const {
  if (q >= 0 && q < zuroka::kCepstrumLength) return quefNote[q];
  return NoteOfFrequency(static_cast<double>(zuroka::kSampleRate) / (q + 1));
}

int SFFT::QuefrencyOfNote(int note) const {
  if (note < 0 || note >= kNoteTable) return zuroka::kCepstrumLength - 1;
  const Run& r = quefRun[note];
  if (r.first < 0) return zuroka::kCepstrumLength - 1;
  const double* cepstrum = frame->cepstrum.data();
  int best = r.first;
  for (int q = r.first + 1; q < r.first + r.length; ++q) {
    if (cepstrum[q] > cepstrum[best]) best = q;
  }
  return best;
}

int SFFT::BinOfNote(int note) const {
  if (note < 0) return 0;
  if (note >= kNoteTable) return zuroka::kBins - 1;
  const Run& r = binRun[note];
  if (r.first < 0) return r.fallback;
  // Entry j describes bin j + 1; the last candidate stops at bin 1023.
  const int first = std::min(r.first + 1, zuroka::kBins - 1);
  const int last = std::min(r.first + r.length, zuroka::kBins - 1);
  int best = first;
  for (int b = first + 1; b <= last; ++b) {
    if (GetDB(b) > GetDB(best)) best = b;
  }
  return best;
}
