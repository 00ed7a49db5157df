// Recordings of every format and rate through the whole conversion: the road each
// takes, and the notes compared with those of the same melody as a 44.1 kHz 16-bit WAV.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "EngineConstants.h"
#include "ExampleMelody.h"
#include "ImportSignals.h"
#include "SEngine.h"
#include "SOpenRecording.h"
#include "TestFiles.h"

namespace {

constexpr double kSeconds = 8.0;

struct Note {
  int pitch, start;
};

// The notes of a conversion, by their start mark, in start order.
std::vector<Note> Notes(const SEngine& e) {
  std::vector<Note> notes;
  for (int r = 0; r < e.marks.GetRows(); ++r) {
    const std::uint8_t* m = e.marks.Row(r);
    for (int f = 0; f < e.marks.GetFrames(); ++f) {
      if (m[f] == zuroka::kNoteOnMark) notes.push_back({e.pitches.Row(r)[f], f});
    }
  }
  std::sort(notes.begin(), notes.end(), [](const Note& a, const Note& b) {
    return a.start != b.start ? a.start < b.start : a.pitch < b.pitch;
  });
  return notes;
}

struct Converted {
  SRecording rec;
  std::vector<Note> notes;
  int frames = 0;
};

Converted ConvertWhole(const std::string& file, bool literal = false) {
  SFixedSeam seam(60, 70, 3);
  SEngine engine(seam);
  Converted c;
  c.rec = OpenRecording(engine.wavFile, file, literal);
  if (!c.rec.Opened()) return c;
  SConvertRequest request;
  request.write = false;
  const SConversion run = engine.Convert(request);
  EXPECT_TRUE(run.Succeeded());
  c.frames = run.frames;
  c.notes = Notes(engine);
  return c;
}

// Notes of `got` with the pitch of a note of `want` and an onset within one frame of
// it, each note matched once.
int Matching(const std::vector<Note>& want, const std::vector<Note>& got, int tol = 1) {
  std::vector<bool> used(got.size(), false);
  int matched = 0;
  for (const Note& w : want) {
    for (std::size_t k = 0; k < got.size(); ++k) {
      if (!used[k] && got[k].pitch == w.pitch && std::abs(got[k].start - w.start) <= tol) {
        used[k] = true;
        ++matched;
        break;
      }
    }
  }
  return matched;
}

// Resampled samples differ from the melody sampled at 44100 Hz by about one 16-bit step.
// The melody's notes keep their pitch, but the weaker neighbouring notes the analysis
// also follows can start a few frames earlier or later: most notes within one frame,
// nearly all within three.
void ExpectNearlyTheNotes(const std::vector<Note>& want, const std::vector<Note>& got,
                          int withinOne, int withinThree) {
  const int n = static_cast<int>(want.size());
  EXPECT_GE(Matching(want, got) * 100, n * withinOne) << Matching(want, got) << " of " << n;
  EXPECT_GE(Matching(want, got, 3) * 100, n * withinThree) << Matching(want, got, 3) << " of " << n;
}

// The notes of the original that are the melody's own: the pitch the melody plays,
// starting within a few frames of where the melody's note starts. (The analysis also
// reports the semitones beside them; those are the weaker notes above.)
std::vector<Note> MelodysNotes(const std::vector<Note>& original) {
  std::vector<Note> own;
  constexpr double kFramesPerNote = 0.25 * 44100 / 1024;
  for (const Note& n : original) {
    const int k = static_cast<int>(std::lround(n.start / kFramesPerNote));
    if (n.pitch == importtest::MelodyNoteAt(k) && std::abs(n.start - k * kFramesPerNote) <= 3) {
      own.push_back(n);
    }
  }
  return own;
}

// Every one of the melody's own notes (at least `percent` of them) is found again:
// the same pitch, an onset within one frame.
void ExpectTheMelodysNotes(const std::vector<Note>& original, const std::vector<Note>& got,
                           int percent = 100) {
  const std::vector<Note> own = MelodysNotes(original);
  ASSERT_GE(own.size(), original.size() / 4);
  const int n = static_cast<int>(own.size());
  EXPECT_GE(Matching(own, got) * 100, n * percent) << Matching(own, got) << " of " << n;
}

class RoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string wav = dir / "original.wav";
    ASSERT_TRUE(zuroka::WriteWav(wav, Samples(44100)));
    original = ConvertWhole(wav);
    ASSERT_EQ(original.rec.road, SRecording::Road::Reader);
    ASSERT_GE(original.notes.size(), 10u);
  }
  // The melody sampled at rate, written by libsndfile in format.
  std::string Write(const std::string& name, int format, int rate, int channels = 1) {
    std::string path = dir / name;
    EXPECT_TRUE(importtest::WriteSound(path, format, rate, channels, Samples(rate))) << name;
    return path;
  }

  static std::vector<std::int16_t> Samples(int rate) {
    return importtest::Round16(importtest::Melody(rate, kSeconds));
  }
  TempDir dir;
  Converted original;
};

