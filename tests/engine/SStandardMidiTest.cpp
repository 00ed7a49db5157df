#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "ExampleMelody.h"
#include "MidiDump.h"
#include "SEngine.h"
#include "SSequence.h"
#include "SStandardMidi.h"
#include "TestFiles.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

double Seconds(int n) { return ((n - 1) * 1024 + 2048) / 44100.0; }

// Microseconds per quarter note of the first Set Tempo event; -1 without one.
long TempoOf(const std::vector<std::uint8_t>& file) {
  for (std::size_t i = 0; i + 5 < file.size(); ++i) {
    if (file[i] == 0xFF && file[i + 1] == 0x51 && file[i + 2] == 0x03) {
      return file[i + 3] << 16 | file[i + 4] << 8 | file[i + 5];
    }
  }
  return -1;
}

struct Grids {
  SSequence marks, pitches;
  SStandardMidi midi{marks, pitches};
  explicit Grids(int frames, int rows = 40) {
    marks.Init(rows, frames);
    pitches.Init(rows, frames);
  }
  void Note(int row, int a, int b, int note) {
    marks.SetSequence(row, a, 9);
    marks.SetSequence(row, b, 8);
    pitches.FillSequence(row, a, b + 1, static_cast<std::uint8_t>(note));
    if (row > marks.GetMaxRow()) marks.SetMaxRow(row);
  }
};

TEST(SStandardMidi, TempoTable) {
  struct Row {
    int n;
    int tempo;
    double ticks;
  };
  const Row rows[] = {{2, 92, 30}, {4, 60, 15},  {6, 49, 10}, {8, 65, 15},
                      {15, 43, 8}, {20, 60, 12}, {60, 45, 8}, {171, 60, 480.0 * 4 / 171}};
  Grids g(1);
  for (const Row& r : rows) {
    EXPECT_EQ(g.midi.ComputeTempo(Seconds(r.n), r.n), r.tempo) << "n = " << r.n;
    EXPECT_DOUBLE_EQ(g.midi.GetTicksPerFrame(), r.ticks) << "n = " << r.n;
  }
}

TEST(SStandardMidi, TempoOfLongAndEmptyLengthsEnds) {
  Grids g(1);
  // Every length from a frame to a minute gives a tempo, including the long notes
  // where no whole tempo lands within 10 %.
  for (int n = 1; n < 2600; ++n) {
    const int t = g.midi.ComputeTempo(Seconds(n), n);
    ASSERT_GE(t, 1) << n;
    ASSERT_GT(g.midi.GetTicksPerFrame(), 0) << n;
  }
  // 20 s: 240 / 12 = 20 exactly.
  EXPECT_EQ(g.midi.ComputeTempo(20.0, 861), 12);
  // 30 s: the nearest tempo passed (240 / 8 = 30).
  EXPECT_EQ(g.midi.ComputeTempo(30.0, 1291), 8);
  // An empty grid: 60 bpm, a frame at its real duration.
  EXPECT_EQ(g.midi.ComputeTempo(0.0, -1), 60);
  EXPECT_NEAR(g.midi.GetTicksPerFrame(), 480 * 1024 / 44100.0, 1e-12);
}

TEST(SStandardMidi, NothingIsWrittenBeforeTheTempoIsComputed) {
  TempDir dir;
  Grids g(10);
  g.Note(0, 1, 4, 60);
  const std::string mid = dir / "t.mid";
  EXPECT_TRUE(g.midi.Build(1, 10, 120).empty());
  EXPECT_FALSE(g.midi.Write(mid, 1, 10, 120));
  EXPECT_EQ(g.midi.GetError(), "the tempo has not been computed");
  EXPECT_FALSE(std::filesystem::exists(mid));
  // Reset forgets the time base again.
  g.midi.ComputeTempo(Seconds(4), 4);
  ASSERT_TRUE(g.midi.Write(mid, 1, 10, 120));
  g.midi.Reset();
  EXPECT_FALSE(g.midi.HasTempo());
  EXPECT_TRUE(g.midi.Build(1, 10, 120).empty());
}

