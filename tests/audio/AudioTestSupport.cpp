#include "AudioTestSupport.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "EngineConstants.h"
#include "ExampleMelody.h"
#include "SAudioOutput.h"
#include "SEngine.h"

TempDir::TempDir() {
  std::string t = (std::filesystem::temp_directory_path() / "zuroka-audio-XXXXXX").string();
  path = ::mkdtemp(t.data());
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

void Stereo::Append(const Stereo& more) {
  left.insert(left.end(), more.left.begin(), more.left.end());
  right.insert(right.end(), more.right.begin(), more.right.end());
}

std::size_t Frames(double seconds) {
  return static_cast<std::size_t>(std::lround(seconds * kRate));
}

Stereo RenderSeconds(SAudioOutput& output, double seconds) {
  Stereo s;
  const std::size_t total = Frames(seconds);
  s.left.resize(total);
  s.right.resize(total);
  for (std::size_t at = 0; at < total; at += kBlock) {
    const int n = static_cast<int>(std::min<std::size_t>(kBlock, total - at));
    output.Render(s.left.data() + at, s.right.data() + at, n);
  }
  return s;
}

double Rms(const std::vector<float>& x, std::size_t from, std::size_t n) {
  const std::size_t end = std::min(x.size(), from + n);
  if (from >= end) return 0;
  double sum = 0;
  for (std::size_t i = from; i < end; ++i) sum += static_cast<double>(x[i]) * x[i];
  return std::sqrt(sum / static_cast<double>(end - from));
}

double Peak(const std::vector<float>& x, std::size_t from, std::size_t n) {
  const std::size_t end = std::min(x.size(), from + n);
  double peak = 0;
  for (std::size_t i = from; i < end; ++i)
    peak = std::max(peak, std::fabs(static_cast<double>(x[i])));
  return peak;
}

double Decibels(double value) { return value > 0 ? 20.0 * std::log10(value) : -200.0; }

double PitchHz(const std::vector<float>& x, std::size_t from, std::size_t n, int rate) {
  constexpr double kThreshold = 0.15;
  const int minLag = rate / 2000;
  const int maxLag = rate / 50;
  if (from + n > x.size() || n <= 2 * static_cast<std::size_t>(maxLag)) return 0;
  const std::size_t window = n - static_cast<std::size_t>(maxLag);
  std::vector<double> d(static_cast<std::size_t>(maxLag) + 2, 0.0);
  for (int lag = 1; lag <= maxLag + 1; ++lag) {
    double sum = 0;
    for (std::size_t i = 0; i < window; ++i) {
      const double diff =
          static_cast<double>(x[from + i]) - x[from + i + static_cast<std::size_t>(lag)];
      sum += diff * diff;
    }
    d[static_cast<std::size_t>(lag)] = sum;
  }
  // Cumulative mean normalised difference.
  std::vector<double> c(d.size(), 1.0);
  double running = 0;
  for (std::size_t lag = 1; lag < d.size(); ++lag) {
    running += d[lag];
    c[lag] = running > 0 ? d[lag] * static_cast<double>(lag) / running : 1.0;
  }
  std::size_t best = 0;
  for (auto lag = static_cast<std::size_t>(std::max(minLag, 2));
       lag <= static_cast<std::size_t>(maxLag); ++lag) {
    if (c[lag] < kThreshold) {
      // The bottom of the first dip below the threshold.
      while (lag < static_cast<std::size_t>(maxLag) && c[lag + 1] < c[lag]) ++lag;
      best = lag;
      break;
    }
  }
  if (best == 0) return 0;
  double shift = 0;
  const double a = c[best - 1], b = c[best], e = c[best + 1];
  const double curve = a - 2 * b + e;
  if (curve > 0) shift = 0.5 * (a - e) / curve;
  return rate / (static_cast<double>(best) + shift);
}

int NoteOfHz(double hz) {
  if (hz <= 0) return -1;
  return static_cast<int>(std::lround(69.0 + 12.0 * std::log2(hz / 440.0)));
}

double HzOfNote(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

bool WriteWav16(const std::string& path, const std::vector<std::int16_t>& interleaved, int channels,
                int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) return false;
  const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
  const bool ok = sf_writef_short(f, interleaved.data(), frames) == frames;
  return sf_close(f) == 0 && ok;
}

std::vector<std::int16_t> Sine(double hz, double seconds, int rate, double level) {
  std::vector<std::int16_t> s(static_cast<std::size_t>(std::lround(seconds * rate)));
  for (std::size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<std::int16_t>(
        std::lround(32767.0 * level * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate)));
  }
  return s;
}

