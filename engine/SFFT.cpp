#include "SFFT.h"

#include <algorithm>
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
  std::exit(1);
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

// Stage with half block c >= 4: one twiddle per block, contiguous lanes.
__attribute__((target("avx2"))) void StageWideAvx2(double* re, double* im, int n, int c,
                                                   const double* wrs, const double* wis) {
  for (int b = 0, blk = 0; b < n; b += 2 * c, ++blk) {
    const __m256d wr = _mm256_set1_pd(wrs[blk]);
    const __m256d wi = _mm256_set1_pd(wis[blk]);
    for (int i = b; i < b + c; i += 4) {
      const int j = i + c;
      __m256d ri = _mm256_loadu_pd(re + i), ii = _mm256_loadu_pd(im + i);
      __m256d rj = _mm256_loadu_pd(re + j), ij = _mm256_loadu_pd(im + j);
      Butterfly4(ri, ii, rj, ij, wr, wi);
      _mm256_storeu_pd(re + i, ri);
      _mm256_storeu_pd(im + i, ii);
      _mm256_storeu_pd(re + j, rj);
      _mm256_storeu_pd(im + j, ij);
    }
  }
}

// Stage with c == 2: two blocks of four values per step; twiddles laid out per lane.
__attribute__((target("avx2"))) void StageTwoAvx2(double* re, double* im, int n,
                                                  const double* wrv, const double* wiv) {
  for (int p = 0, w = 0; p < n; p += 8, w += 4) {
    const __m256d ra = _mm256_loadu_pd(re + p), rb = _mm256_loadu_pd(re + p + 4);
    const __m256d ia = _mm256_loadu_pd(im + p), ib = _mm256_loadu_pd(im + p + 4);
    __m256d ri = _mm256_permute2f128_pd(ra, rb, 0x20), rj = _mm256_permute2f128_pd(ra, rb, 0x31);
    __m256d ii = _mm256_permute2f128_pd(ia, ib, 0x20), ij = _mm256_permute2f128_pd(ia, ib, 0x31);
    Butterfly4(ri, ii, rj, ij, _mm256_loadu_pd(wrv + w), _mm256_loadu_pd(wiv + w));
    _mm256_storeu_pd(re + p, _mm256_permute2f128_pd(ri, rj, 0x20));
    _mm256_storeu_pd(re + p + 4, _mm256_permute2f128_pd(ri, rj, 0x31));
    _mm256_storeu_pd(im + p, _mm256_permute2f128_pd(ii, ij, 0x20));
    _mm256_storeu_pd(im + p + 4, _mm256_permute2f128_pd(ii, ij, 0x31));
  }
}

