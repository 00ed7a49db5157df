#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ExampleMelody.h"
#include "LiteralAnalyzer.h"
#include "SFFT.h"
#include "TestFiles.h"

namespace {

constexpr double kDB = 0.70;
constexpr double kCP = 0.60;

std::vector<std::int32_t> Sine(double hz, double amplitude, int n = 2048) {
  std::vector<std::int32_t> s(n);
  for (int t = 0; t < n; ++t) {
    s[t] = static_cast<std::int32_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * t / 44100)));
  }
  return s;
}

std::vector<std::int32_t> Harmonic220() {
  std::vector<std::int32_t> s(2048);
  for (int t = 0; t < 2048; ++t) {
    double v = 0;
    for (int h = 1; h <= 10; ++h) v += (3000.0 / h) * std::sin(2 * M_PI * 220 * h * t / 44100);
    s[t] = static_cast<std::int32_t>(std::lround(v));
  }
  return s;
}

bool SameBits(double a, double b) { return ::SameBits(&a, &b, 1); }

// Every result of the fast analyser equals the literal steps, bit for bit.
void ExpectMatchesLiteral(SFFT& fft, const std::vector<std::int32_t>& s, int offset) {
  static LiteralAnalyzer ref;
  fft.Analyze(s.data(), offset, 11, kDB, kCP);
  ref.Analyze(s.data(), offset, kDB, kCP);
  ASSERT_EQ(fft.GetLevel(), ref.level);
  ASSERT_EQ(fft.GetMaxDB(), ref.maxDB);
  for (int k = 0; k < 1024; ++k) ASSERT_EQ(fft.GetDB(k), ref.db[k]) << "bin " << k;
  for (int q = 0; q < 1024; ++q) {
    ASSERT_TRUE(SameBits(fft.GetCepstrum()[q], ref.cepstrum[q])) << "index " << q;
  }
  std::int32_t dbt;
  double cpt;
  fft.GetThresholds(dbt, cpt);
  EXPECT_EQ(dbt, ref.DBThreshold);
  EXPECT_TRUE(SameBits(cpt, ref.CPThreshold));
  EXPECT_TRUE(SameBits(fft.GetMaxCP(), ref.maxCP));
  // The candidate places: every strict local maximum above the threshold, in order.
  std::vector<int> want;
  for (int q = 20; q < 1023; ++q) {
    const double* c = ref.cepstrum;
    if (c[q] > ref.CPThreshold && c[q] > c[q - 1] && c[q] > c[q + 1]) want.push_back(q);
  }
  int count = -1;
  const std::int16_t* peaks = fft.GetPeaks(count);
  EXPECT_EQ(std::vector<int>(peaks, peaks + count), want);
}

TEST(SFFT, SilentFrameIsAllZero) {
  SFFT fft;
  std::vector<std::int32_t> s(2048, 0);
  fft.Analyze(s.data(), 0, 11, kDB, kCP);
  EXPECT_EQ(fft.GetLevel(), 0);
  EXPECT_EQ(fft.GetMaxDB(), 0);
  for (int k = 0; k < 1024; ++k) ASSERT_EQ(fft.GetDB(k), 0);
  for (int q = 0; q < 1024; ++q) ASSERT_EQ(fft.GetCepstrum()[q], 0.0);
  std::int32_t dbt;
  double cpt;
  fft.GetThresholds(dbt, cpt);
  EXPECT_EQ(dbt, 0);
  EXPECT_EQ(cpt, 0.0);
}

TEST(SFFT, SineAtBinCentre) {
  SFFT fft;
  const auto s = Sine(430.6640625, 10000);
  fft.Analyze(s.data(), 0, 11, kDB, kCP);
  EXPECT_EQ(fft.GetLevel(), 116);
  EXPECT_EQ(fft.GetDB(19), 35);
  EXPECT_EQ(fft.GetDB(20), 41);
  EXPECT_EQ(fft.GetDB(21), 35);
  EXPECT_EQ(fft.GetMaxDB(), 41);
  EXPECT_EQ(fft.BinOfNote(69), 20);
}

TEST(SFFT, HarmonicToneHasItsCepstrumPeakAtThePeriod) {
  SFFT fft;
  const auto s = Harmonic220();
  fft.Analyze(s.data(), 0, 11, kDB, kCP);
  const double* c = fft.GetCepstrum();
  int best = 21;
  for (int q = 21; q < 1024; ++q) {
    if (c[q] > c[best]) best = q;
  }
  EXPECT_EQ(best, 202);
  EXPECT_EQ(fft.NoteOfQuefrency(202), 57);
  EXPECT_EQ(fft.GetLevel(), 107);
  EXPECT_EQ(fft.GetMaxDB(), 31);
  std::int32_t dbt;
  double cpt;
  fft.GetThresholds(dbt, cpt);
  EXPECT_EQ(dbt, 21);
  EXPECT_EQ(fft.GetMaxCP(), c[202]);
}

TEST(SFFT, RatiosChangeOnlyTheThresholds) {
  SFFT a, b;
  const auto s = Harmonic220();
  a.Analyze(s.data(), 0, 11, 0.7, 0.6);
  b.Analyze(s.data(), 0, 11, 0.3, 1.0);
  for (int q = 0; q < 1024; ++q) ASSERT_TRUE(SameBits(a.GetCepstrum()[q], b.GetCepstrum()[q]));
  EXPECT_EQ(a.GetMaxDB(), b.GetMaxDB());
  std::int32_t dba, dbb;
  double cpa, cpb;
  a.GetThresholds(dba, cpa);
  b.GetThresholds(dbb, cpb);
  EXPECT_EQ(dba, static_cast<int>(31 * 0.7));
  EXPECT_EQ(dbb, static_cast<int>(31 * 0.3));
  EXPECT_EQ(cpb, a.GetMaxCP() * 1.0);
}

