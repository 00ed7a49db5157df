#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

// The frame analysis written step by step exactly as the algorithm reads, with no
// precomputed table and no skipped work: the reference the fast analyser must match
// bit for bit.
struct LiteralAnalyzer {
  static constexpr int N = 2048;
  double re[N];
  double im[N];
  double cepstrum[1024];
  double maxCP = 0;
  int db[1024];
  int maxDB = 0;
  int level = 0;
  int binNote[1024];
  int DBThreshold = 0;
  double CPThreshold = 0;

  static int NoteOfFrequency(double f) {
    const int c = static_cast<int>(1200 * std::log2(f / 440) + 3300);
    return (c + 50) / 100 + 36;
  }

  void Transform(int n, int sign) {
    int size = 1;
    for (int k = 0; k < n; ++k) size *= 2;
    std::vector<int> idx(size, 0);
    const double theta = 2 * M_PI / size;
    const int h = size / 2;
    for (int c = size / 2; c >= 1; c /= 2) {
      for (int b = 0; b < size; b += 2 * c) {
        const int d = idx[b] / 2;
        const int e = d + h;
        const double wr = std::cos(theta * d);
        const double wi = std::sin(sign * theta * d);
        for (int i = b; i < b + c; ++i) {
          const int j = i + c;
          const double tr = re[j] * wr - im[j] * wi;
          const double ti = im[j] * wr + re[j] * wi;
          re[j] = re[i] - tr;
          im[j] = im[i] - ti;
          re[i] = re[i] + tr;
          im[i] = im[i] + ti;
          idx[i] = d;
          idx[j] = e;
        }
      }
    }
    if (sign < 0) {
      for (int i = 0; i < size; ++i) {
        re[i] /= size;
        im[i] /= size;
      }
    }
    for (int i = 0; i < size; ++i) {
      const int k = idx[i];
      if (k > i) {
        std::swap(re[i], re[k]);
        std::swap(im[i], im[k]);
      }
    }
  }

  void Analyze(const std::int32_t* samples, int offset, double dbRatio, double cpRatio) {
    for (int i = 0; i < N; ++i) re[i] = samples[offset + i];
    double s = 0;
    for (int i = 0; i < N; ++i) s += std::fabs(re[i]);
    const double v = 0.05 * s;
    level = v > 0 ? static_cast<int>(20 * std::log10(v)) : 0;
    for (int i = 0; i < N; ++i) re[i] = re[i] * 0.5 * (1 - std::cos(2 * M_PI * i / 2048));
    for (int i = 0; i < N; ++i) im[i] = 0;
    Transform(11, -1);
    for (int k = 0; k < 1024; ++k) {
      const double m = std::sqrt(re[k] * re[k] + im[k] * im[k]);
      db[k] = m != 0 ? static_cast<int>(20 * std::log10(0.05 * m)) : 0;
      binNote[k] = NoteOfFrequency((k + 1) * 21.533203125);
    }
    maxDB = db[0];
    for (int k = 1; k < 1024; ++k) maxDB = std::max(maxDB, db[k]);
    for (int k = 0; k < N; ++k) {
      const double p = re[k] * re[k] + im[k] * im[k];
      re[k] = p > 0 ? std::log(p) : 0;
    }
    for (int k = 200; k < 1024; ++k) re[k] = 0;
    for (int k = 0; k < N; ++k) im[k] = 0;
    Transform(11, +1);
    for (int q = 0; q < 1024; ++q) {
      re[q] *= 0.00048828125;
      im[q] *= 0.00048828125;
      cepstrum[q] = re[q];
    }
    maxCP = 0;
    for (int q = 21; q < 1024; ++q) {
      if (cepstrum[q] > maxCP) maxCP = cepstrum[q];
    }
    DBThreshold = static_cast<int>(maxDB * dbRatio);
    CPThreshold = maxCP * cpRatio;
  }
};
