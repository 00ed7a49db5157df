#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>

#include "ImportConstants.h"
#include "ImportSignals.h"
#include "SAudioImport.h"
#include "SResampler.h"
#include "TestFiles.h"

using importtest::MaxDifference;
using importtest::Melody;
using importtest::Round16;

namespace {

constexpr int kRate = 44100;
constexpr int kResampledTolerance16 = 3;  // LSB, as for 16-bit files
constexpr int kAliasLimit = 2;            // LSB left of a tone the output cannot hold

std::vector<std::int16_t> Tone(double hz, double amplitude, int rate, std::size_t n) {
  std::vector<double> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = amplitude * std::sin(2 * M_PI * hz * i / rate);
  return Round16(v);
}

// The block rounding every import goes through equals the one-sample rounding, at the
// halves, the clipping edges, the specials and across the range.
TEST(SampleRounding, BlockAndSampleRoundingAgree) {
  std::vector<float> v = {0.0f,    -0.0f, NAN,   INFINITY, -INFINITY, 1e-40f,
                          -1e-40f, 1.0f,  -1.0f, 2.5f,     -2.5f,     std::nextafter(1.0f, 0.0f)};
  for (int k = -32770; k <= 32770; ++k) {
    for (float off : {-0.5f, 0.0f, 0.5f}) {
      const float x = (static_cast<float>(k) + off) / 32768.0f;
      v.push_back(x);
      v.push_back(std::nextafter(x, 2.0f));
      v.push_back(std::nextafter(x, -2.0f));
    }
  }
  std::uint32_t seed = 12345;
  for (int i = 0; i < 100000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    v.push_back(static_cast<float>(static_cast<std::int32_t>(seed)) / 2147483648.0f * 1.1f);
  }
  std::vector<std::int16_t> block(v.size());
  zuroka::ToSamples16(v.data(), v.size(), block.data());
  for (std::size_t i = 0; i < v.size(); ++i) {
    ASSERT_EQ(block[i], zuroka::ToSample16(static_cast<double>(v[i]) * zuroka::kFullScale)) << v[i];
  }
}

TEST(SResampler, LengthIsTheWholeSamplesOfTheDuration) {
  for (int rate : {8000, 11025, 22050, 32000, 44101, 48000, 96000, 192000}) {
    for (std::size_t n : {1u, 2u, 3u, 7u, 1001u, 12345u, 100000u}) {
      std::vector<std::int16_t> in(n, 1000);
      std::vector<std::int16_t> out;
      ASSERT_EQ(SResampler::ResampleTo44100(in.data(), n, rate, out), SResampler::kOk);
      const auto whole = static_cast<std::size_t>(static_cast<std::int64_t>(n) * kRate / rate);
      EXPECT_EQ(out.size(), whole) << rate << " " << n;
      EXPECT_EQ(SResampler::OutputLength(static_cast<std::int64_t>(n), rate),
                static_cast<std::int64_t>(whole));
    }
  }
  // 64-bit counts: ten days at 96 kHz.
  EXPECT_EQ(SResampler::OutputLength(82944000000LL, 96000), 38102400000LL);
}

TEST(SResampler, BlocksOfAnySizeGiveTheSameSamples) {
  const auto in = Round16(Melody(48000, 1.0));
  std::vector<std::int16_t> whole;
  ASSERT_EQ(SResampler::ResampleTo44100(in.data(), in.size(), 48000, whole), SResampler::kOk);
  for (std::size_t block : {1u, 100u, 777u, 4096u, 48000u}) {
    SResampler r;
    ASSERT_EQ(r.Init(48000), SResampler::kOk);
    std::vector<std::int16_t> out;
    std::vector<float> f(block);
    for (std::size_t i = 0; i < in.size(); i += block) {
      const std::size_t n = std::min(block, in.size() - i);
      for (std::size_t k = 0; k < n; ++k) f[k] = static_cast<float>(in[i + k] / 32768.0);
      ASSERT_EQ(r.Process(f.data(), n, out), SResampler::kOk);
    }
    ASSERT_EQ(r.Finish(out), SResampler::kOk);
    EXPECT_EQ(out, whole) << block;
  }
}

TEST(SResampler, MelodyAtEveryRateMatchesItsSamplesAt44100) {
  const auto ref = Round16(Melody(kRate));
  for (int rate : {8000, 16000, 22050, 24000, 32000, 48000, 88200, 96000, 192000}) {
    const auto in = Round16(Melody(rate));
    std::vector<std::int16_t> out;
    ASSERT_EQ(SResampler::ResampleTo44100(in.data(), in.size(), rate, out), SResampler::kOk);
    ASSERT_EQ(out.size(), ref.size()) << rate;
    EXPECT_LE(MaxDifference(out, ref), kResampledTolerance16) << rate;
  }
}

TEST(SResampler, TonesAboveTheOutputNyquistFrequencyDoNotAlias) {
  for (auto [rate, hz] :
       {std::pair{48000, 23000.0}, std::pair{96000, 30000.0}, std::pair{192000, 60000.0}}) {
    const auto in = Tone(hz, 0.5, rate, static_cast<std::size_t>(rate));
    std::vector<std::int16_t> out;
    ASSERT_EQ(SResampler::ResampleTo44100(in.data(), in.size(), rate, out), SResampler::kOk);
    // The first and last milliseconds hold the filter's answer to the tone's hard start.
    const std::vector<std::int16_t> middle(out.begin() + 441, out.end() - 441);
    const std::vector<std::int16_t> silence(middle.size(), 0);
    EXPECT_LE(MaxDifference(middle, silence), kAliasLimit) << rate << " Hz, tone " << hz;
  }
}

TEST(SResampler, OvershootIsClippedNotWrapped) {
  // A full-scale square wave: the band-limited result rings past full scale at each edge.
  const int rate = 48000;
  const int half = 60;  // input samples per half period
  std::vector<std::int16_t> in(static_cast<std::size_t>(rate));
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = (i / half) % 2 ? -32768 : 32767;
  std::vector<std::int16_t> out;
  ASSERT_EQ(SResampler::ResampleTo44100(in.data(), in.size(), rate, out), SResampler::kOk);
  int checked = 0;
  for (std::size_t k = 100; k + 100 < out.size(); ++k) {
    const double t = static_cast<double>(k) * rate / kRate;  // input position
    const double phase = std::fmod(t, half);
    if (phase < 4 || phase > half - 4) continue;  // the edge itself
    const bool high = static_cast<long>(t / half) % 2 == 0;
    if (high) {
      EXPECT_GT(out[k], 28000) << k;
    } else {
      EXPECT_LT(out[k], -28000) << k;
    }
    ++checked;
  }
  EXPECT_GT(checked, 30000);
}

TEST(SResampler, SameRateIsACopyAndBadRatesAreRefused) {
  const auto in = Round16(Melody(kRate, 0.2));
  std::vector<std::int16_t> out = {1, 2, 3};
  ASSERT_EQ(SResampler::ResampleTo44100(in.data(), in.size(), kRate, out), SResampler::kOk);
  EXPECT_EQ(out, in);
  for (int rate : {0, -44100, 999, 768001}) {
    out = {1, 2, 3};
    EXPECT_EQ(SResampler::ResampleTo44100(in.data(), in.size(), rate, out), SResampler::kBadRate);
    EXPECT_TRUE(out.empty());
    SResampler r;
    EXPECT_EQ(r.Init(rate), SResampler::kBadRate);
    EXPECT_FALSE(r.GetError().empty());
    EXPECT_EQ(r.Process(nullptr, 0, out), SResampler::kFailed);
  }
  // A count whose result passes 2^31 - 1 samples is refused before anything is read.
  out = {1};
  EXPECT_EQ(SResampler::ResampleTo44100(in.data(), 50'000'000, 1000, out), SResampler::kTooLong);
  EXPECT_TRUE(out.empty());
}

// A 16-bit WAV at another rate takes two roads: the engine's reader and then
// ResampleTo44100, or the importer. Both give the same samples.
TEST(SResampler, AgreesWithTheImporterOnSixteenBitFiles) {
  TempDir dir;
  for (int rate : {22050, 48000}) {
    const auto in = Round16(Melody(rate));
    WriteBytes(dir / "r.wav", WavBytes::Header(1, 16, rate).Data(in).Done());
    SAudioImport im;
    ASSERT_EQ(im.Import(dir / "r.wav"), SAudioImport::kImported) << im.GetFailureText();
    std::vector<std::int16_t> out;
    ASSERT_EQ(SResampler::ResampleTo44100(in.data(), in.size(), rate, out), SResampler::kOk);
    EXPECT_EQ(out, im.GetSamples()) << rate;
  }
}

}  // namespace