// Stage with c == 1: four blocks of two values per step. With lastHalf only the
// lower outputs of the real part are computed (the inverse reads nothing else).
__attribute__((target("avx2"))) void StageOneAvx2(double* re, double* im, int n,
                                                  const double* wrv, const double* wiv,
                                                  bool lastHalf) {
  for (int p = 0, w = 0; p < n; p += 8, w += 4) {
    const __m256d ra = _mm256_loadu_pd(re + p), rb = _mm256_loadu_pd(re + p + 4);
    const __m256d ia = _mm256_loadu_pd(im + p), ib = _mm256_loadu_pd(im + p + 4);
    __m256d ri = _mm256_unpacklo_pd(ra, rb), rj = _mm256_unpackhi_pd(ra, rb);
    __m256d ii = _mm256_unpacklo_pd(ia, ib), ij = _mm256_unpackhi_pd(ia, ib);
    const __m256d wr = _mm256_loadu_pd(wrv + w), wi = _mm256_loadu_pd(wiv + w);
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

void SFFT::Butterflies(double* r, double* i, int sign, bool lastHalf) {
  for (const Stage& s : stages) {
    const double* wis = sign < 0 ? s.wiF.data() : s.wiI.data();
    const bool last = lastHalf && s.c == 1;
#ifdef ZUROKA_X86
    if (!portable) {
      if (s.c >= 4) {
        StageWideAvx2(r, i, N, s.c, s.wr.data(), wis);
        continue;
      }
      const double* lwi = sign < 0 ? s.lwiF.data() : s.lwiI.data();
      if (s.c == 2) {
        StageTwoAvx2(r, i, N, s.lwr.data(), lwi);
      } else {
        StageOneAvx2(r, i, N, s.lwr.data(), lwi, last);
      }
      continue;
    }
#endif
    int blk = 0;
    for (int b = 0; b < N; b += 2 * s.c, ++blk) {
      const double wr = s.wr[blk], wi = wis[blk];
      if (last) {
        r[b] = r[b] + (r[b + 1] * wr - i[b + 1] * wi);
        continue;
      }
      for (int k = b; k < b + s.c; ++k) Butterfly(r, i, k, k + s.c, wr, wi);
    }
  }
}

void SFFT::Transform(std::int32_t order, int sign) {
  // Only order 11 is ever asked for; the tables are built for it.
  if (order != zuroka::kTransformOrder) return;
  Butterflies(re.data(), im.data(), sign, false);
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
  if (dbStamp[bin] != frameStamp) {
    db[bin] = DBOfPower(power[bin]);
    dbStamp[bin] = frameStamp;
  }
  return db[bin];
}

void SFFT::Analyze(const std::int32_t* samples, std::int32_t offset, std::int32_t order,
                   double dbRatio, double cpRatio) {
  SSampleView v;
  v.data = samples;
  v.stored = offset + N;
  v.count = offset + N;
  Analyze(v, offset, order, dbRatio, cpRatio);
}

void SFFT::Analyze(const SSampleView& samples, std::int32_t offset, std::int32_t order,
                   double dbRatio, double cpRatio) {
  (void)order;  // the tables are built for order 11, the only order used
  samples.CopyTo(offset, N, re.data());

  double s = 0;
  for (int i = 0; i < N; ++i) s += std::fabs(re[i]);
  const double v = 0.05 * s;
  level = v > 0 ? TruncToInt(20 * std::log10(v)) : 0;

  for (int i = 0; i < N; ++i) re[i] = re[i] * 0.5 * hann[i];
  im.fill(0);

  // Forward transform, then the spectrum and the log power straight from the
  // bit-reversed output (position k holds bin bitrev[k]).
  Butterflies(re.data(), im.data(), -1, false);
  ++frameStamp;
  if (frameStamp == 0) {  // wrapped: no stale stamp may match
    dbStamp.fill(0);
    frameStamp = 1;
  }
  double pmax = 0;
  bool anyZero = false;
  for (int k = 0; k < N; ++k) {
    const int bin = bitrev[k];
    const double r = re[k] / N;
    const double x = im[k] / N;
    const double p = r * r + x * x;
    if (bin < zuroka::kBins) {
      power[bin] = p;
      if (p > pmax) pmax = p;
      if (p == 0) anyZero = true;
    }
    // Bins 200..1023 of the log power are cleared before the inverse: not computed.
    if (bin < zuroka::kBandLimitFirst || bin >= zuroka::kBins) {
      work[bin] = p > 0 ? std::log(p) : 0;
    } else {
      work[bin] = 0;
    }
  }
  // The largest dB belongs to the largest power; bins within a hair of it are
  // evaluated too, so that no rounding of log10 can hide a larger truncated value.
  if (pmax == 0) {
    maxDB = 0;
  } else {
    maxDB = anyZero ? 0 : std::numeric_limits<std::int32_t>::min();
    const double near = pmax * (1 - 1e-9);
    for (int k = 0; k < zuroka::kBins; ++k) {
      if (power[k] >= near) maxDB = std::max(maxDB, GetDB(k));
    }
  }

  // Inverse transform of the real log power; only cepstrum[0..1023] is read, which
  // sits at the even positions of the bit-reversed output.
  std::copy(work.begin(), work.end(), re.begin());
  im.fill(0);
  Butterflies(re.data(), im.data(), +1, true);
  for (int k = 0; k < N; k += 2) cepstrum[bitrev[k]] = re[k] * kInvN;

  maxCP = 0;
  for (int q = zuroka::kCepstrumMaxFirst; q < zuroka::kCepstrumLength; ++q) {
    if (cepstrum[q] > maxCP) maxCP = cepstrum[q];
  }
  DBThreshold = TruncToInt(maxDB * dbRatio);
  CPThreshold = maxCP * cpRatio;
}

int SFFT::NoteOfQuefrency(int q) const {
  if (q >= 0 && q < zuroka::kCepstrumLength) return quefNote[q];
  return NoteOfFrequency(static_cast<double>(zuroka::kSampleRate) / (q + 1));
}

int SFFT::QuefrencyOfNote(int note) const {
  if (note < 0 || note >= kNoteTable) return zuroka::kCepstrumLength - 1;
  const Run& r = quefRun[note];
  if (r.first < 0) return zuroka::kCepstrumLength - 1;
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
