// Streamed WAV playback in a sink: files longer than the ring arrive sample for sample
// (or as the resampler makes them in one piece), and a file that is deleted or changed
// while it plays keeps playing or stops cleanly.
#include <gtest/gtest.h>
#include <samplerate.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "AudioConstants.h"
#include "AudioTestSupport.h"
#include "SAudioOutput.h"
#include "SMediaPlayer.h"

namespace {

constexpr double kSilence = 1e-4;

// Seconds of stereo noise that is never zero, distinct left and right.
std::vector<std::int16_t> Noise(double seconds, int rate, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> level(-20000, 20000);
  std::vector<std::int16_t> s(static_cast<std::size_t>(seconds * rate) * 2);
  for (std::int16_t& v : s) {
    do v = static_cast<std::int16_t>(level(random));
    while (v == 0);
  }
  return s;
}

class WavStream : public ::testing::Test {
 protected:
  std::shared_ptr<SAudioOutput> sink = std::make_shared<SAudioOutput>(SAudioOutput::Mode::Sink);
  SMediaPlayer player{sink};
  TempDir dir;
};

TEST_F(WavStream, AFileLongerThanTheRingArrivesSampleForSampleToItsEnd) {
  // More than twice the ring, so that it is refilled while it plays.
  const double seconds = 2.5 * zuroka::audio::kWavRingFrames / kRate;
  const std::vector<std::int16_t> noise = Noise(seconds, kRate, 1);
  const std::string path = dir / "long.wav";
  ASSERT_TRUE(WriteWav16(path, noise, 2, kRate));
  player.SetFileName(path);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  player.Play();
  const Stereo out = RenderSeconds(*sink, seconds + 0.2);
  const std::size_t frames = noise.size() / 2;
  for (std::size_t i = 0; i < frames; ++i) {
    ASSERT_EQ(out.left[i], noise[2 * i] / 32768.0f) << "frame " << i;
    ASSERT_EQ(out.right[i], noise[2 * i + 1] / 32768.0f) << "frame " << i;
  }
  EXPECT_LT(Peak(out.left, frames, out.Size()), kSilence) << "sound after the end";
  EXPECT_FALSE(player.IsPlaying());
}

TEST_F(WavStream, AResampledLongFileIsWhatTheResamplerMakesOfItInOnePiece) {
  constexpr int kFileRate = 32000;
  const double seconds = 1.2 * zuroka::audio::kWavRingFrames / kRate;
  const std::vector<std::int16_t> noise = Noise(seconds, kFileRate, 2);
  const std::string path = dir / "long32k.wav";
  ASSERT_TRUE(WriteWav16(path, noise, 2, kFileRate));

  std::vector<float> in(noise.size());
  for (std::size_t i = 0; i < noise.size(); ++i) in[i] = noise[i] / 32768.0f;
  std::vector<float> expected(static_cast<std::size_t>((seconds + 0.1) * kRate) * 2);
  SRC_DATA d{};
  d.data_in = in.data();
  d.input_frames = static_cast<long>(in.size() / 2);
  d.data_out = expected.data();
  d.output_frames = static_cast<long>(expected.size() / 2);
  d.src_ratio = static_cast<double>(kRate) / kFileRate;
  ASSERT_EQ(src_simple(&d, zuroka::audio::kResamplerType, 2), 0);

  player.SetFileName(path);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  player.Play();
  const Stereo out = RenderSeconds(*sink, seconds + 0.2);
  double worst = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(d.output_frames_gen); ++i) {
    worst = std::max(worst, std::fabs(static_cast<double>(out.left[i]) - expected[2 * i]));
    worst = std::max(worst, std::fabs(static_cast<double>(out.right[i]) - expected[2 * i + 1]));
  }
  EXPECT_LT(worst, 1e-5) << "the conversion in blocks differs from the one in one piece";
  EXPECT_FALSE(player.IsPlaying());
}

TEST_F(WavStream, AFileDeletedWhileItPlaysPlaysOnToItsEnd) {
  const std::vector<std::int16_t> noise = Noise(4.0, kRate, 3);
  const std::string path = dir / "gone.wav";
  ASSERT_TRUE(WriteWav16(path, noise, 2, kRate));
  player.SetFileName(path);
  ASSERT_TRUE(player.Open());
  player.Play();
  Stereo out = RenderSeconds(*sink, 0.5);
  ASSERT_TRUE(std::filesystem::remove(path));
  out.Append(RenderSeconds(*sink, 4.0));
  for (std::size_t i = 0; i < noise.size() / 2; ++i) {
    ASSERT_EQ(out.left[i], noise[2 * i] / 32768.0f) << "frame " << i;
  }
  EXPECT_FALSE(player.IsPlaying());
  player.Stop();
  player.Close();
}

TEST_F(WavStream, AFileChangedOrCutShortWhileItPlaysStopsCleanlyAndCanBeOpenedAgain) {
  const std::vector<std::int16_t> noise = Noise(6.0, kRate, 4);
  for (const bool truncate : {false, true}) {
    SCOPED_TRACE(truncate ? "cut short" : "overwritten");
    const std::string path = dir / "changing.wav";
    ASSERT_TRUE(WriteWav16(path, noise, 2, kRate));
    player.SetFileName(path);
    ASSERT_TRUE(player.Open());
    player.Play();
    const Stereo before = RenderSeconds(*sink, 0.5);
    EXPECT_GT(Peak(before.left, 0, before.Size()), 0.1);
    if (truncate) {
      ASSERT_EQ(::truncate(path.c_str(), 20000), 0);
    } else {
      // Another program writes other sound into the same file, in place.
      std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(100000);
      const std::vector<char> other(400000, 0x55);
      f.write(other.data(), static_cast<std::streamsize>(other.size()));
    }
    // At most the ring's worth of what was decoded before plays on, then a fade.
    const Stereo after = RenderSeconds(*sink, 4.0);
    EXPECT_FALSE(player.IsPlaying());
    EXPECT_LT(Peak(after.left, after.Size() - Frames(0.5), Frames(0.5)), kSilence);
    std::size_t last = 0;
    for (std::size_t i = 0; i < after.Size(); ++i) {
      if (after.left[i] != 0.0f) last = i;
    }
    EXPECT_LT(last, static_cast<std::size_t>(zuroka::audio::kWavRingFrames))
        << "it went on playing the changed file";
    // Nothing of the other program's bytes was played: what sounded is the file as opened.
    const std::size_t played = Frames(0.5) + last + 1;
    for (std::size_t i = Frames(0.5); i + zuroka::audio::kWavFadeFrames < played; ++i) {
      ASSERT_EQ(after.left[i - Frames(0.5)], noise[2 * i] / 32768.0f) << "frame " << i;
    }
    player.Close();
    // Opened again, the file is played as it now is (or refused when it is no sound).
    player.SetFileName(path);
    if (player.Open()) {
      player.Play();
      RenderSeconds(*sink, 0.5);
    }
    player.Close();
  }
}

}  // namespace
