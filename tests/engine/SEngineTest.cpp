#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ExampleMelody.h"
#include "MidiDump.h"
#include "SEngine.h"
#include "TestFiles.h"

namespace {

using zuroka::MelodyNote;

struct Fixture {
  SFixedSeam seam;
  SEngine engine{seam};
  TempDir dir;

  // Writes the samples as a WAV, opens it and runs every step as the window does.
  std::string Convert(const std::vector<std::int16_t>& samples, const std::string& name = "t.wav") {
    const std::string wav = dir / name;
    EXPECT_TRUE(zuroka::WriteWav(wav, samples));
    EXPECT_EQ(engine.wavFile.Open(wav), 1);
    EXPECT_TRUE(engine.BeginRun(wav));
    engine.AnalyzeFrames();
    engine.FinishTracks();
    engine.EstimateTempo();
    const int tempo = SEngine::ClampTempo(engine.ComputeTempo());
    EXPECT_TRUE(engine.WriteMidi(tempo));
    return engine.midiFileName;
  }

  struct Note {
    int start, end, note;
  };
  std::vector<Note> Notes() const {
    std::vector<Note> out;
    for (int r = 0; r < engine.marks.GetRows(); ++r) {
      int start = -1;
      for (int f = 0; f < engine.marks.GetFrames(); ++f) {
        const int m = engine.marks.Row(r)[f];
        if (m == 9) start = f;
        if (m == 8) out.push_back({start, f, engine.pitches.Row(r)[start]});
      }
    }
    return out;
  }
};

TEST(SEngine, FramesLieWhollyInsideTheSignal) {
  for (auto [samples, analysed] : {std::pair{4096, 2}, {2049, 1}, {2048, 0}, {0, 0}, {5000, 3}}) {
    Fixture f;
    std::vector<std::int16_t> s(static_cast<std::size_t>(samples), 0);
    int calls = 0;
    const std::string wav = f.dir / "s.wav";
    zuroka::WriteWav(wav, s);
    ASSERT_EQ(f.engine.wavFile.Open(wav), 1);
    ASSERT_TRUE(f.engine.BeginRun(wav));
    EXPECT_EQ(f.engine.numFrames, samples / 1024);
    EXPECT_EQ(f.engine.AnalyzedFrames(), analysed);
    f.engine.AnalyzeFrames([&](int frame) { EXPECT_EQ(frame, calls++); });
    EXPECT_EQ(calls, analysed) << samples;
  }
}

TEST(SEngine, ShortSignalStillWritesAnEmptyFile) {
  Fixture f;
  const std::string mid = f.Convert(std::vector<std::int16_t>(1500, 100));
  EXPECT_EQ(mid, f.dir / "t.mid");
  EXPECT_EQ(f.engine.beatFrames, -1);
  EXPECT_EQ(ReadBytes(mid).size(), 46u);
}

TEST(SEngine, TranscribesASynthesizedMelody) {
  Fixture f;
  const std::vector<MelodyNote> tune = {{60, 0.6}, {0, 0.2}, {67, 0.6}, {0, 0.2},
                                        {72, 0.6}, {0, 0.2}, {57, 0.6}, {0, 0.3}};
  const std::string mid = f.Convert(zuroka::SynthesizeMelody(tune));
  const auto notes = f.Notes();
  // Each tone of the tune is found once, with its pitch, where it sounds.
  double t = 0;
  for (const MelodyNote& n : tune) {
    if (n.note > 0) {
      const int from = static_cast<int>(t * 44100 / 1024);
      int found = 0;
      for (const auto& got : notes) {
        if (got.note == n.note && std::abs(got.start - from) <= 2) {
          ++found;
          EXPECT_GT(got.end - got.start, 15);
        }
      }
      EXPECT_EQ(found, 1) << "note " << n.note << " at frame " << from;
    }
    t += n.seconds;
  }
  // The file is well formed: every Note On has its Note Off.
  EXPECT_NO_THROW(DumpMidi(ReadBytes(mid)));
}

TEST(SEngine, TracksWriteOnlyWhenLongerThanTheBorder) {
  Fixture f;
  f.engine.marks.Init(40, 30);
  f.engine.pitches.Init(40, 30);
  std::vector<std::int32_t> silence(2048, 0);
  f.engine.fft.Analyze(silence.data(), 0, 11, 0.7, 0.6);
  {
    // A peak the silent frame cannot hold: ends in the next frame with length 1.
    SCpstrmSearch t(f.engine, 5, 60, 10, 30, 1.0);
    EXPECT_EQ(t.GetRow(), 0);
    EXPECT_FALSE(t.Follow());
  }
  // On a silent frame a track with a negative first level goes on.
  auto run = [&](int start, int frames) {
    SCpstrmSearch t(f.engine, start, 64, 10, -10, 0.0);
    for (int k = 1; k < frames; ++k) EXPECT_TRUE(t.Follow());
    return t.GetRow();
  };
  EXPECT_EQ(run(0, 3), 0);  // length 3 with border 3: dropped
  EXPECT_EQ(run(10, 4), 0); // row 0 is free again
  for (int fr = 0; fr < 30; ++fr) {
    const int want = fr == 10 ? 9 : fr == 13 ? 8 : 0;
    EXPECT_EQ(f.engine.marks.GetSequence(0, fr), want) << fr;
    EXPECT_EQ(f.engine.pitches.GetSequence(0, fr), fr >= 10 && fr <= 13 ? 64 : 0) << fr;
  }
  f.seam.border = 1;  // read when the track ends
  run(20, 2);
  EXPECT_EQ(f.engine.marks.GetSequence(0, 20), 9);
  EXPECT_EQ(f.engine.marks.GetSequence(0, 21), 8);
}

TEST(SEngine, TrackWithoutARowWritesNothing) {
  Fixture f;
  f.engine.marks.Init(40, 10);
  f.engine.pitches.Init(40, 10);
  for (int r = 0; r < 40; ++r) f.engine.marks.ReserveRow();
  std::vector<std::int32_t> silence(2048, 0);
  f.engine.fft.Analyze(silence.data(), 0, 11, 0.7, 0.6);
  {
    SCpstrmSearch t(f.engine, 0, 60, 10, -10, 0.0);
    EXPECT_EQ(t.GetRow(), -1);
    for (int k = 0; k < 6; ++k) t.Follow();
  }
  for (int r = 0; r < 40; ++r) {
    for (int fr = 0; fr < 10; ++fr) ASSERT_EQ(f.engine.marks.GetSequence(r, fr), 0);
  }
  EXPECT_EQ(f.seam.messages, 0);
}

TEST(SEngine, EngineObjectsByIndex) {
  Fixture f;
  EXPECT_EQ(f.engine.GetEngineObject(0), &f.engine.wavFile);
  EXPECT_EQ(f.engine.GetEngineObject(1), &f.engine.fft);
  EXPECT_EQ(f.engine.GetEngineObject(2), &f.engine.marks);
  EXPECT_EQ(f.engine.GetEngineObject(3), &f.engine.pitches);
  EXPECT_EQ(f.engine.GetEngineObject(4), nullptr);
  EXPECT_EQ(f.engine.GetEngineObject(-1), nullptr);
}

TEST(SEngine, RemakeUsesTheGivenTempoAndTheEditedGrids) {
  Fixture f;
  const std::string mid = f.Convert(zuroka::SynthesizeMelody({{60, 0.6}, {0, 0.3}, {64, 0.6}}));
  const auto before = ReadBytes(mid);
  // Erase every note, then remake at 200 bpm.
  for (int r = 0; r < 40; ++r) {
    f.engine.marks.FillSequence(r, 0, f.engine.numFrames, 0);
    f.engine.pitches.FillSequence(r, 0, f.engine.numFrames, 0);
  }
  ASSERT_TRUE(f.engine.Remake(200));
  const auto after = ReadBytes(mid);
  EXPECT_EQ(after.size(), 46u);
  const int us = 60000000 / 200;
  EXPECT_EQ(after[26], (us >> 16) & 0xFF);
  EXPECT_EQ(after[27], (us >> 8) & 0xFF);
  EXPECT_EQ(after[28], us & 0xFF);
  EXPECT_NE(before, after);
}

TEST(SEngine, GoldenExampleConversion) {
  Fixture f;
  const std::string mid = f.Convert(zuroka::SynthesizeMelody(zuroka::ExampleTune(8)));
  const std::string dump = DumpMidi(ReadBytes(mid));
  std::ifstream golden(std::string(ZUROKA_TEST_DATA) + "/example-8s.txt");
  std::stringstream want;
  want << golden.rdbuf();
  if (want.str().empty()) {
    std::ofstream(std::string(ZUROKA_TEST_DATA) + "/example-8s.txt.new") << dump;
    FAIL() << "no golden file; wrote example-8s.txt.new";
  }
  EXPECT_EQ(dump, want.str());
}

TEST(ReplaceExt, PathsWithSlashes) {
  EXPECT_EQ(ReplaceExt("/music/song.wav", "mid"), "/music/song.mid");
  EXPECT_EQ(ReplaceExt("/music/song", "mid"), "/music/song.mid");
  EXPECT_EQ(ReplaceExt("/a.b/tune", "mid"), "/a.b/tune.mid");
  EXPECT_EQ(ReplaceExt("tune.wav", "mid"), "tune.mid");
  EXPECT_EQ(ReplaceExt("a.tar.wav", "mid"), "a.tar.mid");
  EXPECT_EQ(ReplaceExt("/x/曲.WAV", "mid"), "/x/曲.mid");
}

}  // namespace
