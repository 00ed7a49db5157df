#pragma once

#include <cstdint>
#include <string>

#include "SAudioImport.h"
#include "SSourceFormat.h"
#include "SWavFile.h"

// How a recording reaches the engine, decided in one place for the converter and the
// window. A 16-bit PCM WAV goes through the engine's reader; when its header gives
// another rate than 44100 its samples are then resampled to 44100. Whatever the reader
// refuses for its sample format or its container (8, 24, 32-bit, float, extensible,
// FLAC, MP3, ...) goes through the importer. Samples are moved into the reader, never
// copied.
struct SRecording {
  enum class Road {
    Failed,     // nothing is loaded; failure says why
    Reader,     // read by the engine's reader as it stands
    Resampled,  // read by the reader, then resampled from fromRate to 44100
    Imported,   // decoded by the importer
  };
  Road road = Road::Failed;
  int fromRate = 0;          // the header's rate, for Resampled
  bool rateIgnored = false;  // Reader: the header's rate is unusable and was read as 44100
  SSourceFormat format;      // the source as stored; empty container when unknown
  std::string failure;       // in English, without the file name; empty on success
  SWavFile::Failure readerFailure = SWavFile::Failure::None;
  SAudioImport::Failure importFailure = SAudioImport::Failure::None;  // when it was tried

  bool Opened() const { return road != Road::Failed; }
  // Said after the one line per file, e.g. " (resampled 48000 → 44100 Hz)" or
  // " (imported FLAC, 24-bit PCM, 48000 Hz)"; empty for the reader's plain road.
  std::string Note() const;
  // What the engine analyses, e.g. "first channel, 44100 Hz, 16-bit, 132300 samples".
  static std::string Analysed(const SWavFile& wav);
};

// Opens fileName into wav by its road. literal: the engine's reader alone, every WAV
// read as 44100 samples per second and nothing imported (comparisons with files
// written before). streamed: an imported file whose header gives its length is
// decoded as the run reads it, so that decoding overlaps the analysis and no copy of
// the recording is held; audio that stops decoding part-way then fails the run
// (SConversion::Status::ReadFailed) rather than this call. Otherwise it is decoded
// whole here. On failure wav holds no samples.
SRecording OpenRecording(SWavFile& wav, const std::string& fileName, bool literal = false,
                         bool streamed = false);

// The reader's failure in English, e.g. "no such file", "empty file".
std::string ReaderFailureText(const SWavFile& wav);
