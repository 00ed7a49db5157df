#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "ExampleMelody.h"
#include "MidiDump.h"
#include "SEngine.h"
#include "SLookAhead.h"
#include "SSampleWindow.h"
#include "TestFiles.h"

namespace {

constexpr double kDB = 0.55;
constexpr double kCP = 0.45;

// A melody with noise under it, so that no two frames give the same results.
std::vector<std::int16_t> NoisyTune(double seconds, unsigned seed = 3) {
  auto s = zuroka::SynthesizeMelody(zuroka::ExampleTune(seconds));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-300, 300);
  for (auto& v : s) v = static_cast<std::int16_t>(std::clamp(v + noise(rng), -32768, 32767));
  return s;
}

SSampleView View(const std::vector<std::int16_t>& s, std::int32_t count = -1,
                 std::int32_t pad = 0) {
  SSampleView v;
  v.data = s.data();
  v.stored = static_cast<std::int32_t>(s.size());
  v.count = count < 0 ? v.stored : count;
  v.pad = pad;
  return v;
}

// A run's window over the samples that v views, padded as v pads them.
struct RunWindow {
  explicit RunWindow(const SSampleView& v)
      : source(std::vector<std::int16_t>(v.data, v.data + v.stored)),
        window(std::make_unique<SSampleWindow>(source, v.count, v.pad)) {}
  SMemorySamples source;
  std::unique_ptr<SSampleWindow> window;
};

int Frames(const SSampleView& v) { return v.count <= 2048 ? 0 : (v.count - 2049) / 1024 + 1; }

// Every query of a handed-over frame answers as an analyser that computed the frame itself.
void ExpectSameFrame(const SFFT& got, const SFFT& want, int frame) {
  SCOPED_TRACE("frame " + std::to_string(frame));
  ASSERT_TRUE(SameBits(got.GetCepstrum(), want.GetCepstrum(), 1024));
  ASSERT_EQ(got.GetLevel(), want.GetLevel());
  ASSERT_EQ(got.GetMaxDB(), want.GetMaxDB());
  std::int32_t gd, wd;
  double gc, wc;
  got.GetThresholds(gd, gc);
  want.GetThresholds(wd, wc);
  ASSERT_EQ(gd, wd);
  ASSERT_TRUE(SameBits(&gc, &wc, 1));
  for (int b = 0; b < 1024; ++b) ASSERT_EQ(got.GetDB(b), want.GetDB(b)) << "bin " << b;
  for (int n = 30; n < 97; ++n) {
    ASSERT_EQ(got.QuefrencyOfNote(n), want.QuefrencyOfNote(n));
    ASSERT_EQ(got.BinOfNote(n), want.BinOfNote(n));
  }
}

TEST(SLookAhead, HandsOverEveryFrameAsTheOneThreadLoopComputesIt) {
  const auto tune = NoisyTune(6);
  const SSampleView v = View(tune);
  for (int workers : {1, 3}) {
    SCOPED_TRACE(std::to_string(workers) + " workers");
    // ExpectSameFrame asks for every bin's dB, so each results buffer goes round the
    // ring full of cached values of an older frame, which must never show again.
    SFFT fft, ref;
    RunWindow rw(v);
    SLookAhead ahead(*rw.window, Frames(v), kDB, kCP, workers);
    for (int f = 0; f < Frames(v); ++f) {
      ahead.Take(f, fft);
      ref.Analyze(v, f * 1024, 11, kDB, kCP);
      ExpectSameFrame(fft, ref, f);
      // The workers run on meanwhile; what was handed over stays as it was.
      if (f % 50 == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ExpectSameFrame(fft, ref, f);
      }
    }
  }
}

