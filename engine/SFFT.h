#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "EngineConstants.h"
#include "SEngineObject.h"
#include "SWavFile.h"

// Analyses one frame of 2048 samples: level, Hann-windowed spectrum in whole
// decibels, cepstrum, their maxima and the two candidate thresholds; converts
// between frequencies, cepstrum indexes, bins and note numbers.
//
// Decibel values are truncated toward zero, never rounded. Tables that are the
// same for every frame (window, twiddles, note tables) are computed once, the
// same way the per-frame steps would; results are bit for bit those of the plain
// steps. Per-bin decibels are computed when asked for.
class SFFT : public SEngineObject {
 public:
  static constexpr int N = zuroka::kFrameLength;

  // Everything the queries of one analysed frame read. Held by pointer, so that the
  // results of a frame analysed elsewhere (another analyser, another thread) are
  // handed over without copying.
  // Strict local maxima fit at every other index of the scanned range.
  static constexpr int kMaxPeaks = (zuroka::kScanEnd - zuroka::kFirstScanIndex + 1) / 2;

  struct FrameResults {
    std::array<double, zuroka::kCepstrumLength> cepstrum{};
    std::array<double, zuroka::kBins> power{};  // of each bin, for the lazy decibels
    double maxCP = 0;
    std::int32_t maxDB = 0;
    std::int32_t level = 0;
    std::int32_t DBThreshold = 0;
    double CPThreshold = 0;
    // The strict local maxima of the cepstrum above CPThreshold over the scanned
    // indexes 20..1022, in index order: the places the candidate scan looks at.
    std::array<std::int16_t, kMaxPeaks + 1> peaks{};  // one spare: written before counted
    int peakCount = 0;
    // Decibels computed when first asked for; valid where dbStamp equals stamp,
    // which each analysis into these results advances.
    mutable std::array<std::int32_t, zuroka::kBins> db{};
    mutable std::array<std::uint32_t, zuroka::kBins> dbStamp{};
    std::uint32_t stamp = 1;
  };

  SFFT();

  // Analyses samples[offset .. offset + 2047]. order is the transform order (11);
  // dbRatio and cpRatio are the options' percentages times 0.01.
  void Analyze(const SSampleView& samples, std::int32_t offset, std::int32_t order, double dbRatio,
               double cpRatio);
  // The same on a plain array of at least offset + 2048 samples.
  void Analyze(const std::int32_t* samples, std::int32_t offset, std::int32_t order, double dbRatio,
               double cpRatio);

  const double* GetCepstrum() const { return frame->cepstrum.data(); }  // 1024 values
  std::int32_t GetDB(int bin) const;  // dB of bin 0..1023, truncated toward zero
  std::int32_t GetMaxDB() const { return frame->maxDB; }
  std::int32_t GetLevel() const { return frame->level; }
  double GetMaxCP() const { return frame->maxCP; }
  void GetThresholds(std::int32_t& dbThreshold, double& cpThreshold) const {
    dbThreshold = frame->DBThreshold;
    cpThreshold = frame->CPThreshold;
  }
  // The cepstrum's strict local maxima above the cepstrum threshold at indexes
  // 20..1022, in index order; count receives how many.
  const std::int16_t* GetPeaks(int& count) const {
    count = frame->peakCount;
    return frame->peaks.data();
  }

  // Swaps this analyser's frame results with other (not null): every query then
  // answers for the frame that other held, exactly as the analyser that computed it
  // would, and other takes the results this analyser held, to be analysed into or
  // handed on. Not thread-safe: the caller hands other from thread to thread.
  void ExchangeResults(std::unique_ptr<FrameResults>& other) { frame.swap(other); }

  // MIDI note of a frequency in Hz (> 0): cents rounded half up, see NoteOfFrequency.
  static int NoteOfFrequency(double hz);
  // Note of cepstrum index q: NoteOfFrequency(44100 / (q + 1)).
  int NoteOfQuefrency(int q) const;
  // Index 0..1023 with the largest cepstrum value among the note's indexes in this
  // frame (earlier wins ties); 1023 for a note that has none.
  int QuefrencyOfNote(int note) const;
  // Spectrum bin of the note with the largest dB in this frame (lowest wins ties);
  // for a note without a bin, the highest bin of a lower note (0 if none); notes
  // above the table's last entry give bin 1023.
  int BinOfNote(int note) const;

  // The transform on re/im in place, as the plain steps define it; sign -1 is the
  // forward transform divided by N, +1 the inverse without scaling. Exposed for tests.
  void Transform(std::int32_t order, int sign);
  // The rest of Analyze once the frame is windowed into re; sum: its magnitudes.
  void AnalyzeWindowed(std::int64_t sum, double dbRatio, double cpRatio);
  std::array<double, N> re{};
  std::array<double, N> im{};

  // Selects the portable butterflies even where AVX2 is available (tests).
  void ForcePortable(bool on) { portable = on || !hasAvx2; }

 private:
  struct Stage {
    int c;                    // half block size
    std::vector<double> wr;   // per block
    std::vector<double> wiF;  // sign -1
    std::vector<double> wiI;  // sign +1
    // The narrow stages (c == 1, 2) in the lane order of the vector butterflies.
    std::vector<double> lwr, lwiF, lwiI;
  };
  void Precompute();
  void ForwardFast();
  void InverseFast();
  std::int32_t DBOfPower(double p) const;
  void Butterflies(double* r, double* i, int sign, bool lastHalf, bool realInput);

  std::unique_ptr<FrameResults> frame = std::make_unique<FrameResults>();
  std::array<std::int32_t, zuroka::kBins> binNote{};

  // Tables computed once.
  std::array<double, N> hann{};  // 1 - cos(2 pi i / 2048)
  std::vector<Stage> stages;
  std::array<std::int32_t, N> bitrev{};
  std::array<int, zuroka::kCepstrumLength> quefNote{};
  struct Run {
    int first;  // first index (cepstrum) or table entry (bins); -1 when none
    int length;
    int fallback;  // BinOfNote without a run
  };
  static constexpr int kNoteTable = 256;
  std::array<Run, kNoteTable> quefRun{};
  std::array<Run, kNoteTable> binRun{};
  std::array<double, N> work{};  // natural-order log power for the inverse
  bool hasAvx2 = false;
  bool portable = true;
};
