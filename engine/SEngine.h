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

  // Steps 1-3 of a run: frame count, MIDI name (the WAV name with "mid"), empty
  // grids of 40 rows. False when the grids cannot be allocated (they are then empty).
  bool BeginRun(const std::string& wavFileName);
  // Frames the loop analyses: those whose 2048 samples lie wholly inside the signal.
  int AnalyzedFrames() const;
  // Step 5: every analysed frame in order; onFrame(frameIndex) after each (progress).
  void AnalyzeFrames(const std::function<void(int)>& onFrame = {});
  // A strict local cepstrum maximum above the cepstrum threshold whose note's
  // loudest bin is above the dB threshold. Outputs are written once the peak tests pass.
  bool IsMelodyCandidate(int index, int& note, int& bin, int& level) const;
  // Step 8: finishes the tracks still alive.
  void FinishTracks() { tracks.FinishAll(); }
  // Step 10 (and Remake step 3): beatSeconds and beatFrames from the mark grid.
  void EstimateTempo();
  // Step 12 (and Remake steps 2, 4): Reset and ComputeTempo; the raw tempo in bpm.
  int ComputeTempo();
  // Step 13 (and Remake step 5): writes the MIDI file with the grids' used rows.
  bool WriteMidi(int bpm, SStandardMidi::Timing timing = SStandardMidi::Timing::Default);
  // Remake steps 2-5: the time base from the grids as they stand, the given tempo.
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

  // State of the last run.
  int numFrames = 0;       // sample count / 1024
  int beatFrames = 0;      // most frequent note length, frames
  double beatSeconds = 0;  // the same, seconds
  std::string wavFileName;
  std::string midiFileName;

 private:
  SEngineSeam& seam;
};

// The file name with its extension replaced by ext (given without a dot). '/' is the
// path separator: a last component without a dot gets ".ext" appended.
std::string ReplaceExt(const std::string& fileName, const std::string& ext);