TEST(SLookAhead, EachFrameIsAnalysedOnceAndTheCallerHelps) {
  const auto tune = NoisyTune(4);
  const SSampleView v = View(tune);
  std::mutex m;
  std::vector<int> seen;
  std::set<std::thread::id> onWorker, onCaller;
  SFFT fft;
  {
    RunWindow rw(v);
    std::condition_variable workerSeen;
    SLookAhead ahead(*rw.window, Frames(v), kDB, kCP, 1, [&](int frame, bool worker) {
      std::unique_lock lock(m);
      seen.push_back(frame);
      (worker ? onWorker : onCaller).insert(std::this_thread::get_id());
      if (worker) {
        workerSeen.notify_all();
        lock.unlock();
        // A slow worker leaves frames for the caller to analyse while it would wait.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      } else {
        // On a loaded machine the caller could finish before the worker first runs.
        workerSeen.wait_for(lock, std::chrono::seconds(10), [&] { return !onWorker.empty(); });
      }
    });
    for (int f = 0; f < Frames(v); ++f) ahead.Take(f, fft);
  }
  std::vector<int> sorted = seen;
  std::sort(sorted.begin(), sorted.end());
  ASSERT_EQ(static_cast<int>(sorted.size()), Frames(v));
  for (int f = 0; f < Frames(v); ++f) ASSERT_EQ(sorted[static_cast<std::size_t>(f)], f);
  ASSERT_EQ(onCaller.size(), 1u);
  EXPECT_EQ(*onCaller.begin(), std::this_thread::get_id());
  ASSERT_EQ(onWorker.size(), 1u);
  EXPECT_NE(*onWorker.begin(), std::this_thread::get_id());
}