double SecondsOfFrame(int frame) {
  return static_cast<double>(frame) * zuroka::kHop / zuroka::kSampleRate;
}

bool WriteGridMidi(const std::string& path, const std::vector<GridNote>& notes) {
  int frames = 0;
  for (const GridNote& n : notes) frames = std::max(frames, n.endFrame + 1);
  SSequence marks;
  SSequence pitches;
  if (marks.Init(zuroka::kGridRows, frames) != 0 || pitches.Init(zuroka::kGridRows, frames) != 0) {
    return false;
  }
  for (const GridNote& n : notes) {
    const int row = marks.ReserveRow();
    pitches.ReserveRow();
    if (row < 0) return false;
    marks.SetSequence(row, n.startFrame, zuroka::kNoteOnMark);
    marks.SetSequence(row, n.endFrame, zuroka::kNoteOffMark);
    pitches.FillSequence(row, n.startFrame, n.endFrame + 1, static_cast<std::uint8_t>(n.note));
  }
  SStandardMidi midi(marks, pitches);
  int beatFrames = 0;
  const double beatSeconds = marks.GetCommonNoteLength(beatFrames);
  const int bpm = midi.ComputeTempo(beatSeconds, beatFrames);
  return midi.Write(path, marks.GetMaxRow() + 1, frames, bpm, SStandardMidi::Timing::Exact);
}

bool ConvertMelody(const std::string& wavPath, const std::vector<std::pair<int, double>>& melody,
                   ConvertedMelody& out, bool exactTiming) {
  std::vector<zuroka::MelodyNote> notes;
  notes.reserve(melody.size());
  for (const auto& [note, seconds] : melody) notes.push_back({note, seconds});
  if (!zuroka::WriteWav(wavPath, zuroka::SynthesizeMelody(notes))) return false;

  SFixedSeam seam;
  SEngine engine(seam);
  if (engine.wavFile.Open(wavPath) != SWavFile::kLoaded) return false;
  SConvertRequest request;
  request.midiFileName = ReplaceExt(wavPath, "mid");
  request.timing = exactTiming ? SStandardMidi::Timing::Exact : SStandardMidi::Timing::Default;
  const SConversion run = engine.Convert(request);
  if (run.status != SConversion::Status::Written) return false;
  out.tempo = run.tempo;
  out.wavPath = wavPath;
  out.midiPath = engine.MidiFileName();
  out.notes.clear();
  constexpr double kFrameSeconds = static_cast<double>(zuroka::kHop) / zuroka::kSampleRate;
  for (int r = 0; r <= engine.marks.GetMaxRow() && r < engine.marks.GetRows(); ++r) {
    const std::uint8_t* marks = engine.marks.Row(r);
    for (int f = 0; f < engine.marks.GetFrames(); ++f) {
      if (marks[f] != zuroka::kNoteOnMark) continue;
      int e = f + 1;
      while (e < engine.marks.GetFrames() && marks[e] != zuroka::kNoteOffMark) ++e;
      out.notes.push_back({engine.pitches.Row(r)[f], f * kFrameSeconds, e * kFrameSeconds});
    }
  }
  std::sort(out.notes.begin(), out.notes.end(),
            [](const EngineNote& a, const EngineNote& b) { return a.start < b.start; });
  return true;
}
