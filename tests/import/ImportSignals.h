#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Test signals defined in continuous time, so that the same melody sampled at any
// rate can be compared with its samples at 44100 Hz, and files of them written with
// libsndfile in any format it writes.
namespace importtest {

inline constexpr double kMelodySeconds = 3.0;

// A melody of harmonic tones (notes 57..76, a quarter second each, smooth attack and
// release), peak about 0.45 of full scale, sampled at rate. Harmonics stay below 5 kHz.
std::vector<double> Melody(int rate, double seconds = kMelodySeconds);
// The note Melody plays from k quarter seconds on, and the number of quarter seconds
// of a melody of the given length.
int MelodyNoteAt(int k);
// A different signal for the channels after the first (a steady 311 Hz tone).
std::vector<double> Counter(int rate, std::size_t frames);
// Full-scale values as 16-bit samples, rounded and clipped.
std::vector<std::int16_t> Round16(const std::vector<double>& v);

// Writes a file of the given libsndfile format word with `channels` channels: the first
// holds `first`, every other one Counter. False when libsndfile refuses to write it.
bool WriteSound(const std::string& path, int format, int rate, int channels,
                const std::vector<double>& first);
// The same from 16-bit values, written through libsndfile's 16-bit path, so that every
// lossless format holds exactly these values (8-bit formats their top byte).
bool WriteSound(const std::string& path, int format, int rate, int channels,
                const std::vector<std::int16_t>& first);

// Largest absolute difference of two sample sequences over the common length.
int MaxDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b);

}  // namespace importtest