TEST(SLookAhead, AFailingWorkerLeavesItsFramesToTheCaller) {
  const auto tune = NoisyTune(3);
  const SSampleView v = View(tune);
  std::atomic<int> workerFrames{0};
  for (int failAt : {0, 7, 40}) {
    SCOPED_TRACE("worker fails at frame " + std::to_string(failAt));
    workerFrames = 0;
    SFFT fft, ref;
    bool failed = false;
    RunWindow rw(v);
    SLookAhead ahead(*rw.window, Frames(v), kDB, kCP, 1, [&](int frame, bool worker) {
      if (!worker) return;
      if (failed) ++workerFrames;  // never after the failure
      if (frame >= failAt && !failed) {
        failed = true;
        throw std::bad_alloc();
      }
    });
    for (int f = 0; f < Frames(v); ++f) {
      ahead.Take(f, fft);
      ref.Analyze(v, f * 1024, 11, kDB, kCP);
      ExpectSameFrame(fft, ref, f);
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(workerFrames, 0);
  }
}

TEST(SLookAhead, FramesInThePaddingAfterTheFirstAreNotAnalysed) {
  // 3000 stored samples of a file whose header claims 40000: frames 0..2 hold
  // samples, frame 3 lies wholly in the padding and is analysed, frames 4.. repeat it.
  auto tune = NoisyTune(1);
  tune.resize(3000);
  const SSampleView v = View(tune, 40000, tune.back());
  ASSERT_EQ(Frames(v), 38);
  std::atomic<int> analysed{0};
  SFFT fft, ref;
  RunWindow rw(v);
  SLookAhead ahead(*rw.window, Frames(v), kDB, kCP, 2, [&](int, bool) { ++analysed; });
  for (int f = 0; f < Frames(v); ++f) {
    EXPECT_EQ(SLookAhead::RepeatsPrevious(*rw.window, f), f >= 4) << f;
    ahead.Take(f, fft);
    ref.Analyze(v, f * 1024, 11, kDB, kCP);
    ExpectSameFrame(fft, ref, f);
  }
  EXPECT_EQ(analysed, 4);
}

TEST(SLookAhead, WorkersStayWithinTheRingAndStopWhenTheLoopEndsEarly) {
  const auto tune = NoisyTune(30);
  const SSampleView v = View(tune);
  SFFT fft;
  for (int taken : {0, 1, 3, SLookAhead::kSlots + 5}) {
    SCOPED_TRACE(std::to_string(taken) + " frames taken");
    std::atomic<int> analysed{0};
    {
      RunWindow rw(v);
      SLookAhead ahead(*rw.window, Frames(v), kDB, kCP, 2, [&](int, bool) { ++analysed; });
      for (int f = 0; f < taken; ++f) ahead.Take(f, fft);
      // Time for the workers to fill the ring and wait for room; then the
      // destructor must wake and join them.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_GE(analysed, taken);
    // Frame f is claimed only while f < taken + kSlots; stopping may let one more in.
    EXPECT_LE(analysed, taken + SLookAhead::kSlots + 1);
  }
}

// The whole conversion: both roads write the same bytes and show the frame loop the
// same analyser state, frame by frame, with every hook on the calling thread.
struct LoopRun {
  std::vector<std::uint8_t> midi;
  std::vector<std::string> frames;  // the analyser's state after each frame's steps
  SConversion result;
  bool hooksOnCaller = true;
};

LoopRun ConvertOn(const std::string& wav, int threads, int cp, int db, int border) {
  TempDir out;
  SFixedSeam seam(cp, db, border);
  SEngine engine(seam);
  EXPECT_EQ(engine.wavFile.Open(wav), 1);
  LoopRun run;
  SConvertRequest request;
  request.midiFileName = out / "out.mid";
  request.threads = threads;
  const auto caller = std::this_thread::get_id();
  request.hooks.onFrame = [&](int frame) {
    run.hooksOnCaller &= std::this_thread::get_id() == caller;
    const auto& fft = *static_cast<SFFT*>(engine.GetEngineObject(SEngine::kFFT));
    std::ostringstream s;
    s << frame << ' ' << fft.GetLevel() << ' ' << fft.GetMaxDB() << ' ' << engine.tracks.Count();
    std::uint64_t h = 0;
    for (int q = 0; q < 1024; ++q) {
      std::uint64_t bits;
      std::memcpy(&bits, fft.GetCepstrum() + q, sizeof bits);
      h = h * 1099511628211ull ^ bits;
    }
    s << ' ' << h;
    run.frames.push_back(s.str());
  };
  request.hooks.chooseTempo = [&](int estimated) {
    run.hooksOnCaller &= std::this_thread::get_id() == caller;
    return SEngine::ClampTempo(estimated);
  };
  run.result = engine.Convert(request);
  EXPECT_EQ(run.result.status, SConversion::Status::Written);
  run.midi = ReadBytes(request.midiFileName);
  return run;
}

TEST(SLookAhead, ConversionsOnOneAndSeveralThreadsAreTheSame) {
  TempDir dir;
  struct Case {
    std::string name;
    std::vector<std::uint8_t> bytes;
    int cp, db, border;
  };
  auto tune = NoisyTune(25);
  std::vector<Case> cases = {
      {"tune.wav", WavBytes::Header(1, 16).Data(tune).Done(), 60, 70, 3},
      {"options.wav", WavBytes::Header(1, 16).Data(tune).Done(), 35, 45, 1},
      // Cut short: the last sample's value pads out a data size far beyond the file.
      {"cut.wav",
       WavBytes::Header(1, 16)
           .Tag("data")
           .U32(static_cast<std::uint32_t>(tune.size() * 2 + 900000))
           .Samples(tune)
           .Done(),
       60, 70, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(dir / c.name, c.bytes);
    const LoopRun one = ConvertOn(dir / c.name, 1, c.cp, c.db, c.border);
    ASSERT_GT(one.result.notes, 10);
    for (int threads : {2, 3}) {
      const LoopRun many = ConvertOn(dir / c.name, threads, c.cp, c.db, c.border);
      EXPECT_EQ(many.midi, one.midi) << threads << " threads";
      EXPECT_EQ(many.frames, one.frames) << threads << " threads";
      EXPECT_EQ(many.result.notes, one.result.notes);
      EXPECT_TRUE(many.hooksOnCaller);
    }
  }
}

TEST(SLookAhead, TheGoldenConversionOnOneThread) {
  TempDir dir;
  const std::string wav = dir / "g.wav";
  ASSERT_TRUE(zuroka::WriteWav(wav, zuroka::SynthesizeMelody(zuroka::ExampleTune(8))));
  const LoopRun one = ConvertOn(wav, 1, 60, 70, 3);
  std::ifstream golden(std::string(ZUROKA_TEST_DATA) + "/example-8s.txt");
  std::stringstream want;
  want << golden.rdbuf();
  ASSERT_FALSE(want.str().empty());
  EXPECT_EQ(DumpMidi(one.midi), want.str());
}

}  // namespace
