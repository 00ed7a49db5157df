#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <filesystem>

#include "SWavFile.h"
#include "TestFiles.h"

namespace {

// The first channel as a run reads it: the stored samples, then the padding.
std::vector<std::int32_t> Channel(SWavFile& w) {
  std::vector<std::int16_t> stored;
  EXPECT_TRUE(w.ReadAll(stored));
  std::vector<std::int32_t> out(stored.begin(), stored.end());
  out.resize(static_cast<std::size_t>(w.GetSampleCount()), w.GetPadValue());
  return out;
}

TEST(SWavFile, MonoAndStereoLayouts) {
  TempDir dir;
  WriteBytes(dir / "m.wav", WavBytes::Header(1, 16).Data({1, -2, 3, -32768, 32767}).Done());
  SWavFile w;
  ASSERT_EQ(w.Open(dir / "m.wav"), 1);
  EXPECT_EQ(w.GetSampleCount(), 5);
  EXPECT_EQ(Channel(w), (std::vector<std::int32_t>{1, -2, 3, -32768, 32767}));

  WriteBytes(dir / "s.wav", WavBytes::Header(2, 16).Data({10, -10, 20, -20, 30, -30}).Done());
  ASSERT_EQ(w.Open(dir / "s.wav"), 1);  // releases the first file's samples
  EXPECT_EQ(w.GetSampleCount(), 3);
  EXPECT_EQ(Channel(w), (std::vector<std::int32_t>{10, 20, 30}));
  EXPECT_EQ(w.GetInfoText(),
            "FileSize : 48bytes\nFileType : WAVEfile\nChannel : 2\nSamplesPerSec : 44100\n"
            "BytesPerSec : 176400\nBitsPerSample : 16\n");
}

TEST(SWavFile, LongFilesKeepEveryFirstChannelValueAcrossReadBlocks) {
  TempDir dir;
  // Far more values than one read block holds, and a count that ends mid-block.
  const int frames = 150001;
  std::vector<std::int16_t> mono(frames), stereo(2 * frames);
  for (int i = 0; i < frames; ++i) {
    mono[i] = static_cast<std::int16_t>(i * 7 - 30000);
    stereo[2 * i] = mono[i];
    stereo[2 * i + 1] = static_cast<std::int16_t>(-i);
  }
  SWavFile w;
  WriteBytes(dir / "m.wav", WavBytes::Header(1, 16).Data(mono).Done());
  ASSERT_EQ(w.Open(dir / "m.wav"), 1);
  EXPECT_EQ(Channel(w), std::vector<std::int32_t>(mono.begin(), mono.end()));
  WriteBytes(dir / "s.wav", WavBytes::Header(2, 16).Data(stereo).Done());
  ASSERT_EQ(w.Open(dir / "s.wav"), 1);
  EXPECT_EQ(Channel(w), std::vector<std::int32_t>(mono.begin(), mono.end()));
  // Cut short after a left value in a later block: the padding repeats it.
  stereo.resize(2 * 100000 + 1);
  WriteBytes(dir / "c.wav",
             WavBytes::Header(2, 16).Tag("data").U32(4 * frames).Samples(stereo).Done());
  ASSERT_EQ(w.Open(dir / "c.wav"), 1);
  const std::vector<std::int32_t> got = Channel(w);
  ASSERT_EQ(got.size(), static_cast<std::size_t>(frames));
  for (int i = 0; i <= 100000; ++i) ASSERT_EQ(got[i], mono[i]) << i;
  for (int i = 100001; i < frames; ++i) ASSERT_EQ(got[i], mono[100000]) << i;
}

TEST(SWavFile, ChunkWalk) {
  TempDir dir;
  SWavFile w;
  // An 18-byte format chunk: the data chunk is looked for at byte 38.
  WriteBytes(dir / "f18.wav", WavBytes::Header(1, 16, 44100, 18).Data({7, 8}).Done());
  ASSERT_EQ(w.Open(dir / "f18.wav"), 1);
  EXPECT_EQ(Channel(w), (std::vector<std::int32_t>{7, 8}));

  // One LIST chunk is skipped.
  auto list = WavBytes::Header(1, 16).Tag("LIST").U32(4).Tag("INFO").Data({5, 6, 7}).Done();
  WriteBytes(dir / "list.wav", list);
  ASSERT_EQ(w.Open(dir / "list.wav"), 1);
  EXPECT_EQ(Channel(w), (std::vector<std::int32_t>{5, 6, 7}));

  // A second foreign chunk is read as the data chunk: its size field is the data size.
  auto two = WavBytes::Header(1, 16).Tag("LIST").U32(0).Tag("fact").U32(4).U16(9).U16(10);
  WriteBytes(dir / "two.wav", two.Data({1}).Done());
  ASSERT_EQ(w.Open(dir / "two.wav"), 1);
  EXPECT_EQ(Channel(w), (std::vector<std::int32_t>{9, 10}));
}

TEST(SWavFile, RatesOtherThan44100AreAcceptedAndShown) {
  TempDir dir;
  WriteBytes(dir / "r.wav", WavBytes::Header(1, 16, 22050).Data({1, 2}).Done());
  SWavFile w;
  ASSERT_EQ(w.Open(dir / "r.wav"), 1);
  EXPECT_NE(w.GetInfoText().find("SamplesPerSec : 22050\n"), std::string::npos);
}

TEST(SWavFile, RefusedFilesKeepTheirHeaderForTheInformationText) {
  TempDir dir;
  SWavFile w;
  WriteBytes(dir / "8.wav", WavBytes::Header(1, 8).Tag("data").U32(4).U32(0).Done());
  EXPECT_EQ(w.Open(dir / "8.wav"), -3);
  EXPECT_EQ(w.GetFailure(), SWavFile::Failure::NotSixteenBit);
  EXPECT_NE(w.GetInfoText().find("BitsPerSample : 8\n"), std::string::npos);
  EXPECT_EQ(w.GetSampleCount(), 0);
  EXPECT_FALSE(w.IsLoaded());
  for (int bits : {24, 32}) {
    WriteBytes(dir / "x.wav", WavBytes::Header(2, bits).Tag("data").U32(0).Done());
    EXPECT_EQ(w.Open(dir / "x.wav"), -3) << bits;
  }
  WriteBytes(dir / "f.wav", WavBytes::Header(1, 32, 44100, 16, 3).Tag("data").U32(0).Done());
  EXPECT_EQ(w.Open(dir / "f.wav"), -3);
  EXPECT_EQ(w.GetFormatTag(), 3);
}

TEST(SWavFile, BadFilesFailCleanly) {
  TempDir dir;
  SWavFile w;
  EXPECT_EQ(w.Open(dir / "missing.wav"), -1);
  EXPECT_EQ(w.GetFailure(), SWavFile::Failure::Missing);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.wav"));
  EXPECT_EQ(w.Open(dir.path().string()), -1);
  EXPECT_EQ(w.GetFailure(), SWavFile::Failure::NotAFile);
  WriteBytes(dir / "empty.wav", {});
  EXPECT_EQ(w.Open(dir / "empty.wav"), -3);
  EXPECT_EQ(w.GetFailure(), SWavFile::Failure::Empty);
  auto full = WavBytes::Header(1, 16).Data({1, 2}).Done();
  WriteBytes(dir / "short.wav", {full.begin(), full.begin() + 30});
  EXPECT_EQ(w.Open(dir / "short.wav"), -3);
  EXPECT_EQ(w.GetFailure(), SWavFile::Failure::TooShort);
  WriteBytes(dir / "nodata.wav", {full.begin(), full.begin() + 40});
  EXPECT_EQ(w.Open(dir / "nodata.wav"), -3);
  std::vector<std::uint8_t> mp3(600, 0xFF);
  mp3[0] = 'I', mp3[1] = 'D', mp3[2] = '3';
  WriteBytes(dir / "song.wav", mp3);
  EXPECT_EQ(w.Open(dir / "song.wav"), -3);
  EXPECT_EQ(w.GetFailure(), SWavFile::Failure::NotWave);
  WriteBytes(dir / "neg.wav", WavBytes::Header(1, 16).Tag("data").U32(0x80000000u).U32(0).Done());
  EXPECT_EQ(w.Open(dir / "neg.wav"), -4);
  // A format size that points before the file start or past its end.
  WriteBytes(dir / "fmt.wav", WavBytes::Header(1, 16, 44100, 0xFFFFFF00u).Data({1}).Done());
  EXPECT_EQ(w.Open(dir / "fmt.wav"), -3);
  EXPECT_FALSE(w.IsLoaded());
}

TEST(SWavFile, FileHeldByAnotherIsRefused) {
  TempDir dir;
  WriteBytes(dir / "a.wav", WavBytes::Header(1, 16).Data({1, 2}).Done());
  const int fd = ::open((dir / "a.wav").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_SH), 0);
  SWavFile w;
  EXPECT_EQ(w.Open(dir / "a.wav"), -1);
  EXPECT_EQ(w.GetFailure(), SWavFile::Failure::NoAccess);
  ::close(fd);
  EXPECT_EQ(w.Open(dir / "a.wav"), 1);
}

