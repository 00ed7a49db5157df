// Playback measured as a user meets it, through the real PulseAudio driver into a
// private daemon with a null sink (started here), whose monitor is recorded with
// timestamps:
//   - time to first sound and memory added by Play of a three-hour stereo WAV;
//   - time from a key press to its sound, with the stream closed (idle) and open;
//   - the audio callback's time per block against the block's deadline;
//   - the loudness of the example melody's recording against its MIDI file, and the
//     peak of chords of eight notes that start together.
// Prints each figure with its target and exits non-zero when one is missed.
//   build/bin/zuroka_audio_bench [--hours H]   (default 3)
#include <fcntl.h>
#include <pulse/simple.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "AudioTestSupport.h"
#include "ExampleMelody.h"
#include "PulseTestServer.h"
#include "SAudioOutput.h"
#include "SLiveNoteSink.h"
#include "SMediaPlayer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kFirstSoundTarget = 0.200;  // seconds, Play of the long file
constexpr double kMemoryTargetMb = 50;       // added by Play of the long file
constexpr double kKeyTarget = 0.060;         // seconds from a key press to its sound
constexpr int kRecordChunk = 128;            // frames per read of the monitor

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A field of /proc/self/status in kB.
long StatusKb(const char* field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(field);
  while (std::getline(f, line)) {
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') {
      return std::stol(line.substr(n + 1));
    }
  }
  return 0;
}

// Records the sink's monitor on a thread, each frame with the time its chunk arrived:
// late by up to a chunk and by the monitor's own latency, never early.
class TimedRecorder {
 public:
  explicit TimedRecorder(const PulseTestServer& server) {
    pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, PulseTestServer::kRate, 2};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.fragsize = kRecordChunk * 8;
    int error = 0;
    const std::string device = std::string(PulseTestServer::kSink) + ".monitor";
    pulse = pa_simple_new(server.GetServer().c_str(), "bench recorder", PA_STREAM_RECORD,
                          device.c_str(), "monitor", &sampleFormat, nullptr, &attr, &error);
    if (pulse != nullptr) thread = std::thread([this] { Run(); });
  }
  ~TimedRecorder() {
    stop = true;
    if (thread.joinable()) thread.join();
    if (pulse != nullptr) pa_simple_free(pulse);
  }
  bool IsUp() const { return pulse != nullptr; }
  // Waits until the monitor delivers.
  bool WaitForData(double seconds) {
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (chunks.load() < 4) {
      if (Clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  // The time of the first frame louder than threshold played after from; waits for it
  // at most seconds. Negative when none came.
  double FirstSoundAfter(Clock::time_point from, double seconds, float threshold = 1e-4f) {
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < until) {
      {
        std::lock_guard<std::mutex> guard(lock);
        for (const Frame& f : frames) {
          if (f.at > from && f.level > threshold) return Seconds(f.at - from);
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }
  // The interleaved frames played since from (the RMS and peak sections).
  std::vector<float> Since(Clock::time_point from) {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<float> out;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (frames[i].at > from) {
        out.push_back(samples[2 * i]);
        out.push_back(samples[2 * i + 1]);
      }
    }
    return out;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(lock);
    frames.clear();
    samples.clear();
  }

 private:
  struct Frame {
    Clock::time_point at;
    float level;
  };
  void Run() {
    std::vector<float> chunk(kRecordChunk * 2);
    while (!stop) {
      int error = 0;
      if (pa_simple_read(pulse, chunk.data(), chunk.size() * sizeof(float), &error) < 0) return;
      const auto now = Clock::now();
      std::lock_guard<std::mutex> guard(lock);
      for (int i = 0; i < kRecordChunk; ++i) {
        const float l = chunk[2 * static_cast<std::size_t>(i)];
        const float r = chunk[2 * static_cast<std::size_t>(i) + 1];
        frames.push_back({now, std::max(std::fabs(l), std::fabs(r))});
        samples.push_back(l);
        samples.push_back(r);
      }
      ++chunks;
    }
  }
  pa_simple* pulse = nullptr;
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<int> chunks{0};
  std::mutex lock;
  std::vector<Frame> frames;
  std::vector<float> samples;
};

// A WAV of hours of stereo noise written in pieces, then dropped from the page cache so
// that Play reads it from the disk.
bool WriteLongWav(const std::string& path, double hours) {
  const std::uint64_t frames = static_cast<std::uint64_t>(hours * 3600 * 44100);
  const std::uint64_t bytes = frames * 4;
  if (bytes + 36 > 0xFFFFFFFFull) return false;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  auto u32 = [&](std::uint32_t v) { std::fwrite(&v, 4, 1, f); };
  auto u16 = [&](std::uint16_t v) { std::fwrite(&v, 2, 1, f); };
  std::fwrite("RIFF", 1, 4, f);
  u32(static_cast<std::uint32_t>(36 + bytes));
  std::fwrite("WAVEfmt ", 1, 8, f);
  u32(16);
  u16(1);
  u16(2);
  u32(44100);
  u32(44100 * 4);
  u16(4);
  u16(16);
  std::fwrite("data", 1, 4, f);
  u32(static_cast<std::uint32_t>(bytes));
  std::vector<std::int16_t> block(1 << 20);
  std::uint32_t x = 12345;
  for (std::uint64_t done = 0; done < frames * 2;) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), frames * 2 - done));
    for (std::size_t i = 0; i < n; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      block[i] = static_cast<std::int16_t>(static_cast<int>(x % 20001) - 10000);
    }
    if (std::fwrite(block.data(), 2, n, f) != n) {
      std::fclose(f);
      return false;
    }
    done += n;
  }
  std::fflush(f);
  ::fdatasync(::fileno(f));
  ::posix_fadvise(::fileno(f), 0, 0, POSIX_FADV_DONTNEED);
  return std::fclose(f) == 0;
}

