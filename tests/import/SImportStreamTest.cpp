// Imports streamed into the run, as the converter converts them: the same MIDI bytes as
// when the file is decoded whole first, the same words when its audio stops part-way.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ImportSignals.h"
#include "SEngine.h"
#include "SOpenRecording.h"
#include "TestFiles.h"

namespace {

struct Outcome {
  SRecording rec;
  SConversion result;
  std::string readError;
  std::vector<std::uint8_t> midi;  // empty when no file was written
};

Outcome ConvertFile(const std::string& file, bool streamed, int threads, const std::string& midi) {
  SFixedSeam seam(60, 70, 3);
  SEngine engine(seam);
  Outcome r;
  r.rec = OpenRecording(engine.wavFile, file, false, streamed);
  if (!r.rec.Opened()) return r;
  std::filesystem::remove(midi);
  SConvertRequest request;
  request.midiFileName = midi;
  request.threads = threads;
  r.result = engine.Convert(request);
  r.readError = engine.ReadError();
  if (std::filesystem::exists(midi)) r.midi = ReadBytes(midi);
  return r;
}

struct Format {
  const char* name;
  int format, rate, channels;
};

TEST(ImportStream, ARunWritesTheBytesOfTheWholeDecode) {
  TempDir dir;
  for (const Format& f : {Format{"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2},
                          Format{"b.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1},
                          Format{"c.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2},
                          Format{"d.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 22050, 1},
                          Format{"e.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 48000, 1}}) {
    SCOPED_TRACE(f.name);
    const std::string path = dir / f.name;
    ASSERT_TRUE(importtest::WriteSound(path, f.format, f.rate, f.channels,
                                       importtest::Round16(importtest::Melody(f.rate, 6))));
    const Outcome whole = ConvertFile(path, false, 2, dir / "whole.mid");
    ASSERT_EQ(whole.result.status, SConversion::Status::Written);
    ASSERT_GT(whole.result.notes, 5);
    for (int threads : {1, 2}) {
      const Outcome streamed = ConvertFile(path, true, threads, dir / "streamed.mid");
      EXPECT_EQ(streamed.rec.road, SRecording::Road::Imported);
      ASSERT_EQ(streamed.result.status, SConversion::Status::Written) << streamed.readError;
      EXPECT_EQ(streamed.result.frames, whole.result.frames) << threads;
      EXPECT_EQ(streamed.midi, whole.midi) << threads;
    }
  }
}

TEST(ImportStream, AudioCutShortFailsTheRunWithTheWholeDecodesWords) {
  TempDir dir;
  const std::string path = dir / "cut.flac";
  ASSERT_TRUE(importtest::WriteSound(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2,
                                     importtest::Melody(48000, 6)));
  // Cut early, in the middle, and in the last samples, which no frame reaches.
  const auto size = std::filesystem::file_size(path);
  for (std::uintmax_t cut : {std::uintmax_t{64}, size / 2, size / 4}) {
    SCOPED_TRACE(cut);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - cut);
    const Outcome whole = ConvertFile(path, false, 2, dir / "whole.mid");
    ASSERT_FALSE(whole.rec.Opened());
    EXPECT_EQ(whole.rec.importFailure, SAudioImport::Failure::DecodeError);
    for (int threads : {1, 2}) {
      const Outcome streamed = ConvertFile(path, true, threads, dir / "streamed.mid");
      ASSERT_TRUE(streamed.rec.Opened());
      EXPECT_EQ(streamed.result.status, SConversion::Status::ReadFailed) << threads;
      EXPECT_EQ(streamed.readError, whole.rec.failure) << threads;
      EXPECT_TRUE(streamed.midi.empty()) << threads;
    }
  }
}

TEST(ImportStream, RewindingGivesTheSameSamplesAgain) {
  TempDir dir;
  const std::string path = dir / "r.flac";
  ASSERT_TRUE(importtest::WriteSound(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2,
                                     importtest::Melody(48000, 4)));
  SAudioImport whole;
  ASSERT_EQ(whole.Import(path), SAudioImport::kImported);
  // Nothing open: no stream.
  EXPECT_FALSE(SAudioImport::Stream(std::make_unique<SAudioImport>()));
  auto opened = std::make_unique<SAudioImport>();
  ASSERT_EQ(opened->Open(path), SAudioImport::kImported);
  EXPECT_EQ(opened->ExpectedSamples(), static_cast<std::int64_t>(whole.GetSamples().size()));
  std::unique_ptr<SImportStream> stream = SAudioImport::Stream(std::move(opened));
  ASSERT_TRUE(stream);
  for (int pass = 0; pass < 3; ++pass) {
    ASSERT_TRUE(stream->Rewind()) << stream->GetError();
    std::vector<std::int16_t> got;
    std::int16_t block[1000];
    // Stop part-way on the second pass: the next Rewind starts from the first sample.
    const std::size_t limit = pass == 1 ? 50000 : SIZE_MAX;
    for (std::int32_t n; got.size() < limit && (n = stream->Read(block, 1000)) > 0;) {
      got.insert(got.end(), block, block + n);
    }
    if (pass != 1) {
      EXPECT_EQ(got, whole.GetSamples()) << pass;
    }
  }
}

}  // namespace