TEST_F(RoadTest, SixteenBitWavAtOtherRatesIsResampledToItsTruePitch) {
  for (int rate : {22050, 32000, 48000, 96000}) {
    SCOPED_TRACE(rate);
    const std::string path = dir / ("r" + std::to_string(rate) + ".wav");
    ASSERT_TRUE(zuroka::WriteWav(path, Samples(rate), 1, rate));
    const Converted c = ConvertWhole(path);
    EXPECT_EQ(c.rec.road, SRecording::Road::Resampled);
    EXPECT_EQ(c.rec.fromRate, rate);
    EXPECT_EQ(c.rec.Note(), " (resampled " + std::to_string(rate) + " \u2192 44100 Hz)");
    EXPECT_EQ(c.frames, original.frames);
    ExpectNearlyTheNotes(original.notes, c.notes, 80, 90);
    ExpectTheMelodysNotes(original.notes, c.notes);
  }
  // Read literally, a 22.05 kHz file is twice as fast and an octave higher.
  const Converted literal = ConvertWhole(dir / "r22050.wav", true);
  EXPECT_EQ(literal.rec.road, SRecording::Road::Reader);
  EXPECT_EQ(literal.frames, original.frames / 2);
  ASSERT_FALSE(literal.notes.empty());
  EXPECT_EQ(literal.notes[0].pitch, original.notes[0].pitch + 12);
}

