#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Synthesized melodies for the example, the benchmarks and the tests: harmonic tones
// with a short attack and release, written as 16-bit PCM WAV files.
namespace zuroka {

struct MelodyNote {
  int note;        // MIDI note number; 0 is a rest
  double seconds;  // duration
};

// 16-bit mono samples of the melody at `rate` samples per second. Each tone has
// `harmonics` partials of falling amplitude; the loudest sample is about `peak`.
std::vector<std::int16_t> SynthesizeMelody(const std::vector<MelodyNote>& notes, int rate = 44100,
                                           int harmonics = 6, double peak = 12000);

// A tune of `seconds` length built from a short repeating phrase (quarter = 0.5 s).
std::vector<MelodyNote> ExampleTune(double seconds);

// Writes a canonical 44-byte-header PCM WAV (interleaved when channels == 2, in
// which case the same samples go to both channels). False when the file cannot be written.
bool WriteWav(const std::string& path, const std::vector<std::int16_t>& samples, int channels = 1,
              int rate = 44100, int bits = 16);

}  // namespace zuroka