TEST(SStandardMidi, EmptyGridIs46Bytes) {
  Grids g(10);
  g.midi.ComputeTempo(0.0, -1);
  const Bytes b = g.midi.Build(1, 10, 120);
  const Bytes want = {0x4D, 0x54, 0x68, 0x64, 0,    0,    0,    6,    0,    0,    0,    1,
                      0x01, 0xE0, 0x4D, 0x54, 0x72, 0x6B, 0,    0,    0,    0x18, 0x00, 0xFF,
                      0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12,
                      0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7, 0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(b, want);
}

TEST(SStandardMidi, OneNoteIs54Bytes) {
  Grids g(4);
  g.Note(0, 0, 3, 60);
  g.midi.ComputeTempo(Seconds(4), 4);  // 15 ticks per frame
  const Bytes want = {0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00,
                      0x01, 0x01, 0xE0, 0x4D, 0x54, 0x72, 0x6B, 0x00, 0x00, 0x00, 0x20,
                      0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40, 0x00, 0xF0, 0x0A, 0x41,
                      0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7, 0x00, 0x90,
                      0x3C, 0x70, 0x2D, 0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(g.midi.Build(1, 4, 60), want);
}

TEST(SStandardMidi, DroppedFractionsAndEventOrder) {
  // Events of frames 0..3 at 12 ticks per frame: each delta is one frame's ticks.
  Grids g(50);
  g.Note(0, 0, 3, 60);                   // events at 0 and 3
  g.Note(1, 1, 2, 62);                   // events at 1 and 2
  g.midi.ComputeTempo(Seconds(20), 20);  // eighth: 12 ticks per frame
  const std::string d = DumpMidi(g.midi.Build(2, 50, 60));
  EXPECT_NE(d.find("+0 @0 on ch0 key 60"), std::string::npos) << d;
  EXPECT_NE(d.find("+12 @12 on ch0 key 62"), std::string::npos) << d;
  EXPECT_NE(d.find("+12 @24 off ch0 key 62"), std::string::npos) << d;
  EXPECT_NE(d.find("+12 @36 off ch0 key 60"), std::string::npos) << d;

  // A Note Off in row 1 and a Note On in row 0 in the same frame: rows in order.
  Grids h(20);
  h.Note(1, 0, 5, 50);
  h.Note(0, 5, 9, 52);
  h.midi.ComputeTempo(Seconds(4), 4);
  const std::string e = DumpMidi(h.midi.Build(2, 20, 60));
  EXPECT_NE(e.find("+75 @75 on ch0 key 52 vel 112\n+0 @75 off ch0 key 50"), std::string::npos) << e;
}

TEST(SStandardMidi, FractionsAreDroppedByDefaultAndCarriedWhenExact) {
  Grids g(400);
  // n = 129 gives a whole note: 480 * 4 / 129 = 14.88... ticks per frame.
  for (int k = 0; k < 6; ++k) g.Note(0, k * 60, k * 60 + 1, 60);
  g.midi.ComputeTempo(Seconds(129), 129);
  const double tpf = g.midi.GetTicksPerFrame();
  const std::string plain = DumpMidi(g.midi.Build(1, 400, 60));
  const std::string exact = DumpMidi(g.midi.Build(1, 400, 60, SStandardMidi::Timing::Exact));
  // Exact: the last Note Off sits at trunc(301 * tpf); default: each delta truncated.
  std::string want = std::to_string(static_cast<long>(301 * tpf));
  want.insert(want.begin(), '@');
  want.append(" off");
  EXPECT_NE(exact.find(want), std::string::npos) << exact;
  EXPECT_EQ(plain.find(want), std::string::npos) << plain;
  // One frame lasts 1024/44100 s: tempo = 1e6 * 1024 / 44100 * 480 / tpf microseconds.
  const long us = std::lround(1e6 * 1024 / 44100 * 480 / tpf);
  const std::string tempo = "tempo " + std::to_string(us) + " us";
  EXPECT_NE(exact.find(tempo), std::string::npos) << exact;
}

constexpr double kFrameSeconds = 1024 / 44100.0;
constexpr double kAllowedError = 0.001;  // s: every event within 1 ms of its frame
const int kTestedTempos[] = {10, 60, 97, 240};

// The grid's events as the file must hold them: frame by frame, rows in order.
struct GridEvent {
  int frame;
  bool on;
  int key;
};
std::vector<GridEvent> GridEvents(const SSequence& marks, const SSequence& pitches, int rows) {
  std::vector<GridEvent> events;
  for (int f = 0; f < marks.GetFrames(); ++f) {
    for (int r = 0; r < rows; ++r) {
      const int m = marks.Row(r)[f];
      if (m == 9 || m == 8) events.push_back({f, m == 9, pitches.Row(r)[f]});
    }
  }
  return events;
}

// The largest gap, in seconds, between an event's time in the file (read back from
// its ticks, division and Set Tempo) and its frame's real time; fails when the file
// does not hold exactly the grid's events in order.
double LargestTimingError(const Bytes& file, const std::vector<GridEvent>& want) {
  const std::vector<TimedNote> got = NoteTimes(file);
  EXPECT_EQ(got.size(), want.size());
  double largest = 0;
  for (std::size_t k = 0; k < std::min(got.size(), want.size()); ++k) {
    EXPECT_EQ(got[k].on, want[k].on) << "event " << k;
    EXPECT_EQ(got[k].key, want[k].key) << "event " << k;
    largest = std::max(largest, std::fabs(got[k].seconds - want[k].frame * kFrameSeconds));
  }
  return largest;
}

// Notes of 3 to 60 frames with gaps of up to 40 on four rows over three hours,
// overlapping across rows, and one silence of twenty minutes.
void FillThreeHours(Grids& g, int frames) {
  std::uint32_t seed = 12345;
  auto next = [&seed](int n) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(n));
  };
  const int silenceFrom = frames / 2, silenceTo = silenceFrom + 20 * 60 * 44100 / 1024;
  for (int row = 0; row < 4; ++row) {
    int f = row * 7;
    while (true) {
      const int length = 3 + next(58);
      if (f + length >= frames) break;
      if (f + length < silenceFrom || f > silenceTo) {
        g.Note(row, f, f + length, 40 + row * 10 + next(10));
      }
      f += length + 1 + next(40);
    }
  }
  g.Note(0, frames - 10, frames - 1, 90);  // the last frame of the three hours
}

