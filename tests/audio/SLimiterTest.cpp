// The synth's limiter: transparent below its ceiling, never above it, and smooth.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "AudioConstants.h"
#include "SLimiter.h"

namespace {

using namespace zuroka::audio;

constexpr int kRate = 44100;

SLimiter Make() {
  return SLimiter(kRate, kLimiterCeiling, kLimiterLookahead, kLimiterRelease, kLimiterMaxLookahead);
}

// Runs x through the limiter in blocks of 333 frames (both channels alike) and returns
// the output and the gain after each sample.
std::vector<float> Limit(SLimiter& limiter, std::vector<float> x,
                         std::vector<double>* gains = nullptr) {
  std::vector<float> right = x;
  for (std::size_t at = 0; at < x.size();) {
    const int n = static_cast<int>(std::min<std::size_t>(gains ? 1 : 333, x.size() - at));
    limiter.Process(x.data() + at, right.data() + at, n);
    if (gains) gains->push_back(limiter.GetGain());
    at += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(x, right) << "the channels were limited differently";
  return x;
}

TEST(Limiter, BelowTheCeilingTheOutputIsTheInputDelayedSampleForSample) {
  SLimiter limiter = Make();
  EXPECT_EQ(limiter.GetDelay(), static_cast<int>(std::lround(kLimiterLookahead * kRate)) - 1);
  std::mt19937 random(3);
  std::uniform_real_distribution<float> level(-0.85f, 0.85f);
  std::vector<float> x(20000);
  for (float& v : x) v = level(random);
  const std::vector<float> y = Limit(limiter, x);
  const auto d = static_cast<std::size_t>(limiter.GetDelay());
  for (std::size_t i = 0; i < d; ++i) ASSERT_EQ(y[i], 0.0f) << i;
  for (std::size_t i = d; i < x.size(); ++i) ASSERT_EQ(y[i], x[i - d]) << i;
  EXPECT_EQ(limiter.GetGain(), 1.0);
}

TEST(Limiter, NothingPassesTheCeilingNotEvenASingleSpikeOrAStepToFourTimesIt) {
  SLimiter limiter = Make();
  std::vector<float> x(kRate, 0.0f);
  x[1000] = 10.0f;  // a spike between silences
  x[1001] = -7.0f;
  for (std::size_t i = 5000; i < 30000; ++i) {  // a quiet tone that jumps to 4 x the ceiling
    const float a = i < 12000 ? 0.1f : 4.0f * kLimiterCeiling;
    x[i] = a * static_cast<float>(std::sin(2 * M_PI * 440 * static_cast<double>(i) / kRate));
  }
  const std::vector<float> y = Limit(limiter, x);
  float peak = 0;
  for (float v : y) peak = std::max(peak, std::fabs(v));
  EXPECT_LE(peak, kLimiterCeiling);
  EXPECT_GT(peak, 0.95f * kLimiterCeiling) << "the loud tone was limited far below the ceiling";
}

TEST(Limiter, TheGainRampsDownBeforeAPeakAndRecoversAfterIt) {
  SLimiter limiter = Make();
  // Silence, one loud half second at twice the ceiling, then a quiet tone.
  std::vector<float> x(2 * kRate, 0.0f);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double s = std::sin(2 * M_PI * 220 * static_cast<double>(i) / kRate);
    if (i >= 4410 && i < 4410 + kRate / 2) x[i] = static_cast<float>(2 * kLimiterCeiling * s);
    if (i >= 4410 + kRate / 2) x[i] = static_cast<float>(0.1 * s);
  }
  std::vector<double> gains;
  Limit(limiter, x, &gains);
  // A limiter without look-ahead would step from 1 to 0.5 between two samples.
  double largestStep = 0;
  for (std::size_t i = 1; i < gains.size(); ++i) {
    largestStep = std::max(largestStep, std::fabs(gains[i] - gains[i - 1]));
  }
  EXPECT_LT(largestStep, 0.5 / (limiter.GetDelay() / 2.0)) << "the gain steps";
  EXPECT_NEAR(gains[4410 + kRate / 4], 0.5, 0.02) << "the loud part is not brought to the ceiling";
  // Recovered: 63 % of the way back after one release time, nearly all after eight.
  const std::size_t end = 4410 + kRate / 2 + static_cast<std::size_t>(limiter.GetDelay());
  const auto release = static_cast<std::size_t>(kLimiterRelease * kRate);
  EXPECT_NEAR(gains[end + release], 1 - 0.5 * std::exp(-1.0), 0.03);
  EXPECT_GT(gains[end + 8 * release], 0.999);
}

}  // namespace