TEST_F(RoadTest, LosslessFormatsGiveTheOriginalsNotes) {
  struct Case {
    const char* name;
    int format, rate, channels;
    const char* container;
  };
  const Case cases[] = {
      {"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1, "FLAC"},
      {"b.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2, "FLAC"},
      {"c.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22050, 1, "FLAC"},
      {"d.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 2, "WAV"},
      {"e.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, "WAV"},
      {"f.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 1, "WAV"},
      {"g.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 32000, 1, "WAV"},
      {"h.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 44100, 1, "WAV"},
      {"i.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 48000, 2, "WAV (extensible)"},
      {"j.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 32000, 1, "AIFF"},
      {"k.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 96000, 2, "AIFF"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const Converted c = ConvertWhole(Write(k.name, k.format, k.rate, k.channels));
    ASSERT_EQ(c.rec.road, SRecording::Road::Imported) << c.rec.failure;
    EXPECT_EQ(c.rec.format.container, k.container);
    EXPECT_EQ(c.rec.format.sampleRate, k.rate);
    EXPECT_EQ(c.rec.format.channels, k.channels);
    EXPECT_EQ(c.rec.Note().rfind(" (imported " + std::string(k.container) + ", ", 0), 0u);
    EXPECT_EQ(c.frames, original.frames);
    if (k.rate == 44100 && (k.format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_U8) {
      // The same 16-bit values as the original: the same notes, exactly.
      EXPECT_EQ(c.notes.size(), original.notes.size());
      EXPECT_EQ(Matching(original.notes, c.notes, 0), static_cast<int>(original.notes.size()));
    } else if ((k.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_U8) {
      // Eight bits keep only the top byte: noise at -48 dB moves the weaker notes more.
      ExpectNearlyTheNotes(original.notes, c.notes, 60, 70);
      ExpectTheMelodysNotes(original.notes, c.notes, 95);
    } else {
      ExpectNearlyTheNotes(original.notes, c.notes, 80, 90);
      ExpectTheMelodysNotes(original.notes, c.notes);
    }
  }
}

TEST_F(RoadTest, LossyFormatsFindNearlyAllTheOriginalsNotes) {
  struct Case {
    const char* name;
    int format, rate;
  };
  const Case cases[] = {
      {"a.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 48000},
      {"b.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100},
      {"c.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100},
      {"d.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const Converted c = ConvertWhole(Write(k.name, k.format, k.rate));
    ASSERT_EQ(c.rec.road, SRecording::Road::Imported) << c.rec.failure;
    EXPECT_EQ(c.frames, original.frames);
    ExpectNearlyTheNotes(original.notes, c.notes, 70, 80);
    ExpectTheMelodysNotes(original.notes, c.notes, 95);
  }
}

TEST(OpenRecording, RefusedFilesKeepTheReadersWordsOrSayWhatIsWrong) {
  TempDir dir;
  SWavFile wav;
  // Failures that are no matter of format keep the reader's words and import nothing.
  SRecording r = OpenRecording(wav, dir / "missing.flac");
  EXPECT_FALSE(r.Opened());
  EXPECT_EQ(r.failure, "no such file");
  EXPECT_EQ(r.importFailure, SAudioImport::Failure::None);
  WriteBytes(dir / "e.wav", {});
  EXPECT_EQ(OpenRecording(wav, dir / "e.wav").failure, "empty file");

  // Neither reads it: the reader's words and the formats that are read.
  WriteBytes(dir / "t.txt", std::vector<std::uint8_t>(200, 'x'));
  r = OpenRecording(wav, dir / "t.txt");
  EXPECT_EQ(r.failure, std::string("not a WAV file (no RIFF/WAVE header); supported formats: ") +
                           SAudioImport::kSupportedFormats);
  EXPECT_FALSE(wav.IsLoaded());
  EXPECT_EQ(wav.Samples(), nullptr);

  // Literal reading refuses what the reader refuses, as it always did.
  ASSERT_TRUE(importtest::WriteSound(dir / "24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 1,
                                     importtest::Melody(44100, 0.5)));
  r = OpenRecording(wav, dir / "24.wav", true);
  EXPECT_FALSE(r.Opened());
  EXPECT_EQ(r.failure, "24-bit samples; only 16-bit PCM WAV files can be converted");
  r = OpenRecording(wav, dir / "24.wav");
  EXPECT_EQ(r.road, SRecording::Road::Imported);
  EXPECT_EQ(wav.GetSampleCount(), 22050);
  EXPECT_NE(wav.GetInfoText().find("SamplesPerSec : 44100\n"), std::string::npos);
}

TEST(OpenRecording, ResampledCutShortFileKeepsItsPadding) {
  TempDir dir;
  // 0.5 s at 22050 Hz held, 1 s promised by the data size.
  const auto samples = zuroka::SynthesizeMelody({{60, 0.5}}, 22050);
  WriteBytes(dir / "cut.wav", WavBytes::Header(1, 16, 22050)
                                  .Tag("data")
                                  .U32(static_cast<std::uint32_t>(samples.size() * 4))
                                  .Samples(samples)
                                  .Done());
  SWavFile wav;
  const SRecording r = OpenRecording(wav, dir / "cut.wav");
  ASSERT_EQ(r.road, SRecording::Road::Resampled);
  EXPECT_EQ(wav.GetSampleCount(), 44100);
  std::vector<std::int16_t> stored;
  ASSERT_TRUE(wav.ReadAll(stored));
  EXPECT_EQ(stored.size(), 22050u);
  EXPECT_EQ(wav.GetMissingSamples(), 22050);
  // The header still describes the source.
  EXPECT_NE(wav.GetInfoText().find("SamplesPerSec : 22050\n"), std::string::npos);
}

}  // namespace
