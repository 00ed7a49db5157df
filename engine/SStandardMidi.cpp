#include "SStandardMidi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "EngineConstants.h"
#include "SErrorText.h"
#include "SSequence.h"

namespace {

constexpr int kDivision = 480;                  // ticks per quarter note
constexpr std::uint8_t kVelocityOn = 0x70;      // 112
constexpr std::int64_t kMaxDelta = 0x0FFFFFFF;  // largest 4-byte quantity
constexpr float kSixty = 60.0f;
constexpr float kHalf = 0.5f;
constexpr float kTicks = 480.0f;
constexpr double kTolerance = 0.1;  // a note value matches within 10 %

// Recording timing: tick = frame * kHop * division * 1e6 / (kSampleRate * us), as the
// reduced fraction kTickNumerator / (kTickRate * us).
constexpr std::int64_t kTickProduct =
    std::int64_t{zuroka::kHop} * SStandardMidi::kRecordingDivision * 1000000;
constexpr std::int64_t kTickGcd = std::gcd(kTickProduct, std::int64_t{zuroka::kSampleRate});
constexpr std::int64_t kTickNumerator = kTickProduct / kTickGcd;
constexpr std::int64_t kTickRate = zuroka::kSampleRate / kTickGcd;
// A zero-length text event: it means nothing and carries the rest of a silence
// longer than one delta time can say.
constexpr std::uint8_t kFiller[3] = {0xFF, 0x01, 0x00};

// A frame lasts 1024/44100 s; in microseconds per quarter note at a given step.
int ExactMicrosPerQuarter(double ticksPerFrame) {
  const double us = 1e6 * zuroka::kHop / zuroka::kSampleRate * kDivision / ticksPerFrame;
  const double r = std::floor(us + 0.5);
  return r < 1 ? 1 : (r > 0xFFFFFF ? 0xFFFFFF : static_cast<int>(r));
}

// 0666 less the process's umask, read without changing it (umask() would race
// with files created on other threads).
mode_t DefaultMode() {
  static const mode_t mode = [] {
    mode_t mask = 022;
    if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
      char line[256];
      while (std::fgets(line, sizeof line, f)) {
        unsigned m = 0;
        if (std::sscanf(line, "Umask: %o", &m) == 1) {
          mask = static_cast<mode_t>(m);
          break;
        }
      }
      std::fclose(f);
    }
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

}  // namespace

SStandardMidi::SStandardMidi(const SSequence& marks, const SSequence& pitches)
    : marks(marks), pitches(pitches) {
  Reset();
}

void SStandardMidi::Reset() {
  header = {0x4D, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 0, 0, 1, 0, 0};
  trackHeader = {0x4D, 0x54, 0x72, 0x6B, 0, 0, 0, 0};
  gsReset = {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  endOfTrack = {0x00, 0xFF, 0x2F, 0x00};
  durations = {4, 2, 1, 0.5, 0.25, 0.125};
  quarters = {4, 2, 1, 0.5, 0.25, 0.125};
  ticksPerFrame = 0;
  tempoComputed = false;
}

std::uint8_t SStandardMidi::ComputeTempo(double x, int n) {
  std::uint8_t t = 60;
  header[12] = kDivision >> 8;
  header[13] = kDivision & 0xFF;
  tempoComputed = true;
  if (!(x > 0) || n <= 0) {
    // No note length (an empty grid): 60 bpm and a frame at its real duration.
    ticksPerFrame = static_cast<double>(kDivision) * zuroka::kHop / zuroka::kSampleRate;
    tempo = t;
    return t;
  }
  int i = 5;
  for (int j = 0; j < 6; ++j) {
    if (x >= durations[j]) {
      i = j;
      break;
    }
  }
  int k = 0;  // 4 s and more: the whole note, which has no longer neighbour
  if (i >= 1) {
    const double mid = (durations[i - 1] + durations[i]) * kHalf;
    k = mid > x ? i : i - 1;
  }
  const int step = x < durations[k] ? +1 : -1;
  double current = durations[k];
  // The tempo is a byte; where no whole tempo lands within 10 % the count would
  // wrap round for ever, so it stops before 0 and keeps the nearest tempo it passed.
  std::uint8_t best = t;
  double bestGap = std::fabs(x - current);
  while (std::fabs(x - current) > kTolerance * durations[k]) {
    if ((step > 0 && t == 255) || (step < 0 && t == 1)) {
      t = best;
      break;
    }
    t = static_cast<std::uint8_t>(t + step);
    current = (kSixty / t) * quarters[k];
    if (std::fabs(x - current) < bestGap) {
      bestGap = std::fabs(x - current);
      best = t;
    }
  }
  ticksPerFrame = kTicks * quarters[k] / n;
  tempo = t;
  return t;
}

std::int64_t SStandardMidi::RecordingTick(int frame, int microsPerQuarter) {
  // frame * n / d rounded half up; n = q * d + r keeps every product within 64 bits
  // for any frame of an int and any 24-bit tempo.
  const std::int64_t d = kTickRate * microsPerQuarter;
  const std::int64_t q = kTickNumerator / d;
  const std::int64_t r = kTickNumerator % d;
  return frame * q + (frame * r + d / 2) / d;
}

int SStandardMidi::WriteDeltaTime(std::vector<std::uint8_t>& out, std::int64_t ticks) {
  if (ticks < 0) ticks = 0;
  if (ticks > kMaxDelta) ticks = kMaxDelta;
  std::uint8_t groups[4];
  int n = 0;
  do {
    groups[n++] = static_cast<std::uint8_t>(ticks & 0x7F);
    ticks >>= 7;
  } while (ticks > 0);
  for (int g = n - 1; g >= 0; --g)
    out.push_back(static_cast<std::uint8_t>(groups[g] | (g ? 0x80 : 0)));
  return n;
}

int SStandardMidi::WriteEvent(std::vector<std::uint8_t>& out, std::uint8_t status,
                              std::uint8_t data1, std::uint8_t data2) {
  out.push_back(status);
  out.push_back(data1);
  out.push_back(data2);
  return 3;
}

int SStandardMidi::WriteTempo(std::vector<std::uint8_t>& out, int bpm) {
  const int t = bpm > 0 ? 60000000 / bpm : 0;
  const std::uint8_t e[6] = {0xFF,
                             0x51,
                             0x03,
                             static_cast<std::uint8_t>((t >> 16) & 0xFF),
                             static_cast<std::uint8_t>((t >> 8) & 0xFF),
                             static_cast<std::uint8_t>(t & 0xFF)};
  out.insert(out.end(), e, e + 6);
  return 6;
}

int SStandardMidi::WriteTrackLength(std::vector<std::uint8_t>& out, std::size_t at, int length) {
  const auto u = static_cast<std::uint32_t>(length);
  out[at] = static_cast<std::uint8_t>(u >> 24);
  out[at + 1] = static_cast<std::uint8_t>(u >> 16);
  out[at + 2] = static_cast<std::uint8_t>(u >> 8);
  out[at + 3] = static_cast<std::uint8_t>(u);
  return 4;
}

std::vector<std::uint8_t> SStandardMidi::Build(int rows, int frames, int bpm, Timing timing) const {
  if (!tempoComputed) return {};
  const bool recording = timing == Timing::Recording;
  if (recording) bpm = std::clamp(bpm, zuroka::kMinTempo, zuroka::kMaxTempo);
  std::vector<std::uint8_t> out(header.begin(), header.end());
  if (recording) {
    out[12] = static_cast<std::uint8_t>(kRecordingDivision >> 8);
    out[13] = static_cast<std::uint8_t>(kRecordingDivision & 0xFF);
  }
  out.insert(out.end(), trackHeader.begin(), trackHeader.begin() + 4);
  const std::size_t lengthAt = out.size();
  out.insert(out.end(), 4, 0);
  int trackLength = 0;
  trackLength += WriteDeltaTime(out, 0);
  if (timing == Timing::Exact) {
    const int us = ExactMicrosPerQuarter(ticksPerFrame);
    const std::uint8_t e[6] = {0xFF,
                               0x51,
                               0x03,
                               static_cast<std::uint8_t>(us >> 16),
                               static_cast<std::uint8_t>(us >> 8),
                               static_cast<std::uint8_t>(us)};
    out.insert(out.end(), e, e + 6);
    trackLength += 6;
  } else {
    trackLength += WriteTempo(out, bpm);
  }
  trackLength += WriteDeltaTime(out, 0);
  out.insert(out.end(), gsReset.begin(), gsReset.end());
  trackLength += static_cast<int>(gsReset.size());

  // Rows and frames beyond the grids hold nothing.
  rows = std::min(rows, std::min(marks.GetRows(), pitches.GetRows()));
  frames = std::min(frames, std::min(marks.GetFrames(), pitches.GetFrames()));
  double accumulator = 0.0;
  std::int64_t lastTick = 0;  // exact and recording timing: absolute tick of the last event
  const int microsPerQuarter = recording ? 60000000 / bpm : 0;
  for (int i = 0; i < frames; ++i) {
    for (int r = 0; r < rows; ++r) {
      const std::uint8_t mark = marks.Row(r)[i];
      if (mark != zuroka::kNoteOnMark && mark != zuroka::kNoteOffMark) continue;
      const auto status = static_cast<std::uint8_t>(mark << 4);
      const auto channel = static_cast<std::uint8_t>(marks.GetChannel(r));
      const std::uint8_t note = pitches.Row(r)[i];
      std::int64_t delta;
      if (timing == Timing::Exact) {
        const auto tick = static_cast<std::int64_t>(i * ticksPerFrame);
        delta = tick - lastTick;
        lastTick = tick;
      } else if (recording) {
        const std::int64_t tick = RecordingTick(i, microsPerQuarter);
        delta = tick - lastTick;
        lastTick = tick;
        // Clamping the delta would put this event and every later one early.
        while (delta > kMaxDelta) {
          trackLength += WriteDeltaTime(out, kMaxDelta);
          out.insert(out.end(), kFiller, kFiller + 3);
          trackLength += 3;
          delta -= kMaxDelta;
        }
      } else {
        delta = static_cast<std::int64_t>(accumulator);
        accumulator = 0.0;
      }
      trackLength += WriteDeltaTime(out, delta);
      trackLength += WriteEvent(out, static_cast<std::uint8_t>(channel + status), note,
                                status == 0x90 ? kVelocityOn : 0x00);
    }
    accumulator = accumulator + ticksPerFrame;
  }
  out.insert(out.end(), endOfTrack.begin(), endOfTrack.end());
  trackLength += static_cast<int>(endOfTrack.size());
  WriteTrackLength(out, lengthAt, trackLength);
  return out;
}

bool SStandardMidi::Write(const std::string& fileName, int rows, int frames, int bpm,
                          Timing timing) {
  error.clear();
  if (!tempoComputed) {
    error = "the tempo has not been computed";
    return false;
  }
  const std::vector<std::uint8_t> bytes = Build(rows, frames, bpm, timing);

  // Into a temporary file beside the target, then renamed over it: the old file
  // stays whole until the new one is complete.
  std::string tmp = fileName + ".XXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = SErrorText(errno);
    return false;
  }
  // mkstemp makes the file 0600; give it the old file's mode, or the usual one.
  struct stat old {};
  ::fchmod(fd, ::stat(fileName.c_str(), &old) == 0 ? (old.st_mode & 07777) : DefaultMode());
  std::size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (!ok) error = SErrorText(errno ? errno : EIO);
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = SErrorText(errno);
  }
  if (ok && ::rename(name.data(), fileName.c_str()) != 0) {
    ok = false;
    error = SErrorText(errno);
  }
  if (!ok) ::unlink(name.data());
  return ok;
}
