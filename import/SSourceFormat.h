#pragma once

#include <cstdint>
#include <string>

// What an imported file holds, as its header and its decoder state it: shown by the
// information texts, independent of what the engine analyses (always 44100 Hz,
// 16-bit, first channel).
struct SSourceFormat {
  std::string container;     // "WAV", "WAV (extensible)", "AIFF", "FLAC", "Ogg", "MP3", ...
  std::string sampleFormat;  // "8-bit PCM", "16-bit PCM", "24-bit PCM", "32-bit PCM",
                             // "32-bit float", "64-bit float", "Vorbis", "Opus",
                             // "MPEG Layer III", ...
  int bits = 0;              // bits per stored sample for PCM and float data; 0 when compressed
  bool isFloat = false;      // floating-point samples (32 or 64 bits)
  int sndfileFormat = 0;     // libsndfile's SF_FORMAT_* word (major | subtype), for callers
                             // that word the format themselves
  int sampleRate = 0;        // samples per second per channel, as stored
  int channels = 0;          // channels stored; only the first is analysed
  std::int64_t frames = 0;   // sample frames per channel: the header's count after Open,
                             // the decoded count after Read

  // frames / sampleRate in seconds; 0 when the rate is unknown.
  double Seconds() const;
  // One line, e.g. "FLAC, 24-bit PCM, 48000 Hz, 2 channels, 600.00 s".
  std::string Describe() const;
};
