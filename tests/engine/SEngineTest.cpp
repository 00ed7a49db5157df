#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "ExampleMelody.h"
#include "MidiDump.h"
#include "SEngine.h"
#include "TestFiles.h"

namespace {

using zuroka::MelodyNote;

std::string ReadBytesOf(const std::string& path) {
  const auto b = ReadBytes(path);
  return {b.begin(), b.end()};
}

struct Fixture {
  SFixedSeam seam;
  SEngine engine{seam};
  TempDir dir;
  SConversion last;

  // Writes the samples as a WAV, opens it and runs every step as the window does.
  std::string Convert(const std::vector<std::int16_t>& samples, const std::string& name = "t.wav") {
    const std::string wav = dir / name;
    EXPECT_TRUE(zuroka::WriteWav(wav, samples));
    EXPECT_EQ(engine.wavFile.Open(wav), 1);
    SConvertRequest request;
    request.midiFileName = ReplaceExt(wav, "mid");
    last = engine.Convert(request);
    EXPECT_EQ(last.status, SConversion::Status::Written);
    return engine.MidiFileName();
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
    EXPECT_EQ(f.engine.AnalyzedFrames(), analysed);
    SConvertRequest request;
    request.write = false;
    request.hooks.onFrame = [&](int frame) { EXPECT_EQ(frame, calls++); };
    const SConversion run = f.engine.Convert(request);
    EXPECT_EQ(run.frames, samples / 1024);
    EXPECT_EQ(f.engine.Frames(), samples / 1024);
    EXPECT_EQ(calls, analysed) << samples;
  }
}

TEST(SEngine, ConvertRunsTheStepsAndHooksInOrder) {
  Fixture f;
  const std::string wav = f.dir / "h.wav";
  ASSERT_TRUE(zuroka::WriteWav(wav, zuroka::SynthesizeMelody({{60, 0.6}, {0, 0.3}, {64, 0.6}})));
  ASSERT_EQ(f.engine.wavFile.Open(wav), 1);
  std::vector<std::string> seen;
  int frames = 0, notesAfterTracks = -1, tracksLeft = -1;
  SConvertRequest request;
  request.midiFileName = f.dir / "out.mid";
  request.hooks.onStart = [&](int n) {
    seen.push_back("start");
    // The name is in place before anything can look at the file.
    EXPECT_EQ(f.engine.MidiFileName(), request.midiFileName);
    EXPECT_EQ(n, f.engine.Frames());
  };
  request.hooks.onFrame = [&](int) {
    if (seen.back() != "frame") seen.push_back("frame");
    ++frames;
  };
  request.hooks.afterFrames = [&] {
    seen.push_back("frames done");
    tracksLeft = f.engine.tracks.Count();
  };
  request.hooks.afterTracks = [&] {
    seen.push_back("tracks done");
    EXPECT_EQ(f.engine.tracks.Count(), 0);
    notesAfterTracks = f.engine.CountNotes();
  };
  request.hooks.chooseTempo = [&](int estimated) {
    seen.push_back("tempo " + std::to_string(estimated));
    EXPECT_FALSE(std::filesystem::exists(request.midiFileName));
    return 97;
  };
  const SConversion run = f.engine.Convert(request);
  EXPECT_EQ(run.status, SConversion::Status::Written);
  EXPECT_EQ(run.tempo, 97);
  EXPECT_EQ(run.frames, f.engine.Frames());
  EXPECT_EQ(frames, f.engine.AnalyzedFrames());
  EXPECT_GT(run.notes, 0);
  EXPECT_EQ(notesAfterTracks, run.notes);
  EXPECT_GE(tracksLeft, 0);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0], "start");
  EXPECT_EQ(seen[1], "frame");
  EXPECT_EQ(seen[2], "frames done");
  EXPECT_EQ(seen[3], "tracks done");
  EXPECT_EQ(seen[4], "tempo " + std::to_string(run.estimatedTempo));
  // The chosen tempo is the one in the file.
  EXPECT_NE(
      DumpMidi(ReadBytes(request.midiFileName)).find("tempo " + std::to_string(60000000 / 97)),
      std::string::npos);
}

