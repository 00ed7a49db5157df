// Files the importer must refuse, each with its own reason, without crashing, without
// samples, and without allocating what a header merely claims.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "ImportSignals.h"
#include "SAudioImport.h"
#include "TestFiles.h"

using importtest::Melody;
using importtest::Round16;
using importtest::WriteSound;
using Failure = SAudioImport::Failure;

namespace {

constexpr int kRate = 44100;

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(gen());
  return b;
}

// A good file of the format, as bytes.
std::vector<std::uint8_t> GoodFile(const TempDir& dir, int format, int rate = kRate) {
  const std::string p = dir / "good.tmp";
  EXPECT_TRUE(WriteSound(p, format, rate, 2, Melody(rate, 1.0)));
  auto bytes = ReadBytes(p);
  std::filesystem::remove(p);
  return bytes;
}

// Ogg pages of a file: 27-byte header, segment table, body.
std::vector<std::vector<std::uint8_t>> OggPages(const std::vector<std::uint8_t>& d) {
  std::vector<std::vector<std::uint8_t>> pages;
  std::size_t i = 0;
  while (i + 27 <= d.size()) {
    const std::size_t segments = d[i + 26];
    std::size_t len = 27 + segments;
    for (std::size_t k = 0; k < segments; ++k) len += d[i + 27 + k];
    pages.emplace_back(d.begin() + static_cast<std::ptrdiff_t>(i),
                       d.begin() + static_cast<std::ptrdiff_t>(i + len));
    i += len;
  }
  return pages;
}

struct Refusal {
  std::int32_t result;
  Failure failure;
  std::string text;
  std::size_t capacity;
};

Refusal Try(const std::string& path) {
  SAudioImport im;
  const std::int32_t r = im.Import(path);
  EXPECT_TRUE(im.GetSamples().empty()) << path;
  EXPECT_FALSE(im.GetFailureText().empty()) << path;
  return {r, im.GetFailure(), im.GetFailureText(), im.GetSamples().capacity()};
}

TEST(SAudioImportBadFiles, NoFileToRead) {
  TempDir dir;
  Refusal r = Try(dir / "missing.wav");
  EXPECT_EQ(r.result, SAudioImport::kCannotOpen);
  EXPECT_EQ(r.failure, Failure::Missing);
  EXPECT_EQ(r.text, "no such file");
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.wav"));

  std::filesystem::create_directory(dir / "folder.flac");
  r = Try(dir / "folder.flac");
  EXPECT_EQ(r.result, SAudioImport::kCannotOpen);
  EXPECT_EQ(r.failure, Failure::NotAFile);

  WriteBytes(dir / "empty.mp3", {});
  r = Try(dir / "empty.mp3");
  EXPECT_EQ(r.result, SAudioImport::kRefused);
  EXPECT_EQ(r.failure, Failure::Empty);
}

