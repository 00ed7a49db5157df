// Playback through the program's real driver into a PulseAudio daemon that the test
// starts itself, with a null sink as the device, recorded from the sink's monitor with
// parec: the sound has no gaps, a WAV arrives sample for sample (or within the
// resampler's error), MIDI never clips, and once nothing plays the stream closes and
// the program stops using the CPU.
#include <gtest/gtest.h>
#include <samplerate.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <tuple>

#include "AudioConstants.h"
#include "AudioTestSupport.h"
#include "PulseTestServer.h"
#include "SAudioOutput.h"
#include "SLiveNoteSink.h"
#include "SMediaPlayer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kGapSamples = 16;         // a run of this many exact zeros is a dropout
constexpr double kIdleSeconds = 5.0;    // how long idleness is measured
constexpr double kIdleCpuShare = 0.02;  // of one core, at most, while idle
constexpr double kTailSeconds = 0.4;    // recorded past the end, for the server's latency
constexpr double kRecorderStartSeconds = 8.0;
// A machine that other programs keep busy can now and then stall everything on it for
// tens of milliseconds, the sound server too. A fault of the stream shows in every
// attempt, such a stall in one: a playback is tried up to this many times, until one
// arrives whole.
constexpr int kAttempts = 3;

// One channel of an interleaved stereo recording.
std::vector<float> Channel(const std::vector<float>& stereo, int channel) {
  std::vector<float> c(stereo.size() / 2);
  for (std::size_t i = 0; i < c.size(); ++i)
    c[i] = stereo[2 * i + static_cast<std::size_t>(channel)];
  return c;
}

// The first and one past the last frame that is not exactly zero in either channel.
std::pair<std::size_t, std::size_t> SoundSpan(const std::vector<float>& stereo) {
  const std::size_t frames = stereo.size() / 2;
  std::size_t first = frames, last = 0;
  for (std::size_t i = 0; i < frames; ++i) {
    if (stereo[2 * i] != 0.0f || stereo[2 * i + 1] != 0.0f) {
      first = std::min(first, i);
      last = i + 1;
    }
  }
  return {first, last};
}

struct ZeroRuns {
  int count = 0;  // runs of kGapSamples or more
  std::size_t longest = 0;
};
// Runs of exact zeros in x[from, to).
ZeroRuns FindZeroRuns(const std::vector<float>& x, std::size_t from, std::size_t to) {
  ZeroRuns r;
  std::size_t run = 0;
  for (std::size_t i = from; i < std::min(to, x.size()); ++i) {
    run = x[i] == 0.0f ? run + 1 : 0;
    if (run == kGapSamples) ++r.count;
    r.longest = std::max(r.longest, run);
  }
  return r;
}

