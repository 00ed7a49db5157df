#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class SAudioOutput;

// A temporary folder per test, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return (path / name).string(); }

 private:
  std::filesystem::path path;
};

// Audio pulled from a sink output.
struct Stereo {
  std::vector<float> left;
  std::vector<float> right;
  std::size_t Size() const { return left.size(); }
  void Append(const Stereo& more);
};

inline constexpr int kRate = 44100;
// Frames per Render call: a driver's period, odd on purpose so no block lines up with
// the synth's 64-frame blocks or the file's length.
inline constexpr int kBlock = 441;

// Renders seconds of audio in blocks of kBlock frames.
Stereo RenderSeconds(SAudioOutput& output, double seconds);
// Frames of a number of seconds at kRate.
std::size_t Frames(double seconds);

// Root mean square of x[from, from + n) (clipped to x).
double Rms(const std::vector<float>& x, std::size_t from, std::size_t n);
// Largest absolute value of x[from, from + n).
double Peak(const std::vector<float>& x, std::size_t from, std::size_t n);
// 20 log10(value), -200 for 0.
double Decibels(double value);

// Fundamental frequency in Hz of x[from, from + n) by the cumulative-mean-normalised
// difference function (50 .. 2000 Hz); 0 when no period stands out.
double PitchHz(const std::vector<float>& x, std::size_t from, std::size_t n, int rate = kRate);
// The nearest MIDI note of a frequency (69 = 440 Hz); -1 for 0 Hz.
int NoteOfHz(double hz);
double HzOfNote(int note);

// Writes 16-bit PCM WAV through libsndfile; samples interleaved by channels.
bool WriteWav16(const std::string& path, const std::vector<std::int16_t>& interleaved, int channels,
                int rate);
// Samples of a sine, amplitude of 32767 times level.
std::vector<std::int16_t> Sine(double hz, double seconds, int rate, double level);

// A melody converted by the engine: the WAV, the MIDI file the engine wrote for it (with
// frame-exact timing) and the notes of the engine's grids.
struct EngineNote {
  int note;
  double start;  // seconds
  double end;    // seconds
};
struct ConvertedMelody {
  std::string wavPath;
  std::string midiPath;
  std::vector<EngineNote> notes;  // in order of start
  int tempo = 0;
};
// Writes a MIDI file through the engine's grids and writer, frame-exact timing, one row
// per note so that the file plays exactly these notes (times in frames of 1024 samples).
struct GridNote {
  int note;
  int startFrame;
  int endFrame;  // the note's last frame (its Note Off)
};
bool WriteGridMidi(const std::string& path, const std::vector<GridNote>& notes);
double SecondsOfFrame(int frame);

// notes: (MIDI note, seconds) pairs, 0 for a rest. Returns false when the engine fails.
bool ConvertMelody(const std::string& wavPath, const std::vector<std::pair<int, double>>& melody,
                   ConvertedMelody& out, bool exactTiming = true);