TEST(SStandardMidi, RecordingTimingPutsEveryEventAtItsFramesTime) {
  // A melody as the engine transcribes it, and a three-hour grid.
  SFixedSeam seam;
  SEngine engine(seam);
  TempDir dir;
  const std::vector<zuroka::MelodyNote> tune = {{60, 0.61}, {0, 0.13},  {64, 0.37}, {67, 1.3},
                                                {0, 0.05},  {72, 0.29}, {71, 0.83}, {0, 0.4},
                                                {65, 2.1},  {62, 0.21}, {0, 0.3}};
  ASSERT_TRUE(zuroka::WriteWav(dir / "m.wav", zuroka::SynthesizeMelody(tune)));
  ASSERT_EQ(engine.wavFile.Open(dir / "m.wav"), 1);
  SConvertRequest request;
  request.midiFileName = dir / "m.mid";
  request.write = false;
  const SConversion run = engine.Convert(request);
  ASSERT_GT(run.notes, 5);
  const int melodyRows = engine.marks.GetMaxRow() + 1;
  const auto melody = GridEvents(engine.marks, engine.pitches, melodyRows);

  const int frames = static_cast<int>(3LL * 3600 * 44100 / 1024);
  Grids g(frames, 4);
  FillThreeHours(g, frames);
  const auto threeHours = GridEvents(g.marks, g.pitches, 4);
  ASSERT_GT(threeHours.size(), 40000u);
  ASSERT_EQ(threeHours.back().frame, frames - 1);
  g.midi.ComputeTempo(Seconds(20), 20);

  for (const int t : kTestedTempos) {
    SCOPED_TRACE(t);
    const Bytes m = engine.midi.Build(melodyRows, run.frames, t, SStandardMidi::Timing::Recording);
    const Bytes h = g.midi.Build(4, frames, t, SStandardMidi::Timing::Recording);
    const double melodyError = LargestTimingError(m, melody);
    const double longError = LargestTimingError(h, threeHours);
    EXPECT_LE(melodyError, kAllowedError);
    EXPECT_LE(longError, kAllowedError);
    EXPECT_EQ(TempoOf(h), 60000000 / t);  // the Set Tempo event says the tempo
    std::printf(
        "recording timing at %3d bpm: largest error %.4f ms (melody, %zu events), "
        "%.4f ms (three hours, %zu events)\n",
        t, melodyError * 1e3, melody.size(), longError * 1e3, threeHours.size());
  }
}

TEST(SStandardMidi, RecordingTimingDependsOnNothingButFramesAndTempo) {
  Grids g(400);
  for (int k = 0; k < 6; ++k) g.Note(k % 3, k * 60, k * 60 + 1 + k * 7, 60 + k);
  // Whatever the most frequent note length, the same bytes.
  g.midi.ComputeTempo(Seconds(129), 129);
  const Bytes a = g.midi.Build(3, 400, 97, SStandardMidi::Timing::Recording);
  g.midi.ComputeTempo(Seconds(4), 4);
  EXPECT_EQ(g.midi.Build(3, 400, 97, SStandardMidi::Timing::Recording), a);
  EXPECT_NE(g.midi.Build(3, 400, 97), a);
  // Its own division; the tempo control's range bounds the tempo it says.
  EXPECT_EQ(DumpMidi(a).substr(0, 33), "format 0, tracks 1, division 3840");
  EXPECT_EQ(TempoOf(g.midi.Build(3, 400, 3, SStandardMidi::Timing::Recording)), 60000000 / 10);
  EXPECT_EQ(TempoOf(g.midi.Build(3, 400, 255, SStandardMidi::Timing::Recording)), 60000000 / 240);
  // An empty grid still gives a whole file.
  Grids e(10);
  e.midi.ComputeTempo(0, -1);
  EXPECT_EQ(e.midi.Build(1, 10, 60, SStandardMidi::Timing::Recording).size(), 46u);
}

