#include "SEngine.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "EngineConstants.h"
#include "SLookAhead.h"
#include "SSampleWindow.h"

using namespace zuroka;

SEngine::SEngine(SEngineSeam& seam)
    : marks(&seam), pitches(&seam), midi(marks, pitches), seam(seam) {}

SEngineObject* SEngine::GetEngineObject(int index) {
  switch (index) {
    case kWavFile:
      return &wavFile;
    case kFFT:
      return &fft;
    case kMarks:
      return &marks;
    case kPitches:
      return &pitches;
    default:
      return nullptr;
  }
}

SConversion SEngine::Convert(const SConvertRequest& request) {
  const SConvertHooks& hooks = request.hooks;
  SConversion result;
  if (!BeginRun(request.midiFileName)) return result;
  result.frames = numFrames;
  if (hooks.onStart) hooks.onStart(numFrames);
  if (!AnalyzeFrames(hooks.onFrame, request.threads)) {
    tracks.FinishAll();
    result.status = SConversion::Status::ReadFailed;
    return result;
  }
  if (hooks.afterFrames) hooks.afterFrames();
  tracks.FinishAll();
  if (hooks.afterTracks) hooks.afterTracks();
  EstimateTempo();
  result.estimatedTempo = ComputeTempo();
  result.tempo = hooks.chooseTempo ? hooks.chooseTempo(result.estimatedTempo)
                                   : ClampTempo(result.estimatedTempo);
  if (hooks.editGrids) {
    hooks.editGrids();
    EstimateTempo();
    ComputeTempo();
  }
  result.notes = CountNotes();
  if (!request.write) {
    result.status = SConversion::Status::NotWritten;
  } else {
    result.status = WriteMidi(result.tempo, request.timing) ? SConversion::Status::Written
                                                            : SConversion::Status::WriteFailed;
  }
  return result;
}

bool SEngine::BeginRun(const std::string& midiName) {
  tracks.FinishAll();  // a run cut short earlier leaves none behind
  numFrames = wavFile.GetSampleCount() / kHop;
  midiFileName = midiName;
  readError.clear();
  const bool ok = marks.Init(kGridRows, numFrames) == 0 && pitches.Init(kGridRows, numFrames) == 0;
  if (!ok) {
    marks.Init(0, 0);
    pitches.Init(0, 0);
  }
  return ok;
}

int SEngine::AnalyzedFrames() const {
  const std::int64_t s = wavFile.GetSampleCount();
  if (s <= kFrameLength) return 0;
  // Offsets 0, 1024, ... with offset + 2048 < s.
  return static_cast<int>((s - kFrameLength - 1) / kHop + 1);
}

bool SEngine::IsMelodyCandidate(int index, int& note, int& bin, int& level) const {
  const double* c = fft.GetCepstrum();
  std::int32_t dbThreshold;
  double cpThreshold;
  fft.GetThresholds(dbThreshold, cpThreshold);
  if (c[index - 1] >= c[index] || c[index + 1] >= c[index] || !(c[index] > cpThreshold)) {
    return false;
  }
  note = fft.NoteOfQuefrency(index);
  bin = fft.BinOfNote(note);
  level = fft.GetDB(bin);
  return level > dbThreshold;
}

bool SEngine::AnalyzeFrames(const std::function<void(int)>& onFrame, int threads) {
  const int frames = AnalyzedFrames();
  if (frames == 0) return true;
  SSampleSource* source = wavFile.Samples();
  if (source == nullptr || !source->Rewind()) {
    readError = source ? source->GetError() : "no recording is loaded";
    return false;
  }
  // Not on the stack: the window holds a quarter of a megabyte of samples.
  auto window =
      std::make_unique<SSampleWindow>(*source, wavFile.GetSampleCount(), wavFile.GetPadValue());
  std::unique_ptr<SLookAhead> ahead;
  if (threads > 1) {
    // The workers must not call the seam (in the window it is the options dialog).
    // Nothing can change the ratios during a run (the window's run is synchronous,
    // the converter's options are fixed), so the values read once here are those
    // that every frame would read.
    try {
      ahead = std::make_unique<SLookAhead>(*window, frames, seam.GetDBRatio(), seam.GetCPRatio(),
                                           threads - 1);
    } catch (const std::exception&) {
      ahead.reset();  // no thread or no memory for the ring: all on this thread
    }
  }
  for (int frame = 0; frame < frames; ++frame) {
    // A frame wholly in the padding of a short file after another such frame equals
    // that one, so the analyser's results stand as they are.
    const bool read =
        ahead ? ahead->Take(frame, fft)
              : SLookAhead::AnalyzeHere(*window, frame, fft, seam.GetDBRatio(), seam.GetCPRatio());
    if (!read) {
      readError = window->GetError();
      return false;
    }
    FollowTracks();
    ScanCandidates(frame);
    if (onFrame) onFrame(frame);
  }
  // The frames end before the samples do; damage in the rest still fails the run.
  ahead.reset();
  if (!window->Drain()) {
    readError = window->GetError();
    return false;
  }
  return true;
}

void SEngine::FollowTracks() {
  for (int pos = 0; pos < tracks.Count();) {
    if (tracks.Get(pos)->Follow()) {
      ++pos;
    } else {
      tracks.Delete(pos);
    }
  }
}

void SEngine::ScanCandidates(int frame) {
  // The scan advances by 2 after a candidate, which skips only an index that
  // cannot be a strict local maximum; so visiting the strict maxima above the
  // threshold in order (the analyser lists them) is the same scan.
  const double* cepstrum = fft.GetCepstrum();
  int count = 0;
  const std::int16_t* peaks = fft.GetPeaks(count);
  for (int k = 0; k < count; ++k) {
    int note = 0, bin = 0, level = 0;
    if (!IsMelodyCandidate(peaks[k], note, bin, level)) continue;
    if (note >= kLowestTrackNote && !tracks.IsTracked(note)) {
      try {
        const double peak = cepstrum[fft.QuefrencyOfNote(note)];
        tracks.Add(std::make_unique<SCpstrmSearch>(*this, frame, note, bin, level, peak));
      } catch (const std::exception& e) {
        seam.ShowMessage(e.what(), "");
      }
    }
  }
}

void SEngine::EstimateTempo() { beatSeconds = marks.GetCommonNoteLength(beatFrames); }

int SEngine::ComputeTempo() {
  midi.Reset();
  return midi.ComputeTempo(beatSeconds, beatFrames);
}

bool SEngine::WriteMidi(int bpm, SStandardMidi::Timing timing) {
  return midi.Write(midiFileName, marks.GetMaxRow() + 1, numFrames, bpm, timing);
}

bool SEngine::Remake(int bpm, SStandardMidi::Timing timing) {
  midi.Reset();
  if (midiFileName.empty()) return WriteMidi(bpm, timing);  // refused: no conversion yet
  EstimateTempo();
  midi.ComputeTempo(beatSeconds, beatFrames);
  return WriteMidi(bpm, timing);
}

int SEngine::ClampTempo(int bpm) { return std::clamp(bpm, kMinTempo, kMaxTempo); }

int SEngine::CountNotes() const {
  int n = 0;
  for (int r = 0; r < marks.GetRows(); ++r) {
    const std::uint8_t* row = marks.Row(r);
    n += static_cast<int>(std::count(row, row + marks.GetFrames(), kNoteOnMark));
  }
  return n;
}

std::string ReplaceExt(const std::string& fileName, const std::string& ext) {
  const std::size_t slash = fileName.rfind('/');
  const std::size_t dot = fileName.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    return fileName.substr(0, dot + 1) + ext;
  }
  return fileName + "." + ext;
}