TEST(SAudioImportBadFiles, LockedByAnotherHolder) {
  TempDir dir;
  ASSERT_TRUE(WriteSound(dir / "a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kRate, 1,
                         Round16(Melody(kRate, 0.5))));
  const int fd = ::open((dir / "a.flac").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const Refusal r = Try(dir / "a.flac");
  EXPECT_EQ(r.result, SAudioImport::kCannotOpen);
  EXPECT_EQ(r.failure, Failure::NoAccess);
  EXPECT_EQ(r.text, "cannot be opened (in use by another program)");
  ::close(fd);
  SAudioImport im;
  EXPECT_EQ(im.Import(dir / "a.flac"), SAudioImport::kImported);
}

TEST(SAudioImportBadFiles, NotAudioNamesTheFormatsThatAre) {
  TempDir dir;
  WriteBytes(dir / "notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
  Refusal r = Try(dir / "notes.txt");
  EXPECT_EQ(r.result, SAudioImport::kRefused);
  EXPECT_EQ(r.failure, Failure::Unsupported);
  EXPECT_EQ(r.text, std::string("not an audio format that can be read; supported formats: ") +
                        SAudioImport::kSupportedFormats);

  // Random bytes under an MP3 name, with and without an ID3 tag in front.
  for (unsigned seed : {1u, 2u, 3u}) {
    WriteBytes(dir / "noise.mp3", RandomBytes(20000, seed));
    r = Try(dir / "noise.mp3");
    EXPECT_EQ(r.result, SAudioImport::kRefused) << seed;
    auto tagged = RandomBytes(20000, seed);
    const std::uint8_t id3[] = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
    std::copy(std::begin(id3), std::end(id3), tagged.begin());
    WriteBytes(dir / "tagged.mp3", tagged);
    r = Try(dir / "tagged.mp3");
    EXPECT_NE(r.result, SAudioImport::kImported) << seed;
  }
}

TEST(SAudioImportBadFiles, AacAndM4aSayTheyAreNotRead) {
  TempDir dir;
  // An ADTS stream: sync word, MPEG-4, layer 00, then noise.
  std::vector<std::uint8_t> adts;
  for (int k = 0; k < 40; ++k) {
    const std::uint8_t frame[] = {0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC};
    adts.insert(adts.end(), std::begin(frame), std::end(frame));
    const auto noise = RandomBytes(150, static_cast<unsigned>(k));
    adts.insert(adts.end(), noise.begin(), noise.end());
  }
  WriteBytes(dir / "a.aac", adts);
  // An MP4 file begins with an ftyp box.
  std::vector<std::uint8_t> m4a = {0,   0,   0,   0x20, 'f', 't', 'y', 'p', 'M', '4', 'A',
                                   ' ', 0,   0,   0,    0,   'M', '4', 'A', ' ', 'm', 'p',
                                   '4', '2', 'i', 's',  'o', 'm', 0,   0,   0,   0};
  const auto body = RandomBytes(4000, 9);
  m4a.insert(m4a.end(), body.begin(), body.end());
  WriteBytes(dir / "a.m4a", m4a);
  for (const char* name : {"a.aac", "a.m4a"}) {
    const Refusal r = Try(dir / name);
    EXPECT_EQ(r.result, SAudioImport::kRefused) << name;
    EXPECT_EQ(r.failure, Failure::MpegFour) << name;
    EXPECT_EQ(r.text.rfind("AAC and MP4/M4A audio cannot be read; supported formats: WAV", 0), 0u)
        << r.text;
  }
}

TEST(SAudioImportBadFiles, TruncatedFlac) {
  TempDir dir;
  const auto good = GoodFile(dir, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000);
  // Cut in the middle of the audio, and inside the first audio frame.
  for (std::size_t keep : {good.size() / 2, std::size_t{100}}) {
    WriteBytes(dir / "cut.flac", {good.begin(), good.begin() + static_cast<std::ptrdiff_t>(keep)});
    const Refusal r = Try(dir / "cut.flac");
    EXPECT_EQ(r.result, SAudioImport::kDecodeError) << keep;
    EXPECT_EQ(r.failure, Failure::DecodeError) << keep;
    EXPECT_EQ(r.text.rfind("the audio data is damaged or cut short (", 0), 0u) << r.text;
  }
  // Cut inside the stream header.
  WriteBytes(dir / "head.flac", {good.begin(), good.begin() + 20});
  EXPECT_EQ(Try(dir / "head.flac").result, SAudioImport::kRefused);
}

TEST(SAudioImportBadFiles, FlacHeaderClaimingAnEnormousLength) {
  TempDir dir;
  auto bytes = GoodFile(dir, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  // STREAMINFO starts at byte 8; its total-samples field is the low 36 bits of bytes 18-25.
  ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "fLaC");
  bytes[21] |= 0x0F;
  for (int i = 22; i < 26; ++i) bytes[i] = 0xFF;
  WriteBytes(dir / "long.flac", bytes);
  const Refusal r = Try(dir / "long.flac");
  EXPECT_EQ(r.result, SAudioImport::kDecodeError);
  EXPECT_NE(r.text.find("of its 68719476735 frames"), std::string::npos) << r.text;
}

TEST(SAudioImportBadFiles, OggWithoutAudio) {
  TempDir dir;
  const auto pages = OggPages(GoodFile(dir, SF_FORMAT_OGG | SF_FORMAT_VORBIS));
  ASSERT_GE(pages.size(), 3u);
  // The identification, comment and setup headers, and no audio page.
  std::vector<std::uint8_t> headers;
  for (std::size_t k = 0; k < 2; ++k)
    headers.insert(headers.end(), pages[k].begin(), pages[k].end());
  WriteBytes(dir / "headers.ogg", headers);
  Refusal r = Try(dir / "headers.ogg");
  EXPECT_EQ(r.result, SAudioImport::kNoAudio);
  EXPECT_EQ(r.failure, Failure::NoAudio);
  EXPECT_EQ(r.text, "the file holds no audio");

  WriteBytes(dir / "first.ogg", pages[0]);
  r = Try(dir / "first.ogg");
  EXPECT_EQ(r.result, SAudioImport::kRefused);
  EXPECT_EQ(r.failure, Failure::Malformed);

  WriteBytes(dir / "noise.ogg", RandomBytes(5000, 4));
  EXPECT_EQ(Try(dir / "noise.ogg").result, SAudioImport::kRefused);
}

TEST(SAudioImportBadFiles, WavWithoutFrames) {
  TempDir dir;
  // A 24-bit header (the engine's reader refuses it) and an empty data chunk.
  WriteBytes(dir / "none.wav", WavBytes::Header(2, 24).Tag("data").U32(0).Done());
  const Refusal r = Try(dir / "none.wav");
  EXPECT_NE(r.result, SAudioImport::kImported);
  EXPECT_TRUE(r.failure == Failure::NoAudio || r.failure == Failure::Malformed);
}

TEST(SAudioImportBadFiles, SampleRateOutsideWhatCanBeAnalysed) {
  TempDir dir;
  std::vector<std::int16_t> s(1000, 100);
  WriteBytes(dir / "slow.wav", WavBytes::Header(1, 16, 500).Data(s).Done());
  const Refusal r = Try(dir / "slow.wav");
  EXPECT_EQ(r.result, SAudioImport::kRefused);
  EXPECT_EQ(r.failure, Failure::BadRate);
  EXPECT_EQ(r.text, "sample rate 500 Hz is outside 1000 to 768000 Hz");
}

TEST(SAudioImportBadFiles, DataSizeBeyondTheFileAllocatesOnlyWhatIsThere) {
  TempDir dir;
  // A 24-bit file whose data chunk claims 1 GB but holds one second.
  auto w = WavBytes::Header(1, 24).Tag("data").U32(1u << 30);
  for (int i = 0; i < kRate * 3; ++i) w.b.push_back(static_cast<std::uint8_t>(i));
  WriteBytes(dir / "short.wav", w.Done());
  SAudioImport im;
  ASSERT_EQ(im.Import(dir / "short.wav"), SAudioImport::kImported) << im.GetFailureText();
  EXPECT_EQ(im.GetSamples().size(), static_cast<std::size_t>(kRate));
  EXPECT_LT(im.GetSamples().capacity(), static_cast<std::size_t>(4 * kRate));
}

TEST(SAudioImportBadFiles, LongerThanTheEngineCountsIsRefusedAtOnce) {
  TempDir dir;
  // 16-bit mono at 8000 Hz, 4 GB of data: 2^31 frames, 11.8 billion samples at 44100 Hz.
  // The file is sparse, so it costs no disk; a decoder that tried would run for minutes.
  auto w = WavBytes::Header(1, 16, 8000).Tag("data").U32(0xFFFFFFF0u);
  WriteBytes(dir / "huge.wav", w.Done());
  std::filesystem::resize_file(dir / "huge.wav", 44 + 0xFFFFFFF0ull);
  SAudioImport im;
  EXPECT_EQ(im.Open(dir / "huge.wav"), SAudioImport::kTooLong);
  EXPECT_EQ(im.GetFailure(), Failure::TooLong);
  EXPECT_EQ(im.GetFailureText(),
            "longer than 13 h 31 min, the most that can be analysed (2147483647 samples at "
            "44100 Hz)");
  EXPECT_TRUE(im.GetSamples().empty());
}

// Damaged copies of good files of every container: refused or read, never a crash, and
// a refusal always says why.
TEST(SAudioImportBadFiles, DamagedCopiesOfEveryContainer) {
  TempDir dir;
  const int formats[] = {
      SF_FORMAT_WAV | SF_FORMAT_PCM_24,  SF_FORMAT_WAVEX | SF_FORMAT_FLOAT,
      SF_FORMAT_AIFF | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_24,
      SF_FORMAT_OGG | SF_FORMAT_VORBIS,  SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III,
  };
  std::mt19937 gen(7);
  for (int format : formats) {
    const auto good = GoodFile(dir, format);
    for (int k = 0; k < 12; ++k) {
      auto bad = good;
      if (k < 4) {
        bad.resize(bad.size() * static_cast<std::size_t>(k + 1) / 6);  // truncated
      } else {
        // A burst of random bytes, in the header for the first few.
        const std::size_t at = k < 8 ? gen() % 64 : gen() % bad.size();
        for (std::size_t i = at; i < std::min(bad.size(), at + 16); ++i) {
          bad[i] = static_cast<std::uint8_t>(gen());
        }
      }
      WriteBytes(dir / "bad", bad);
      SAudioImport im;
      const std::int32_t r = im.Import(dir / "bad");
      if (r == SAudioImport::kImported) {
        EXPECT_EQ(im.GetFailure(), Failure::None);
      } else {
        EXPECT_FALSE(im.GetFailureText().empty()) << std::hex << format << " " << k;
        EXPECT_TRUE(im.GetSamples().empty());
      }
    }
  }
}

}  // namespace
