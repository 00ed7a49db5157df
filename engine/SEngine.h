#pragma once

#include <functional>
#include <string>

#include "SCpstrmSearch.h"
#include "SEngineObject.h"
#include "SEngineSeam.h"
#include "SFFT.h"
#include "SSequence.h"
#include "SStandardMidi.h"
#include "SWavFile.h"

// One engine context: the single engine objects of one conversion (reader, analyser,
// the two grids, the track list, the MIDI writer), the state of the last run, and
// the frame loop. Nothing here is global, so contexts on different threads convert
// side by side. The main window and the command line drive the same steps.
// What a caller adds to a conversion. Every hook is optional and runs on the thread
// that calls Convert, at the point its name gives.
struct SConvertHooks {
  // The grids are set up; frames is the run's frame count (sample count / 1024).
  std::function<void(int frames)> onStart;
  // After each analysed frame, in frame order (a progress step).
  std::function<void(int frame)> onFrame;
  // After the frame loop, before the tracks still alive are finished.
  std::function<void()> afterFrames;
  // After every track is finished and its note is in the grids.
  std::function<void()> afterTracks;
  // Given the estimated tempo (bpm, 1..255), returns the tempo to write. Without it
  // the estimate is clamped to 10..240.
  std::function<int(int estimated)> chooseTempo;
  // Edits the grids once the tempo is chosen; the time base is then taken from the
  // edited grids, as Remake takes it, and the chosen tempo is kept.
  std::function<void()> editGrids;
};

// One conversion of the file the reader holds.
struct SConvertRequest {
  // Threads of the frame loop by default: the calling thread and one that analyses
  // frames ahead of it.
  static constexpr int kDefaultThreads = 2;

  std::string midiFileName;  // where the MIDI file goes; kept for Remake
  SStandardMidi::Timing timing = SStandardMidi::Timing::Default;
  bool write = true;  // false: everything but the file (the writer is ready to Build)
  // 1: every step on the calling thread. More: threads - 1 workers analyse frames
  // ahead (SLookAhead); the hooks still run on the calling thread, in the same order,
  // and the results are the same bytes. When no thread can be started, 1.
  int threads = kDefaultThreads;
  SConvertHooks hooks;
};

// What a conversion gave.
struct SConversion {
  enum class Status {
    Written,     // the MIDI file was written
    NotWritten,  // the request asked for no file
    NoMemory,    // the grids could not be allocated; nothing else was done
    ReadFailed,  // the samples stopped part-way (SEngine::ReadError says why); no file
    WriteFailed  // everything but the file; the writer's GetError says why
  };
  Status status = Status::NoMemory;
  int frames = 0;          // sample count / 1024
  int notes = 0;           // notes in the grids when the file was written
  int estimatedTempo = 0;  // bpm, 1..255, from the most frequent note length
  int tempo = 0;           // bpm written

  bool Succeeded() const { return status == Status::Written || status == Status::NotWritten; }
};

class SEngine {
 public:
  // Indexes of GetEngineObject.
  static constexpr int kWavFile = 0;
  static constexpr int kFFT = 1;
  static constexpr int kMarks = 2;
  static constexpr int kPitches = 3;

  // seam: options and messages; must outlive the engine.
  explicit SEngine(SEngineSeam& seam);
  SEngine(const SEngine&) = delete;
  SEngine& operator=(const SEngine&) = delete;

  // 0 reader, 1 analyser, 2 mark grid, 3 pitch grid; any other index: null.
  SEngineObject* GetEngineObject(int index);
  SEngineSeam& Seam() { return seam; }

  // The whole conversion of the file the reader holds: the grids, the frame loop,
  // the tracks, the tempo and the MIDI file, in that order, with the request's hooks
  // in between. The reader must have been opened by the caller.
  SConversion Convert(const SConvertRequest& request);
  // Frames the loop analyses: those whose 2048 samples lie wholly inside the signal.
  int AnalyzedFrames() const;
  // A strict local cepstrum maximum above the cepstrum threshold whose note's
  // loudest bin is above the dB threshold. Outputs are written once the peak tests pass.
  bool IsMelodyCandidate(int index, int& note, int& bin, int& level) const;
  // Writes the MIDI file of the last conversion again from the grids as they stand:
  // the time base from the grids, the given tempo (bpm). False (the writer's
  // GetError says why) when no conversion has run or the file cannot be written.
  bool Remake(int bpm, SStandardMidi::Timing timing = SStandardMidi::Timing::Default);

  // Clamps a tempo into the tempo control's range 10..240.
  static int ClampTempo(int bpm);
  // Notes in the mark grid (start marks).
  int CountNotes() const;

  // The engine objects, in creation order (destroyed in reverse: the tracks are
  // finished while the grids still exist).
  SWavFile wavFile;
  SFFT fft;
  SSequence marks;
  SSequence pitches;
  SList tracks;
  SStandardMidi midi;

  // State of the last conversion.
  int Frames() const { return numFrames; }            // sample count / 1024
  int BeatFrames() const { return beatFrames; }       // most frequent note length, frames
  double BeatSeconds() const { return beatSeconds; }  // the same, seconds
  const std::string& MidiFileName() const { return midiFileName; }
  // Why the last run's samples could not be read, in English; empty when they could.
  const std::string& ReadError() const { return readError; }

 private:
  bool BeginRun(const std::string& midiName);
  bool AnalyzeFrames(const std::function<void(int)>& onFrame, int threads);
  void FollowTracks();
  void ScanCandidates(int frame);
  void EstimateTempo();
  int ComputeTempo();
  bool WriteMidi(int bpm, SStandardMidi::Timing timing);

  SEngineSeam& seam;
  int numFrames = 0;
  int beatFrames = 0;
  double beatSeconds = 0;
  std::string midiFileName;
  std::string readError;
};

// The file name with its extension replaced by ext (given without a dot). '/' is the
// path separator: a last component without a dot gets ".ext" appended.
std::string ReplaceExt(const std::string& fileName, const std::string& ext);