// Waits at most seconds for done(), polling.
template <typename F>
bool WaitFor(double seconds, F done) {
  const auto until = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

class RealServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PulseTestServer::IsInstalled()) {
      GTEST_SKIP()
          << "pulseaudio and pulseaudio-utils are not installed (scripts/build installs them)";
    }
    server = std::make_unique<PulseTestServer>();
    ASSERT_TRUE(server->IsUp()) << server->GetError();
    server->UseInThisProcess();
    output = std::make_shared<SAudioOutput>(SAudioOutput::Mode::Device);
    ASSERT_TRUE(output->Start()) << output->GetErrorText();
    ASSERT_EQ(output->GetDriverName(), "pulseaudio");
  }

  // Starts parec and waits until the monitor's data flows.
  std::unique_ptr<PulseTestServer::Recording> Record() {
    auto rec = std::make_unique<PulseTestServer::Recording>(*server);
    EXPECT_TRUE(rec->WaitForSound(kRecorderStartSeconds))
        << "parec recorded nothing within " << kRecorderStartSeconds << " s: " << rec->GetLog();
    return rec;
  }

  // The program's and the daemon's CPU use over kIdleSeconds, as shares of one core,
  // after the stream has had time to close.
  void ExpectIdle(const char* after) {
    const double cpu0 = ProcessCpuSeconds();
    const double server0 = server->GetCpuSeconds();
    Sleep(kIdleSeconds);
    const double program = (ProcessCpuSeconds() - cpu0) / kIdleSeconds;
    const double daemon = (server->GetCpuSeconds() - server0) / kIdleSeconds;
    std::printf("idle after %s: program %.2f %% of a core, sound server %.2f %%\n", after,
                100 * program, 100 * daemon);
    RecordProperty(std::string("idle_cpu_percent_after_") + after, std::to_string(100 * program));
    EXPECT_LT(program, kIdleCpuShare) << "the program keeps working after " << after;
    EXPECT_LT(daemon, kIdleCpuShare) << "the sound server keeps working after " << after;
    EXPECT_FALSE(output->IsStreaming()) << "the stream is still open after " << after;
    EXPECT_EQ(server->Pactl({"list", "short", "sink-inputs"}), "");
  }

  void Report(const char* what, int attempt, const ZeroRuns& z) {
    std::printf(
        "%s, attempt %d: %d gaps (runs of %d or more zero samples), longest zero run %zu, %d "
        "underflows of the stream so far\n",
        what, attempt, z.count, kGapSamples, z.longest, output->GetStreamUnderflows());
    RecordProperty(std::string(what) + "_gaps_attempt_" + std::to_string(attempt), z.count);
  }

  // Opens and plays path while the monitor is recorded, until the file has ended (at
  // most timeout seconds) and the server's latency has passed; returns the recording.
  std::vector<float> PlayToEnd(SMediaPlayer& player, const std::string& path, double timeout) {
    auto rec = Record();
    player.SetFileName(path);
    EXPECT_TRUE(player.Open()) << player.GetErrorText();
    player.Play();
    EXPECT_TRUE(WaitFor(timeout, [&] { return !player.IsPlaying(); })) << "the file did not end";
    Sleep(kTailSeconds);
    return rec->Stop();
  }

  TempDir dir;
  std::unique_ptr<PulseTestServer> server;
  std::shared_ptr<SAudioOutput> output;
};

TEST_F(RealServer, NoiseWavArrivesSampleForSampleWithoutGapsAndStopLeavesThingsIdle) {
  constexpr double kSeconds = 3.0;
  std::mt19937 random(9);
  std::uniform_int_distribution<int> level(-16000, 16000);
  std::vector<std::int16_t> noise(static_cast<std::size_t>(kSeconds * kRate) * 2);
  for (std::int16_t& s : noise) {
    do s = static_cast<std::int16_t>(level(random));
    while (s == 0);
  }
  const std::string path = dir / "noise.wav";
  ASSERT_TRUE(WriteWav16(path, noise, 2, kRate));

  SMediaPlayer player(output);
  const std::size_t frames = noise.size() / 2;
  std::vector<float> got;
  std::size_t first = 0, last = 0;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    got = PlayToEnd(player, path, kSeconds + 5.0);
    player.Stop();
    player.Close();
    std::tie(first, last) = SoundSpan(got);
    ASSERT_LT(first, last) << "nothing was recorded";
    ASSERT_GE(got.size() / 2, first + frames) << "the recording ends inside the sound";
    const ZeroRuns left = FindZeroRuns(Channel(got, 0), first, first + frames);
    const ZeroRuns right = FindZeroRuns(Channel(got, 1), first, first + frames);
    Report("noise WAV", attempt, left);
    if (attempt == kAttempts || left.count + right.count == 0) {
      EXPECT_EQ(left.count, 0);
      EXPECT_EQ(right.count, 0);
      break;
    }
  }
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < frames * 2; ++i) {
    if (got[2 * first + i] != noise[i] / 32768.0f && wrong++ < 5) {
      ADD_FAILURE() << "sample " << i << ": " << got[2 * first + i] << " instead of "
                    << noise[i] / 32768.0f;
    }
  }
  EXPECT_EQ(wrong, 0u) << "samples differ from the file";
  EXPECT_EQ(last, first + frames) << "sound after the end of the file";
  ExpectIdle("Stop");
}