TEST(SWavFile, ShortDataIsPaddedWithTheLastValueWithoutAllocatingIt) {
  TempDir dir;
  SWavFile w;
  // Mono: claims 6 samples, holds 3.
  WriteBytes(dir / "m.wav", WavBytes::Header(1, 16).Tag("data").U32(12).Samples({4, 5, 6}).Done());
  ASSERT_EQ(w.Open(dir / "m.wav"), 1);
  EXPECT_EQ(w.GetSampleCount(), 6);
  EXPECT_EQ(w.GetMissingSamples(), 3);
  EXPECT_EQ(Channel(w), (std::vector<std::int32_t>{4, 5, 6, 6, 6, 6}));
  // Stereo ending after a left value: the padding repeats it.
  WriteBytes(dir / "s.wav", WavBytes::Header(2, 16).Tag("data").U32(16).Samples({1, 2, 3}).Done());
  ASSERT_EQ(w.Open(dir / "s.wav"), 1);
  EXPECT_EQ(Channel(w), (std::vector<std::int32_t>{1, 3, 3, 3}));
  // No sample at all: zeros.
  WriteBytes(dir / "z.wav", WavBytes::Header(1, 16).Tag("data").U32(8).Done());
  ASSERT_EQ(w.Open(dir / "z.wav"), 1);
  EXPECT_EQ(Channel(w), (std::vector<std::int32_t>{0, 0, 0, 0}));
  // A header that claims 2 GB: the count stands, the memory is only what was read.
  WriteBytes(dir / "big.wav",
             WavBytes::Header(1, 16).Tag("data").U32(0x7FFFFFFEu).Samples({9, 8}).Done());
  ASSERT_EQ(w.Open(dir / "big.wav"), 1);
  EXPECT_EQ(w.GetSampleCount(), 0x3FFFFFFF);
  std::vector<std::int16_t> stored;
  ASSERT_TRUE(w.ReadAll(stored));
  EXPECT_EQ(stored, (std::vector<std::int16_t>{9, 8}));
  EXPECT_EQ(w.GetPadValue(), 8);
}

TEST(SWavFile, InformationTextBeforeAnyFile) {
  SWavFile w;
  EXPECT_EQ(w.GetInfoText(),
            "FileSize : 0bytes\nFileType : file\nChannel : 0\nSamplesPerSec : 0\n"
            "BytesPerSec : 0\nBitsPerSample : 0\n");
}

}  // namespace
