#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <memory>

#include "ImportSignals.h"
#include "SDecodeAhead.h"
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

std::vector<float> Drain(SDecodeAhead& d) {
  std::vector<float> all;
  std::size_t n = 0;
  while (const float* p = d.Next(n)) {
    EXPECT_GT(n, 0u);
    all.insert(all.end(), p, p + n);
  }
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(d.Next(n), nullptr);  // the end stays the end
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
      SDecodeAhead d(f.get(), info.channels, true, block, ahead);
      const auto all = Drain(d);
      ASSERT_EQ(all.size(), ref.size()) << ahead << " " << block;
      for (std::size_t i = 0; i < ref.size(); ++i) {
        ASSERT_EQ(all[i], static_cast<float>(ref[i] / 32768.0)) << i;
      }
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
  SDecodeAhead d(f.get(), info.channels, false, 4);
  EXPECT_EQ(Drain(d), (std::vector<float>{0.5f, 0.0f, 1.0f, -1.0f, -0.25f, 1.0f}));
}

TEST(SDecodeAhead, AnOwnerThatStopsEarlyDoesNotWaitForTheRest) {
  TempDir dir;
  ASSERT_TRUE(WriteSound(dir / "a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2,
                         Round16(Melody(44100, 5.0))));
  SF_INFO info;
  Sndfile f = OpenRead(dir / "a.flac", info);
  ASSERT_TRUE(f);
  {
    SDecodeAhead d(f.get(), info.channels, true, 256);
    std::size_t n = 0;
    ASSERT_NE(d.Next(n), nullptr);
    d.Finish();
  }
  // The handle is the owner's again and reads on from where the worker stopped.
  std::vector<int> frames(2 * 256);
  EXPECT_EQ(sf_readf_int(f.get(), frames.data(), 256), 256);
}

}  // namespace