TEST_F(RealServer, MidiChordsPlayWithoutGapsNeverClipAndTheEndLeavesThingsIdle) {
  // Three chords of eight notes that start together, one after the other.
  const int chord[] = {48, 52, 55, 60, 64, 67, 72, 76};
  std::vector<GridNote> notes;
  for (int c = 0; c < 3; ++c) {
    for (int n : chord) notes.push_back({n + 2 * c, 1 + 44 * c, 1 + 44 * c + 43});
  }
  const std::string path = dir / "chords.mid";
  ASSERT_TRUE(WriteGridMidi(path, notes));
  const double heldSeconds = SecondsOfFrame(notes.back().endFrame - notes.front().startFrame);

  SMediaPlayer player(output);
  std::vector<float> got;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    got = PlayToEnd(player, path, heldSeconds + 10.0);
    const auto [first, last] = SoundSpan(got);
    ASSERT_LT(first, last) << "nothing was recorded";
    const std::size_t held = Frames(heldSeconds);
    ASSERT_GE(last, first + held) << "the sound ended before the last chord's end";
    const ZeroRuns left = FindZeroRuns(Channel(got, 0), first, first + held);
    const ZeroRuns right = FindZeroRuns(Channel(got, 1), first, first + held);
    Report("MIDI chords", attempt, left);
    if (attempt == kAttempts || left.count + right.count == 0) {
      EXPECT_EQ(left.count, 0);
      EXPECT_EQ(right.count, 0);
      break;
    }
  }
  const double peak =
      std::max(Peak(Channel(got, 0), 0, got.size()), Peak(Channel(got, 1), 0, got.size()));
  std::printf("MIDI chords: peak %.4f (%.2f dBFS), limiter ceiling %.4f\n", peak, Decibels(peak),
              SAudioOutput::GetLimiterCeiling());
  EXPECT_LE(peak, SAudioOutput::GetLimiterCeiling() + 1e-6);
  EXPECT_GT(peak, 0.5 * SAudioOutput::GetLimiterCeiling()) << "the chords are far too quiet";
  // The file has ended by itself: no Stop.
  ExpectIdle("the end of the file");
}

TEST_F(RealServer, WavAtAnotherRateArrivesWithinTheResamplersError) {
  constexpr int kFileRate = 48000;
  constexpr double kSeconds = 2.0;
  // A cosine, so that the very first sample is not zero.
  std::vector<std::int16_t> tone(static_cast<std::size_t>(kSeconds * kFileRate));
  for (std::size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<std::int16_t>(
        std::lround(16000 * std::cos(2 * M_PI * 1000 * static_cast<double>(i) / kFileRate)));
  }
  const std::string path = dir / "tone48k.wav";
  ASSERT_TRUE(WriteWav16(path, tone, 1, kFileRate));

  // The same conversion in one piece: what the file should sound like at the stream's rate.
  std::vector<float> in(tone.size());
  for (std::size_t i = 0; i < tone.size(); ++i) in[i] = tone[i] / 32768.0f;
  std::vector<float> expected(static_cast<std::size_t>(kSeconds * kRate) + 1024);
  SRC_DATA d{};
  d.data_in = in.data();
  d.input_frames = static_cast<long>(in.size());
  d.data_out = expected.data();
  d.output_frames = static_cast<long>(expected.size());
  d.src_ratio = static_cast<double>(kRate) / kFileRate;
  ASSERT_EQ(src_simple(&d, zuroka::audio::kResamplerType, 1), 0);
  expected.resize(static_cast<std::size_t>(d.output_frames_gen));

  SMediaPlayer player(output);
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    const std::vector<float> got = Channel(PlayToEnd(player, path, kSeconds + 5.0), 0);
    // Aligned on the sample that matches best near the first sound.
    std::size_t first = 0;
    while (first < got.size() && std::fabs(got[first]) < 1e-3f) ++first;
    ASSERT_LT(first + expected.size() + 8, got.size()) << "the recording ends inside the sound";
    double bestError = 1e9;
    std::size_t start = first;
    for (std::size_t at = first > 8 ? first - 8 : 0; at <= first + 8; ++at) {
      double worst = 0;
      for (std::size_t i = 0; i < 4096; ++i) {
        worst = std::max(worst, std::fabs(static_cast<double>(got[at + i]) - expected[i]));
      }
      if (worst < bestError) {
        bestError = worst;
        start = at;
      }
    }
    double worst = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      worst = std::max(worst, std::fabs(static_cast<double>(got[start + i]) - expected[i]));
    }
    const ZeroRuns runs = FindZeroRuns(got, start, start + expected.size());
    std::printf(
        "48 kHz tone, attempt %d: largest difference from the one-piece conversion %.2g "
        "(%.1f dB), %d gaps, %d underflows of the stream so far\n",
        attempt, worst, Decibels(worst), runs.count, output->GetStreamUnderflows());
    if (attempt == kAttempts || (worst < 1e-4 && runs.count == 0)) {
      EXPECT_LT(worst, 1e-4) << "the streamed conversion differs from the resampler's own";
      EXPECT_EQ(runs.count, 0);
      break;
    }
  }
}

