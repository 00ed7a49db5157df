#pragma once

#include <cstdint>

// Fixed numbers of the transcription. One place, so that the analyser, the tracks,
// the grids and the writer agree.
namespace zuroka {

inline constexpr int kSampleRate = 44100;       // samples per second assumed for every file
inline constexpr int kFrameLength = 2048;       // samples per frame
inline constexpr int kTransformOrder = 11;      // 2^11 = kFrameLength
inline constexpr int kHop = 1024;               // samples between frame starts
inline constexpr int kBins = 1024;              // spectrum bins kept
inline constexpr int kCepstrumLength = 1024;    // cepstrum values kept
inline constexpr double kBinHz = 21.533203125;  // 44100 / 2048
inline constexpr int kBandLimitFirst = 200;     // first log-power bin cleared before the inverse
inline constexpr int kCepstrumMaxFirst = 21;    // first cepstrum index that may set the maximum

inline constexpr int kGridRows = 40;         // GRID_ROWS: voices of the note grids
inline constexpr int kFirstScanIndex = 20;   // first cepstrum index scanned for candidates
inline constexpr int kScanEnd = 1023;        // the scan runs while the index is below this
inline constexpr int kLowestTrackNote = 30;  // a candidate starts a track when note > 29

inline constexpr std::uint8_t kNoteOnMark = 9;   // NOTE_ON_MARK
inline constexpr std::uint8_t kNoteOffMark = 8;  // NOTE_OFF_MARK
inline constexpr int kLengthBuckets = 20;        // LENGTH_BUCKETS

inline constexpr int kMinTempo = 10;   // bpm, range of the tempo control
inline constexpr int kMaxTempo = 240;  // bpm

inline constexpr int kDefaultCPPercent = 60;  // 30..100, step 5
inline constexpr int kDefaultDBPercent = 70;  // 30..100, step 5
inline constexpr int kDefaultBorder = 3;      // 1..100
inline constexpr int kMinPercent = 30;
inline constexpr int kMaxPercent = 100;
inline constexpr int kMinBorder = 1;
inline constexpr int kMaxBorder = 100;

}  // namespace zuroka