TEST(SEngine, EditsAfterTheTempoGiveTheFileRemakeWouldWrite) {
  // Editing inside the conversion equals converting, editing, then Remake.
  const auto tune = zuroka::SynthesizeMelody({{60, 0.6}, {0, 0.3}, {64, 0.3}, {0, 0.2}, {67, 1.2}});
  auto erase = [](SEngine& e) {
    for (int r = 0; r < 40; ++r) {
      e.marks.FillSequence(r, 0, e.Frames(), 0);
      e.pitches.FillSequence(r, 0, e.Frames(), 0);
    }
    e.marks.ReserveRow();
    e.pitches.ReserveRow();
    e.marks.SetSequence(0, 10, 9);
    e.marks.SetSequence(0, 40, 8);
    e.pitches.FillSequence(0, 10, 41, 72);
  };
  Fixture a;
  const std::string first = a.Convert(tune);
  erase(a.engine);
  ASSERT_TRUE(a.engine.Remake(a.last.tempo));

  Fixture b;
  const std::string wav = b.dir / "t.wav";
  ASSERT_TRUE(zuroka::WriteWav(wav, tune));
  ASSERT_EQ(b.engine.wavFile.Open(wav), 1);
  SConvertRequest request;
  request.midiFileName = b.dir / "t.mid";
  request.hooks.editGrids = [&] { erase(b.engine); };
  const SConversion run = b.engine.Convert(request);
  ASSERT_EQ(run.status, SConversion::Status::Written);
  EXPECT_EQ(run.tempo, a.last.tempo);
  EXPECT_EQ(run.notes, 1);
  EXPECT_EQ(ReadBytes(request.midiFileName), ReadBytes(first));
}

TEST(SEngine, RemakeBeforeAnyConversionWritesNothing) {
  Fixture f;
  EXPECT_FALSE(f.engine.Remake(120));
  EXPECT_EQ(f.engine.midi.GetError(), "the tempo has not been computed");
}

TEST(SEngine, ShortSignalStillWritesAnEmptyFile) {
  Fixture f;
  const std::string mid = f.Convert(std::vector<std::int16_t>(1500, 100));
  EXPECT_EQ(mid, f.dir / "t.mid");
  EXPECT_EQ(f.engine.BeatFrames(), -1);
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
  EXPECT_EQ(run(0, 3), 0);   // length 3 with border 3: dropped
  EXPECT_EQ(run(10, 4), 0);  // row 0 is free again
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
    f.engine.marks.FillSequence(r, 0, f.engine.Frames(), 0);
    f.engine.pitches.FillSequence(r, 0, f.engine.Frames(), 0);
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

// A source that gives the samples it holds and then fails.
class FailingSource final : public SSampleSource {
 public:
  FailingSource(std::vector<std::int16_t> s, std::size_t failAt)
      : s(std::move(s)), failAt(failAt) {}
  bool Rewind() override {
    next = 0;
    return true;
  }
  std::int32_t Read(std::int16_t* out, std::int32_t n) override {
    if (next >= failAt) return -1;
    const std::size_t k = std::min({failAt - next, s.size() - next, static_cast<std::size_t>(n)});
    std::copy_n(s.data() + next, k, out);
    next += k;
    return static_cast<std::int32_t>(k);
  }
  std::string GetError() const override { return "the disk went away"; }

 private:
  std::vector<std::int16_t> s;
  std::size_t failAt, next = 0;
};

TEST(SEngine, ARunReadsTheFileItOpenedAgainEvenOnceItIsDeleted) {
  Fixture f;
  const auto tune = zuroka::SynthesizeMelody(zuroka::ExampleTune(12));
  const std::string first = ReadBytesOf(f.Convert(tune));
  std::filesystem::remove(f.dir / "t.wav");
  for (int threads : {1, 2}) {
    SConvertRequest request;
    request.midiFileName = f.dir / "again.mid";
    request.threads = threads;
    ASSERT_EQ(f.engine.Convert(request).status, SConversion::Status::Written) << threads;
    EXPECT_EQ(ReadBytesOf(request.midiFileName), first) << threads;
  }
}

TEST(SEngine, SamplesThatStopPartWayFailTheRunAndWriteNothing) {
  // Failing in the first chunk, far into the recording, and just before its end.
  const auto tune = zuroka::SynthesizeMelody(zuroka::ExampleTune(12));
  for (std::size_t failAt : {std::size_t{100}, tune.size() / 2, tune.size() - 3000}) {
    for (int threads : {1, 2}) {
      SCOPED_TRACE(std::to_string(failAt) + " samples, " + std::to_string(threads) + " threads");
      Fixture f;
      f.engine.wavFile.Adopt(std::make_unique<FailingSource>(tune, failAt),
                             static_cast<std::int32_t>(tune.size()));
      int frames = 0;
      bool afterFrames = false;
      SConvertRequest request;
      request.midiFileName = f.dir / "out.mid";
      request.threads = threads;
      request.hooks.onFrame = [&](int) { ++frames; };
      request.hooks.afterFrames = [&] { afterFrames = true; };
      const SConversion run = f.engine.Convert(request);
      EXPECT_EQ(run.status, SConversion::Status::ReadFailed);
      EXPECT_FALSE(run.Succeeded());
      EXPECT_EQ(f.engine.ReadError(), "the disk went away");
      EXPECT_FALSE(std::filesystem::exists(request.midiFileName));
      EXPECT_FALSE(afterFrames);
      EXPECT_LT(frames, f.engine.AnalyzedFrames());
      EXPECT_EQ(f.engine.tracks.Count(), 0);
      // The same engine converts the next recording as if nothing had happened.
      f.Convert(tune, "next.wav");
      EXPECT_TRUE(f.engine.ReadError().empty());
    }
  }
}
