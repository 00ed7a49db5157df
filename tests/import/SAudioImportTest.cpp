#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "ImportSignals.h"
#include "SAudioImport.h"
#include "SResampler.h"
#include "TestFiles.h"

using importtest::MaxDifference;
using importtest::Melody;
using importtest::Round16;
using importtest::WriteSound;

namespace {

constexpr int kRate = 44100;
// 16-bit LSB: a file written from full-precision values, read back and rounded again.
constexpr int kRoundingTolerance = 1;
// One step of an 8-bit file in 16-bit units, less one.
constexpr int kEightBitTolerance = 255;
// Resampled against the melody sampled at 44100 Hz (measured: 2 for 16-bit sources,
// 1 for 24-bit and float ones).
constexpr int kResampledTolerance16 = 3;
constexpr int kResampledToleranceFine = 2;
// Lossy codecs: signal to difference at lag 0 (measured 30-38 dB), and how far the
// length may stray from the original's (one MP3 frame).
constexpr double kLossySnrDb = 20;
constexpr std::int64_t kLossyLengthTolerance = 1152;

double SnrDb(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& got) {
  double sig = 0, err = 0;
  for (std::size_t i = 0; i < std::min(ref.size(), got.size()); ++i) {
    const double e = static_cast<double>(got[i]) - ref[i];
    sig += static_cast<double>(ref[i]) * ref[i];
    err += e * e;
  }
  return 10 * std::log10(sig / std::max(err, 1e-9));
}

struct Format {
  const char* name;
  int format;
  int channels;
  const char* container;
  const char* sampleFormat;
};

std::ostream& operator<<(std::ostream& o, const Format& f) { return o << f.name; }

// ---- Lossless formats at 44100 Hz: the samples themselves come through.

const Format kLossless[] = {
    {"wav16_mono", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, "WAV", "16-bit PCM"},
    {"wav24_stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, "WAV", "24-bit PCM"},
    {"wav32_stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, "WAV", "32-bit PCM"},
    {"wavfloat_stereo", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, "WAV", "32-bit float"},
    {"wavdouble_mono", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, "WAV", "64-bit float"},
    {"wavex24_six", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 6, "WAV (extensible)", "24-bit PCM"},
    {"wavex16_stereo", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 2, "WAV (extensible)", "16-bit PCM"},
    {"aiff16_stereo", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, "AIFF", "16-bit PCM"},
    {"aiff24_mono", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1, "AIFF", "24-bit PCM"},
    {"flac16_mono", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, "FLAC", "16-bit PCM"},
    {"flac24_stereo", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, "FLAC", "24-bit PCM"},
};

class ImportLossless : public ::testing::TestWithParam<Format> {};

TEST_P(ImportLossless, SixteenBitValuesComeThroughExactly) {
  const Format& f = GetParam();
  TempDir dir;
  const auto ref = Round16(Melody(kRate));
  ASSERT_TRUE(WriteSound(dir / "a", f.format, kRate, f.channels, ref));
  SAudioImport im;
  ASSERT_EQ(im.Import(dir / "a"), SAudioImport::kImported) << im.GetFailureText();
  // The other channels hold a different tone: only the first may arrive.
  EXPECT_EQ(im.GetSamples(), ref);
  const SSourceFormat& s = im.GetSourceFormat();
  EXPECT_EQ(s.container, f.container);
  EXPECT_EQ(s.sampleFormat, f.sampleFormat);
  EXPECT_EQ(s.sampleRate, kRate);
  EXPECT_EQ(s.channels, f.channels);
  EXPECT_EQ(s.frames, static_cast<std::int64_t>(ref.size()));
  EXPECT_DOUBLE_EQ(s.Seconds(), importtest::kMelodySeconds);
  EXPECT_FALSE(im.WasResampled());
  EXPECT_EQ(im.GetFailure(), SAudioImport::Failure::None);
}

TEST_P(ImportLossless, FullPrecisionValuesAreRoundedToTheNearest) {
  const Format& f = GetParam();
  TempDir dir;
  const auto melody = Melody(kRate);
  ASSERT_TRUE(WriteSound(dir / "a", f.format, kRate, f.channels, melody));
  SAudioImport im;
  ASSERT_EQ(im.Import(dir / "a"), SAudioImport::kImported) << im.GetFailureText();
  const auto ref = Round16(melody);
  ASSERT_EQ(im.GetSamples().size(), ref.size());
  EXPECT_LE(MaxDifference(im.GetSamples(), ref), kRoundingTolerance);
}

INSTANTIATE_TEST_SUITE_P(Formats, ImportLossless, ::testing::ValuesIn(kLossless),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(SAudioImport, EightBitFilesKeepTheirSignAndScale) {
  // Unsigned in WAV, signed in AIFF: either way the top byte of each value returns.
  for (int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, SF_FORMAT_AIFF | SF_FORMAT_PCM_S8}) {
    TempDir dir;
    const auto ref = Round16(Melody(kRate));
    ASSERT_TRUE(WriteSound(dir / "a", format, kRate, 2, ref));
    SAudioImport im;
    ASSERT_EQ(im.Import(dir / "a"), SAudioImport::kImported) << im.GetFailureText();
    EXPECT_EQ(im.GetSourceFormat().sampleFormat, "8-bit PCM");
    ASSERT_EQ(im.GetSamples().size(), ref.size());
    EXPECT_LE(MaxDifference(im.GetSamples(), ref), kEightBitTolerance) << std::hex << format;
  }
}

// ---- Other rates: resampled to 44100 Hz, the same melody as sampled at 44100.

struct RateCase {
  Format format;
  int rate;
};

std::ostream& operator<<(std::ostream& o, const RateCase& c) {
  return o << c.format.name << "_" << c.rate;
}

class ImportRates : public ::testing::TestWithParam<RateCase> {};

TEST_P(ImportRates, ResampledToTheMelodyAt44100) {
  const RateCase& c = GetParam();
  TempDir dir;
  const auto melody = Melody(c.rate);
  ASSERT_TRUE(WriteSound(dir / "a", c.format.format, c.rate, c.format.channels, melody));
  SAudioImport im;
  ASSERT_EQ(im.Import(dir / "a"), SAudioImport::kImported) << im.GetFailureText();
  EXPECT_TRUE(im.WasResampled());
  EXPECT_EQ(im.GetSourceFormat().sampleRate, c.rate);
  EXPECT_EQ(im.GetSourceFormat().frames, static_cast<std::int64_t>(melody.size()));
  const auto ref = Round16(Melody(kRate));
  ASSERT_EQ(im.GetSamples().size(), ref.size());
  const bool sixteen = (c.format.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
  EXPECT_LE(MaxDifference(im.GetSamples(), ref),
            sixteen ? kResampledTolerance16 : kResampledToleranceFine);
}

std::vector<RateCase> RateCases() {
  const Format formats[] = {
      {"wav16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, "", ""},
      {"aiff16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, "", ""},
      {"flac24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, "", ""},
      {"wavfloat", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, "", ""},
      {"wavex24", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 2, "", ""},
  };
  std::vector<RateCase> cases;
  for (const Format& f : formats) {
    for (int rate : {22050, 32000, 48000, 96000}) cases.push_back({f, rate});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(FormatsAndRates, ImportRates, ::testing::ValuesIn(RateCases()),
                         [](const auto& i) {
                           return std::string(i.param.format.name) + "_" +
                                  std::to_string(i.param.rate);
                         });

// ---- Lossy codecs: the waveform survives closely enough, in time with the original.

class ImportLossy : public ::testing::TestWithParam<RateCase> {};

TEST_P(ImportLossy, CloseToTheOriginalAndInTime) {
  const RateCase& c = GetParam();
  TempDir dir;
  ASSERT_TRUE(WriteSound(dir / "a", c.format.format, c.rate, c.format.channels, Melody(c.rate)));
  SAudioImport im;
  ASSERT_EQ(im.Import(dir / "a"), SAudioImport::kImported) << im.GetFailureText();
  EXPECT_EQ(im.GetSourceFormat().container, c.format.container);
  EXPECT_EQ(im.GetSourceFormat().sampleFormat, c.format.sampleFormat);
  EXPECT_EQ(im.GetSourceFormat().bits, 0);
  const auto ref = Round16(Melody(kRate));
  EXPECT_NEAR(static_cast<double>(im.GetSamples().size()), static_cast<double>(ref.size()),
              kLossyLengthTolerance);
  // Encoder delay left in, or a wrong rate, would put the tones out of step.
  EXPECT_GE(SnrDb(ref, im.GetSamples()), kLossySnrDb);
}

std::vector<RateCase> LossyCases() {
  const Format mp3 = {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2, "MP3", "MPEG Layer III"};
  const Format vorbis = {"vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, "Ogg", "Vorbis"};
  const Format opus = {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 2, "Ogg", "Opus"};
  std::vector<RateCase> cases;
  for (int rate : {22050, 32000, 44100, 48000}) cases.push_back({mp3, rate});
  for (int rate : {22050, 32000, 44100, 48000, 96000}) cases.push_back({vorbis, rate});
  // Opus files are written at 48000 Hz only.
  cases.push_back({opus, 48000});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Codecs, ImportLossy, ::testing::ValuesIn(LossyCases()), [](const auto& i) {
  return std::string(i.param.format.name) + "_" + std::to_string(i.param.rate);
});

// ---- Values no 16-bit sample can hold.

TEST(SAudioImport, FloatValuesBeyondFullScaleAreClippedAndNaNIsSilence) {
  TempDir dir;
  const std::vector<double> v = {0.5,          NAN,         INFINITY,        -INFINITY,
                                 2.0,          -2.0,        32767.6 / 32768, -32768.6 / 32768,
                                 0.25 / 32768, 0.75 / 32768};
  ASSERT_TRUE(WriteSound(dir / "f.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, v));
  SAudioImport im;
  ASSERT_EQ(im.Import(dir / "f.wav"), SAudioImport::kImported) << im.GetFailureText();
  EXPECT_EQ(im.GetSamples(), (std::vector<std::int16_t>{16384, 0, 32767, -32768, 32767, -32768,
                                                        32767, -32768, 0, 1}));
}

TEST(SAudioImport, OneNaNDoesNotSilenceAResampledFile) {
  TempDir dir;
  auto melody = Melody(48000);
  melody[melody.size() / 2] = NAN;
  ASSERT_TRUE(WriteSound(dir / "f.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, melody));
  SAudioImport im;
  ASSERT_EQ(im.Import(dir / "f.wav"), SAudioImport::kImported) << im.GetFailureText();
  const auto ref = Round16(Melody(kRate));
  ASSERT_EQ(im.GetSamples().size(), ref.size());
  // The NaN becomes one zero sample, whose filtered echo is heard only around it.
  const std::size_t mid = ref.size() / 2;
  const std::vector<std::int16_t> lateRef(ref.begin() + mid + 2000, ref.end());
  const std::vector<std::int16_t> late(im.GetSamples().begin() + mid + 2000, im.GetSamples().end());
  EXPECT_LE(MaxDifference(late, lateRef), kResampledToleranceFine);
}

// ---- State between files.

TEST(SAudioImport, AFailedOpenForgetsTheFileBefore) {
  TempDir dir;
  const auto ref = Round16(Melody(kRate, 0.5));
  ASSERT_TRUE(WriteSound(dir / "a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kRate, 1, ref));
  SAudioImport im;
  ASSERT_EQ(im.Import(dir / "a.flac"), SAudioImport::kImported);
  EXPECT_EQ(im.Import(dir / "missing.flac"), SAudioImport::kCannotOpen);
  EXPECT_TRUE(im.GetSamples().empty());
  EXPECT_EQ(im.GetSourceFormat().sampleRate, 0);
  EXPECT_EQ(im.GetSourceFormat().frames, 0);

  ASSERT_EQ(im.Import(dir / "a.flac"), SAudioImport::kImported);
  const auto taken = im.TakeSamples();
  EXPECT_EQ(taken, ref);
  EXPECT_TRUE(im.GetSamples().empty());
  // Read without an open file refuses and changes nothing.
  EXPECT_EQ(im.Read(), SAudioImport::kRefused);
}

TEST(SAudioImport, OpenReadsTheHeaderAndReadTheSamples) {
  TempDir dir;
  const auto melody = Melody(48000, 1.0);
  ASSERT_TRUE(WriteSound(dir / "a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2, melody));
  SAudioImport im;
  ASSERT_EQ(im.Open(dir / "a.flac"), SAudioImport::kImported);
  EXPECT_EQ(im.GetSourceFormat().Describe(), "FLAC, 24-bit PCM, 48000 Hz, 2 channels, 1.00 s");
  EXPECT_TRUE(im.GetSamples().empty());
  // Locked while open, as the engine's reader locks its file.
  const int fd = ::open((dir / "a.flac").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(im.Read(), SAudioImport::kImported);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
  EXPECT_EQ(im.GetSamples().size(), 44100u);
}

TEST(SAudioImport, SamplesReportedDuringTheReadNeverChange) {
  // Resampled and not: a caller may analyse what is reported while the rest decodes.
  for (int rate : {44100, 48000}) {
    TempDir dir;
    ASSERT_TRUE(
        WriteSound(dir / "a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, rate, 2, Melody(rate)));
    SAudioImport im;
    std::vector<std::vector<std::int16_t>> seen;
    ASSERT_EQ(im.Import(dir / "a.flac",
                        [&](std::size_t ready) {
                          const auto& s = im.GetSamples();
                          ASSERT_EQ(ready, s.size());
                          seen.emplace_back(s.begin(), s.end());
                        }),
              SAudioImport::kImported);
    ASSERT_GT(seen.size(), 4u) << rate;
    EXPECT_EQ(seen.back(), im.GetSamples());
    for (std::size_t k = 1; k < seen.size(); ++k) {
      ASSERT_GT(seen[k].size(), seen[k - 1].size());
      EXPECT_TRUE(std::equal(seen[k - 1].begin(), seen[k - 1].end(), seen[k].begin())) << k;
    }
  }
}

TEST(SAudioImport, AnExceptionFromTheCallerAbandonsTheRead) {
  TempDir dir;
  ASSERT_TRUE(
      WriteSound(dir / "a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1, Melody(48000)));
  SAudioImport im;
  EXPECT_THROW(im.Import(dir / "a.flac", [](std::size_t) { throw std::runtime_error("stop"); }),
               std::runtime_error);
  EXPECT_TRUE(im.GetSamples().empty());
  // The file is closed and unlocked again.
  const int fd = ::open((dir / "a.flac").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

}  // namespace
