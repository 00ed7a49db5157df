#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <memory>

#include "ImportSignals.h"
#include "SDecodeAhead.h"
#include "SResampler.h"
#include "TestFiles.h"

using importtest::Melody;
using importtest::Round16;
using importtest::WriteSound;

namespace {

struct SndfileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using Sndfile = std::unique_ptr<SNDFILE, SndfileCloser>;

Sndfile OpenRead(const std::string& path, SF_INFO& info) {
  info = {};
  return Sndfile(sf_open(path.c_str(), SFM_READ, &info));
}

std::vector<std::int16_t> Drain(SDecodeAhead& d, std::size_t* frames = nullptr) {
  std::vector<std::int16_t> all;
  std::size_t read = 0;
  SDecodeAhead::Block b;
  while (d.Next(b)) {
    all.insert(all.end(), b.samples, b.samples + b.count);
    read += b.frames;
  }
  EXPECT_EQ(b.count, 0u);
  EXPECT_FALSE(d.Next(b));  // the end stays the end
  EXPECT_EQ(d.GetProblem(), SDecodeAhead::Problem::None);
  if (frames != nullptr) *frames = read;
  return all;
}

TEST(SDecodeAhead, FirstChannelInOrderWithAndWithoutAWorker) {
  TempDir dir;
  const auto ref = Round16(Melody(44100, 1.0));
  ASSERT_TRUE(WriteSound(dir / "a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 3, ref));
  for (bool ahead : {true, false}) {
    for (std::size_t block : {1u, 1000u, 65536u}) {
      SF_INFO info;
      Sndfile f = OpenRead(dir / "a.wav", info);
      ASSERT_TRUE(f);
      SDecodeAhead d(f.get(), info.channels, true, block, nullptr, ahead);
      const auto all = Drain(d);
      ASSERT_EQ(all.size(), ref.size()) << ahead << " " << block;
      for (std::size_t i = 0; i < ref.size(); ++i) {
        ASSERT_EQ(all[i], ref[i]) << i;
      }
    }
  }
}

// The worker resamples: however the file is split into blocks, with or without a
// worker, the samples are those of the whole buffer resampled at once.
TEST(SDecodeAhead, ResampledBlocksEqualTheWholeBufferResampled) {
  TempDir dir;
  const auto first = Round16(Melody(48000, 1.3));
  ASSERT_TRUE(WriteSound(dir / "a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, first));
  std::vector<std::int16_t> whole;
  ASSERT_EQ(SResampler::ResampleTo44100(first.data(), first.size(), 48000, whole), SResampler::kOk);
  ASSERT_EQ(whole.size(), SResampler::OutputLength(static_cast<std::int64_t>(first.size()), 48000));
  for (bool ahead : {true, false}) {
    for (std::size_t block : {7u, 4096u, 100000u}) {
      SF_INFO info;
      Sndfile f = OpenRead(dir / "a.wav", info);
      ASSERT_TRUE(f);
      SResampler r;
      ASSERT_EQ(r.Init(48000), SResampler::kOk);
      SDecodeAhead d(f.get(), info.channels, true, block, &r, ahead);
      std::size_t frames = 0;
      const auto all = Drain(d, &frames);
      EXPECT_EQ(frames, first.size());
      ASSERT_EQ(all, whole) << ahead << " " << block;
    }
  }
}

TEST(SDecodeAhead, FloatDataIsClippedAndNaNIsZero) {
  TempDir dir;
  const std::vector<double> v = {0.5, NAN, 3.0, -3.0, -0.25, INFINITY};
  ASSERT_TRUE(WriteSound(dir / "f.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, v));
  SF_INFO info;
  Sndfile f = OpenRead(dir / "f.wav", info);
  ASSERT_TRUE(f);
  SDecodeAhead d(f.get(), info.channels, false, 4, nullptr);
  EXPECT_EQ(Drain(d), (std::vector<std::int16_t>{16384, 0, 32767, -32768, -8192, 32767}));
}

TEST(SDecodeAhead, AnOwnerThatStopsEarlyDoesNotWaitForTheRest) {
  TempDir dir;
  ASSERT_TRUE(WriteSound(dir / "a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2,
                         Round16(Melody(48000, 5.0))));
  for (bool resample : {false, true}) {
    SF_INFO info;
    Sndfile f = OpenRead(dir / "a.flac", info);
    ASSERT_TRUE(f);
    SResampler r;
    ASSERT_EQ(r.Init(48000), SResampler::kOk);
    {
      // With a resampler, two workers: both stop, whichever is waiting for the other.
      SDecodeAhead d(f.get(), info.channels, true, 256, resample ? &r : nullptr);
      SDecodeAhead::Block b;
      ASSERT_TRUE(d.Next(b));
      d.Finish();
    }
    // The handle is the owner's again and reads on from where the worker stopped.
    std::vector<int> frames(2 * 256);
    EXPECT_EQ(sf_readf_int(f.get(), frames.data(), 256), 256) << resample;
  }
}

}  // namespace