bool failed = false;

void Figure(const char* what, double value, const char* unit, double target, bool below = true) {
  const bool ok = below ? value <= target : value >= target;
  std::printf("%-58s %9.2f %-4s (target %s %.0f %s) %s\n", what, value, unit,
              below ? "<=" : ">=", target, unit, ok ? "ok" : "MISSED");
  if (!ok) failed = true;
}

void WaitUntilClosed(SAudioOutput& output) {
  const auto until = Clock::now() + std::chrono::seconds(10);
  while (output.IsStreaming() && Clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void LongFile(const PulseTestServer& server, TimedRecorder& rec,
              std::shared_ptr<SAudioOutput> output, double hours, const TempDir& dir) {
  const std::string path = dir / "long.wav";
  std::printf("writing a %.1f-hour stereo WAV ...\n", hours);
  if (!WriteLongWav(path, hours)) {
    std::printf("cannot write %s\n", path.c_str());
    failed = true;
    return;
  }
  (void)server;
  WaitUntilClosed(*output);
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak back to the current size
  const long before = StatusKb("VmRSS");
  SMediaPlayer player(output);
  const auto t0 = Clock::now();
  player.SetFileName(path);
  if (!player.Open()) {
    std::printf("%s\n", player.GetErrorText().c_str());
    failed = true;
    return;
  }
  player.Play();
  const auto returned = Clock::now();
  const double first = rec.FirstSoundAfter(t0, 5.0);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const long during = StatusKb("VmRSS");
  const long peak = StatusKb("VmHWM");
  std::printf("Open + Play returned after %.1f ms\n", 1000 * Seconds(returned - t0));
  Figure("long WAV: time from Play to first sound", first < 0 ? 99 : 1000 * first, "ms",
         1000 * kFirstSoundTarget);
  Figure("long WAV: memory added by Play (peak)", (peak - before) / 1024.0, "MB", kMemoryTargetMb);
  std::printf("long WAV: resident after 3 s of playing: +%.1f MB\n", (during - before) / 1024.0);
  player.Stop();
  player.Close();
  std::remove(path.c_str());
}

void Keys(TimedRecorder& rec, std::shared_ptr<SAudioOutput> output) {
  SLiveNoteSink notes(output, false);
  double closedWorst = 0, openWorst = 0, closedSum = 0, openSum = 0;
  constexpr int kRounds = 5;
  for (int round = 0; round < kRounds; ++round) {
    WaitUntilClosed(*output);
    for (const bool open : {false, true}) {
      const std::uint32_t note = static_cast<std::uint32_t>(60 + round + (open ? 12 : 0));
      const auto t0 = Clock::now();
      notes.ShortMsg(0x90 + note * 256 + 112 * 65536);
      const double t = rec.FirstSoundAfter(t0, 2.0);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      notes.ShortMsg(0x80 + note * 256 + 112 * 65536);
      std::this_thread::sleep_for(std::chrono::milliseconds(open ? 100 : 50));
      const double v = t < 0 ? 9.9 : t;
      (open ? openWorst : closedWorst) = std::max(open ? openWorst : closedWorst, v);
      (open ? openSum : closedSum) += v;
      if (!open) {
        // The release still sounds: wait for silence before the next press.
        const auto quiet = Clock::now() + std::chrono::milliseconds(1500);
        while (Clock::now() < quiet) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }
  std::printf("key press to sound, stream closed: mean %.1f ms\n", 1000 * closedSum / kRounds);
  Figure("key press to sound, stream closed (idle): worst of 5", 1000 * closedWorst, "ms",
         1000 * kKeyTarget);
  std::printf("key press to sound, stream open: mean %.1f ms\n", 1000 * openSum / kRounds);
  Figure("key press to sound, stream open: worst of 5", 1000 * openWorst, "ms", 1000 * kKeyTarget);
}

void CallbackTime(const TempDir& dir) {
  // The callback's work for the heaviest mix: eight-note chords through the limiter,
  // a held live note and a WAV resampled from 48 kHz, rendered in blocks of a period
  // at the pace of a device.
  auto sink = std::make_shared<SAudioOutput>(SAudioOutput::Mode::Sink);
  std::vector<GridNote> notes;
  const int chord[] = {48, 52, 55, 60, 64, 67, 72, 76};
  for (int c = 0; c < 4; ++c)
    for (int n : chord) notes.push_back({n + c % 3, 1 + 40 * c, 1 + 40 * c + 39});
  const std::string mid = dir / "chords.mid";
  const std::string wav = dir / "tone48k.wav";
  SMediaPlayer midiPlayer(sink), wavPlayer(sink);
  SLiveNoteSink keys(sink, false);
  midiPlayer.SetFileName(mid);
  wavPlayer.SetFileName(wav);
  if (!WriteGridMidi(mid, notes) || !WriteWav16(wav, Sine(1000, 10.0, 48000, 0.3), 1, 48000) ||
      !midiPlayer.Open() || !wavPlayer.Open()) {
    std::printf("callback: cannot open the files\n");
    failed = true;
    return;
  }
  midiPlayer.Play();
  wavPlayer.Play();
  keys.ShortMsg(0x90 + 40 * 256 + 112 * 65536);
  constexpr int kFrames = 1024;
  const double deadline = static_cast<double>(kFrames) / sink->GetSampleRate();
  std::vector<float> left(kFrames), right(kFrames);
  // CPU time of the rendering thread: what the block costs, without the time that
  // other programs of a busy machine take the core away (which a real-time audio
  // thread does not suffer); the wall time beside it includes that.
  auto cpuNow = [] {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  };
  std::vector<double> times;
  std::vector<double> walls;
  auto next = Clock::now();
  for (int block = 0; block < 400; ++block) {
    if (!midiPlayer.IsPlaying()) midiPlayer.Play();  // chords all along
    const auto t0 = Clock::now();
    const double c0 = cpuNow();
    sink->Render(left.data(), right.data(), kFrames);
    times.push_back(cpuNow() - c0);
    walls.push_back(Seconds(Clock::now() - t0));
    next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(deadline));
    std::this_thread::sleep_until(next);
  }
  std::sort(times.begin(), times.end());
  std::sort(walls.begin(), walls.end());
  double sum = 0;
  for (double t : times) sum += t;
  std::printf(
      "callback, %d-frame blocks (deadline %.1f ms), CPU time: mean %.3f ms, 99th %.3f ms, "
      "max %.3f ms; wall time: 99th %.3f ms, max %.3f ms\n",
      kFrames, 1000 * deadline, 1000 * sum / static_cast<double>(times.size()),
      1000 * times[times.size() * 99 / 100], 1000 * times.back(),
      1000 * walls[walls.size() * 99 / 100], 1000 * walls.back());
  Figure("callback: largest block's CPU time, % of its deadline", 100 * times.back() / deadline,
         "%", 25);
}

void Levels(TimedRecorder& rec, std::shared_ptr<SAudioOutput> output, const TempDir& dir) {
  std::vector<std::pair<int, double>> tune;
  for (const zuroka::MelodyNote& n : zuroka::ExampleTune(8.0)) tune.emplace_back(n.note, n.seconds);
  ConvertedMelody melody;
  if (!ConvertMelody(dir / "tune.wav", tune, melody, false)) {
    std::printf("levels: the conversion failed\n");
    failed = true;
    return;
  }
  const int chord[] = {48, 52, 55, 60, 64, 67, 72, 76};
  std::vector<GridNote> notes;
  for (int c = 0; c < 3; ++c)
    for (int n : chord) notes.push_back({n + 2 * c, 1 + 44 * c, 1 + 44 * c + 43});
  const std::string chords = dir / "chords8.mid";
  WriteGridMidi(chords, notes);

  SMediaPlayer player(output);
  auto playAll = [&](const std::string& path, double seconds) {
    rec.Clear();
    const auto t0 = Clock::now();
    player.SetFileName(path);
    player.Open();
    player.Play();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    player.Stop();
    player.Close();
    const std::vector<float> all = rec.Since(t0);
    std::vector<float> left(all.size() / 2);
    for (std::size_t i = 0; i < left.size(); ++i) left[i] = all[2 * i];
    // From the first sound on, for the file's length.
    std::size_t first = 0;
    while (first < left.size() && left[first] == 0.0f) ++first;
    left.erase(left.begin(), left.begin() + static_cast<long>(first));
    left.resize(std::min(left.size(), Frames(8.0)));
    return left;
  };
  const std::vector<float> wav = playAll(melody.wavPath, 8.6);
  const std::vector<float> mid = playAll(melody.midiPath, 8.6);
  const double wavDb = Decibels(Rms(wav, 0, wav.size()));
  const double midDb = Decibels(Rms(mid, 0, mid.size()));
  std::printf("example melody, 8 s: recording %.2f dBFS RMS, its MIDI file %.2f dBFS RMS\n", wavDb,
              midDb);
  Figure("example melody: MIDI file against its recording, |dB|", std::fabs(midDb - wavDb), "dB",
         3);
  const std::vector<float> c = playAll(chords, 4.0);
  const double peak = Peak(c, 0, c.size());
  std::printf("chords of eight notes starting together: peak %.4f = %.2f dBFS\n", peak,
              Decibels(peak));
  Figure("chords of eight notes: peak in dBFS", Decibels(peak), "dBFS",
         Decibels(SAudioOutput::GetLimiterCeiling()) + 0.01);
}

}  // namespace

int main(int argc, char** argv) {
  double hours = 3;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--hours") hours = std::atof(argv[i + 1]);
  }
  if (!PulseTestServer::IsInstalled()) {
    std::printf("pulseaudio and pulseaudio-utils are needed (scripts/build installs them)\n");
    return 2;
  }
  PulseTestServer server;
  if (!server.IsUp()) {
    std::printf("%s\n", server.GetError().c_str());
    return 2;
  }
  server.UseInThisProcess();
  TempDir dir;
  auto output = std::make_shared<SAudioOutput>(SAudioOutput::Mode::Device);
  if (!output->Start() || !output->LoadSoundFont()) {
    std::printf("%s %s\n", output->GetErrorText().c_str(), output->GetSoundFontError().c_str());
    return 2;
  }
  std::printf("driver: %s\n", output->GetDriverName().c_str());
  TimedRecorder rec(server);
  if (!rec.IsUp() || !rec.WaitForData(8.0)) {
    std::printf("the monitor cannot be recorded\n");
    return 2;
  }
  LongFile(server, rec, output, hours, dir);
  Keys(rec, output);
  CallbackTime(dir);
  Levels(rec, output, dir);
  return failed ? 1 : 0;
}