TEST_F(RealServer, AKeyPressOpensTheClosedStreamAndItClosesAgainAfterTheRelease) {
  SLiveNoteSink notes(output, false);
  ASSERT_TRUE(notes.HasSynth()) << output->GetSoundFontError();
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    ASSERT_TRUE(WaitFor(5.0, [&] { return !output->IsStreaming(); }))
        << "the stream did not close while idle";
    const int opens = output->GetStreamOpenCount();
    auto rec = Record();
    notes.ShortMsg(0x90 + 60 * 256 + 112 * 65536);
    EXPECT_TRUE(output->IsStreaming());
    EXPECT_EQ(output->GetStreamOpenCount(), opens + 1);
    Sleep(1.0);
    EXPECT_TRUE(output->IsStreaming()) << "the stream closed while a key was held";
    notes.ShortMsg(0x80 + 60 * 256 + 112 * 65536);
    Sleep(kTailSeconds);
    const std::vector<float> got = Channel(rec->Stop(), 0);

    std::size_t start = 0;
    while (start < got.size() && got[start] == 0.0f) ++start;
    ASSERT_LT(start + Frames(0.9), got.size()) << "the note was not heard as long as it was held";
    const double hz = PitchHz(got, start + Frames(0.2), 4096);
    EXPECT_NEAR(NoteOfHz(hz), 60, 0) << hz << " Hz";
    const ZeroRuns runs = FindZeroRuns(got, start, start + Frames(0.9));
    Report("key", attempt, runs);
    if (attempt == kAttempts || runs.count == 0) {
      EXPECT_EQ(runs.count, 0);
      break;
    }
  }
  EXPECT_TRUE(WaitFor(5.0, [&] { return !output->IsStreaming(); }))
      << "the stream stayed open after the key was released";
}

TEST_F(RealServer, WhenTheSoundServerGoesAndAnotherComesTheNextPlaySoundsThere) {
  const std::string path = dir / "tone.wav";
  ASSERT_TRUE(WriteWav16(path, Sine(440, 2.0, kRate, 0.5), 1, kRate));
  SMediaPlayer player(output);
  player.SetFileName(path);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  player.Play();
  Sleep(0.3);
  server.reset();  // the daemon ends under the playing stream
  Sleep(0.3);
  player.Stop();
  player.Close();

  server = std::make_unique<PulseTestServer>();
  ASSERT_TRUE(server->IsUp()) << server->GetError();
  server->UseInThisProcess();
  auto rec = Record();
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  player.Play();
  ASSERT_TRUE(WaitFor(5.0, [&] { return !player.IsPlaying(); })) << "the file did not end";
  Sleep(kTailSeconds);
  const std::vector<float> got = Channel(rec->Stop(), 0);
  std::size_t first = 0;
  while (first < got.size() && got[first] == 0.0f) ++first;
  ASSERT_LT(first + Frames(1.0), got.size()) << "nothing was heard from the new server";
  EXPECT_NEAR(PitchHz(got, first + Frames(0.5), 4096), 440, 5);
}

}  // namespace