TEST(SStandardMidi, RecordingTimingCarriesSilencesLongerThanADeltaTime) {
  // At 240 bpm a 4-byte delta time says at most 0x0FFFFFFF ticks, about 4.85 hours.
  const int frames = static_cast<int>(6LL * 3600 * 44100 / 1024);
  Grids g(frames, 2);
  g.Note(0, 0, 2, 60);
  g.Note(1, frames - 20, frames - 1, 62);
  g.midi.ComputeTempo(Seconds(3), 3);
  const Bytes b = g.midi.Build(2, frames, 240, SStandardMidi::Timing::Recording);
  EXPECT_NE(DumpMidi(b).find("meta 01"), std::string::npos);
  EXPECT_LE(LargestTimingError(b, GridEvents(g.marks, g.pitches, 2)), kAllowedError);
}

TEST(SStandardMidi, DeltaTimes) {
  auto vlq = [](std::int64_t v) {
    Bytes out;
    SStandardMidi::WriteDeltaTime(out, v);
    return out;
  };
  EXPECT_EQ(vlq(0), (Bytes{0x00}));
  EXPECT_EQ(vlq(127), (Bytes{0x7F}));
  EXPECT_EQ(vlq(128), (Bytes{0x81, 0x00}));
  EXPECT_EQ(vlq(0x4000), (Bytes{0x81, 0x80, 0x00}));
  EXPECT_EQ(vlq(16385), (Bytes{0x81, 0x80, 0x01}));
  EXPECT_EQ(vlq(0x0FFFFFFF), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(vlq(0x7FFFFFFF).size(), 4u);  // never more than four bytes
  Bytes t;
  SStandardMidi::WriteTempo(t, 60);
  EXPECT_EQ(t, (Bytes{0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40}));
}

TEST(SStandardMidi, WriteReplacesTheFileWhole) {
  TempDir dir;
  const std::string path = dir / "out.mid";
  Grids g(40);
  for (int k = 0; k < 8; ++k) g.Note(0, k * 4, k * 4 + 2, 60 + k);
  g.midi.ComputeTempo(Seconds(3), 3);
  ASSERT_TRUE(g.midi.Write(path, 1, 40, 100));
  const Bytes first = ReadBytes(path);
  Grids h(40);
  h.midi.ComputeTempo(0, -1);
  ASSERT_TRUE(h.midi.Write(path, 1, 40, 100));
  EXPECT_EQ(ReadBytes(path), h.midi.Build(1, 40, 100));
  EXPECT_LT(ReadBytes(path).size(), first.size());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(SStandardMidi, FailedWriteKeepsTheOldFileAndSaysWhy) {
  TempDir dir;
  Grids g(4);
  g.midi.ComputeTempo(0, -1);
  EXPECT_FALSE(g.midi.Write(dir / "no/such/folder/x.mid", 1, 4, 60));
  EXPECT_FALSE(g.midi.GetError().empty());

  const std::string path = dir / "keep.mid";
  WriteBytes(path, {1, 2, 3});
  // The target is a folder that cannot be replaced by a file.
  std::filesystem::create_directory(dir / "d.mid");
  WriteBytes(dir / "d.mid/inner", {1});
  EXPECT_FALSE(g.midi.Write(dir / "d.mid", 1, 4, 60));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "d.mid"));
  EXPECT_EQ(ReadBytes(path), (Bytes{1, 2, 3}));
  // No temporary file is left behind.
  EXPECT_EQ(dir.RegularFiles(), 1);
}

TEST(SStandardMidi, FullDiskKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir / "full.mid";
  WriteBytes(path, {7, 7, 7});
  // A child whose file size limit is 16 bytes stands for a disk that fills up
  // in the middle of the write.
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    Grids g(40);
    g.Note(0, 0, 30, 60);
    g.midi.ComputeTempo(Seconds(31), 31);
    const bool ok = g.midi.Write(path, 1, 40, 60);
    ::_exit(!ok && !g.midi.GetError().empty() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadBytes(path), (Bytes{7, 7, 7}));
  EXPECT_EQ(dir.RegularFiles(), 1);
}

TEST(SStandardMidi, ReplacesAFileThatIsHeldOpen) {
  TempDir dir;
  const std::string path = dir / "held.mid";
  WriteBytes(path, {1, 2, 3, 4});
  const int fd = ::open(path.c_str(), O_RDONLY);  // as a player holds it
  ASSERT_GE(fd, 0);
  Grids g(4);
  g.midi.ComputeTempo(0, -1);
  ASSERT_TRUE(g.midi.Write(path, 1, 4, 60));
  EXPECT_EQ(ReadBytes(path).size(), 46u);
  char old[4] = {};
  EXPECT_EQ(::read(fd, old, 4), 4);  // the holder still reads the file it opened
  EXPECT_EQ(old[3], 4);
  ::close(fd);
}

}  // namespace