TEST(SFFT, NoteTables) {
  SFFT fft;
  EXPECT_EQ(SFFT::NoteOfFrequency(440), 69);
  EXPECT_EQ(SFFT::NoteOfFrequency(261.63), 60);
  EXPECT_EQ(SFFT::NoteOfFrequency(21.533203125), 18);
  EXPECT_EQ(fft.NoteOfQuefrency(0), 149);
  EXPECT_EQ(fft.NoteOfQuefrency(20), 96);
  EXPECT_EQ(fft.NoteOfQuefrency(1022), 30);
  const int head[] = {18, 30, 36, 41, 45, 48, 50, 53, 55, 57, 58};
  for (int j = 0; j < 11; ++j) EXPECT_EQ(SFFT::NoteOfFrequency((j + 1) * 21.533203125), head[j]);
  EXPECT_EQ(SFFT::NoteOfFrequency(1024 * 21.533203125), 137);
}

TEST(SFFT, QuefrencyRunsAndFallbacks) {
  SFFT fft;
  const auto s = Harmonic220();
  fft.Analyze(s.data(), 0, 11, kDB, kCP);
  EXPECT_EQ(fft.QuefrencyOfNote(96), 20);
  const int q69 = fft.QuefrencyOfNote(69);
  EXPECT_GE(q69, 97);
  EXPECT_LE(q69, 102);
  const int q30 = fft.QuefrencyOfNote(30);
  EXPECT_GE(q30, 981);
  EXPECT_LE(q30, 1022);
  EXPECT_EQ(fft.QuefrencyOfNote(29), 1023);
  EXPECT_EQ(fft.QuefrencyOfNote(-5), 1023);
  EXPECT_EQ(fft.QuefrencyOfNote(105), 1023);  // a high note without an index
  EXPECT_EQ(fft.QuefrencyOfNote(57), 202);    // the largest value of its run
  // Notes without a bin take the highest bin of a lower note; past the table, 1023.
  EXPECT_EQ(fft.BinOfNote(40), 3);
  EXPECT_EQ(fft.BinOfNote(5), 0);
  EXPECT_EQ(fft.BinOfNote(200), 1023);
  EXPECT_LE(fft.BinOfNote(137), 1023);
  EXPECT_EQ(fft.GetDB(1024), 0);
  EXPECT_EQ(fft.GetDB(-1), 0);
}

TEST(SFFT, FastPathMatchesTheLiteralStepsBitForBit) {
  SFFT fft;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> full(-32768, 32767), quiet(-3, 3);
  std::vector<std::int32_t> s(4096);
  for (int round = 0; round < 6; ++round) {
    for (auto& v : s) v = round % 2 ? full(rng) : quiet(rng);
    ExpectMatchesLiteral(fft, s, round * 300);
  }
  const auto tune = zuroka::SynthesizeMelody(zuroka::ExampleTune(3));
  std::vector<std::int32_t> t(tune.begin(), tune.end());
  for (int off = 0; off + 2048 < static_cast<int>(t.size()); off += 9 * 1024) {
    ExpectMatchesLiteral(fft, t, off);
  }
  ExpectMatchesLiteral(fft, Harmonic220(), 0);
  ExpectMatchesLiteral(fft, Sine(430.6640625, 10000), 0);
  std::vector<std::int32_t> impulse(2048, 0);
  impulse[700] = 32767;
  ExpectMatchesLiteral(fft, impulse, 0);
  std::vector<std::int32_t> dc(2048, 1000);
  ExpectMatchesLiteral(fft, dc, 0);
}

TEST(SFFT, VectorAndPortableButterfliesGiveTheSameBytes) {
  SFFT vec, port;
  port.ForcePortable(true);
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> d(-32768, 32767);
  std::vector<std::int32_t> s(2048);
  for (int round = 0; round < 8; ++round) {
    for (auto& v : s) v = d(rng);
    vec.Analyze(s.data(), 0, 11, kDB, kCP);
    port.Analyze(s.data(), 0, 11, kDB, kCP);
    ASSERT_TRUE(::SameBits(vec.GetCepstrum(), port.GetCepstrum(), 1024));
    for (int k = 0; k < 1024; ++k) ASSERT_EQ(vec.GetDB(k), port.GetDB(k));
    // The public transform too, both directions.
    for (int i = 0; i < 2048; ++i) {
      vec.re[i] = port.re[i] = s[i];
      vec.im[i] = port.im[i] = s[2047 - i];
    }
    const int sign = round % 2 ? 1 : -1;
    vec.Transform(11, sign);
    port.Transform(11, sign);
    ASSERT_TRUE(::SameBits(vec.re.data(), port.re.data(), vec.re.size()));
    ASSERT_TRUE(::SameBits(vec.im.data(), port.im.data(), vec.im.size()));
  }
}

TEST(SFFT, TransformIsTheDiscreteFourierTransform) {
  SFFT fft;
  fft.ForcePortable(true);
  fft.re.fill(0);
  fft.im.fill(0);
  fft.re[3] = 1;  // an impulse at t = 3
  fft.Transform(11, -1);
  for (int k = 0; k < 2048; k += 97) {
    EXPECT_NEAR(fft.re[k], std::cos(-2 * M_PI * k * 3 / 2048) / 2048, 1e-15);
    EXPECT_NEAR(fft.im[k], std::sin(-2 * M_PI * k * 3 / 2048) / 2048, 1e-15);
  }
  fft.Transform(11, +1);  // back, unscaled
  for (int t = 0; t < 2048; ++t) EXPECT_NEAR(fft.re[t], t == 3 ? 1.0 : 0.0, 1e-12);
}

}  // namespace
