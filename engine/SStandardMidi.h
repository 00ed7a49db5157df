#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class SSequence;

// Writes the two note grids as a Standard MIDI File (format 0, one track, 480 ticks
// per quarter note, 3840 in the recording timing) and derives the file's tempo from the most
// frequent note length.
class SStandardMidi {
 public:
  // Default: frames map onto ticks at ticksPerFrame, the fraction dropped at each
  //   event, and the Set Tempo event says the bpm given to Write.
  // Exact: the same ticks, fractions carried, and a Set Tempo event that makes a
  //   frame last exactly 1024/44100 s (the bpm given to Write is not used).
  // Recording: kRecordingDivision ticks per quarter note, every event at the tick
  //   nearest its frame's real time (frame * 1024/44100 s) at the bpm given to Write,
  //   which the Set Tempo event says. The ticks follow the tempo as written (60000000
  //   / bpm whole microseconds), so its rounding adds no drift. The tempo then sets
  //   only where the bar lines fall, and an edit moves no other note.
  enum class Timing { Default, Exact, Recording };

  // Ticks per quarter note of the recording timing: at 10 bpm a tick lasts 1.5625 ms,
  // so the nearest tick is within 0.79 ms of any frame's time.
  static constexpr int kRecordingDivision = 3840;

  // Binds the writer to the grids (not owned) and calls Reset.
  SStandardMidi(const SSequence& marks, const SSequence& pitches);

  // Fills the fixed event images and the note-value tables. The time base is then
  // unset until the next ComputeTempo.
  void Reset();
  // seconds, frames: duration and length of the most frequent note. Sets
  // ticksPerFrame and the division; returns the tempo in bpm (1..255).
  std::uint8_t ComputeTempo(double seconds, int frames);
  // Writes the file: rows and frames of the grids to scan, bpm (1..255) for the Set
  // Tempo event (the recording timing clamps it to 10..240). The bytes go to a
  // temporary file in the same folder that then replaces fileName, so an existing file
  // is never lost. Returns false (and sets GetError) when the file could not be
  // written, or when no ComputeTempo has set the time base since the last Reset (such
  // a file would have a division of 0).
  bool Write(const std::string& fileName, int rows, int frames, int bpm,
             Timing timing = Timing::Default);
  // The bytes Write would write, without touching any file; empty before ComputeTempo.
  std::vector<std::uint8_t> Build(int rows, int frames, int bpm,
                                  Timing timing = Timing::Default) const;

  // The absolute tick of a frame in the recording timing, for a Set Tempo of
  // microsPerQuarter (1..0xFFFFFF), frame >= 0: frame * 1024/44100 s rounded to the
  // nearest tick, computed exactly in integers so that no rounding adds up.
  static std::int64_t RecordingTick(int frame, int microsPerQuarter);

  double GetTicksPerFrame() const { return ticksPerFrame; }
  bool HasTempo() const { return tempoComputed; }
  const std::string& GetError() const { return error; }

  // Variable-length quantity (at most 4 bytes: larger values are clamped).
  static int WriteDeltaTime(std::vector<std::uint8_t>& out, std::int64_t ticks);
  static int WriteEvent(std::vector<std::uint8_t>& out, std::uint8_t status, std::uint8_t data1,
                        std::uint8_t data2);
  // The 6-byte Set Tempo event for 60000000 / bpm microseconds per quarter note.
  static int WriteTempo(std::vector<std::uint8_t>& out, int bpm);
  static int WriteTrackLength(std::vector<std::uint8_t>& out, std::size_t at, int length);

 private:
  std::array<std::uint8_t, 14> header{};
  std::array<std::uint8_t, 8> trackHeader{};
  std::uint8_t tempo = 60;
  std::array<std::uint8_t, 12> gsReset{};
  std::array<std::uint8_t, 4> endOfTrack{};
  std::array<double, 6> durations{};  // seconds at 60 bpm: whole .. thirty-second
  std::array<double, 6> quarters{};   // length in quarter notes
  double ticksPerFrame = 0;
  bool tempoComputed = false;
  const SSequence& marks;
  const SSequence& pitches;
  std::string error;
};
