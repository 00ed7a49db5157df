#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Strict reading of a Standard MIDI File into readable text: header, division, then
// one line per event with its delta time. Throws std::runtime_error on any malformed
// byte (wrong chunk, overlong quantity, running status, length mismatch), and on a
// Note On without a later Note Off of the same key and channel.
std::string DumpMidi(const std::vector<std::uint8_t>& bytes);

// A Note On or Note Off of a file, at its time in seconds.
struct TimedNote {
  double seconds;
  bool on;
  int key;
};
// The note events of a file that DumpMidi accepts, in file order, each at the time its
// ticks give: the sum of the delta times, at the division of the header and the tempo
// of the Set Tempo events before it (120 bpm before the first).
std::vector<TimedNote> NoteTimes(const std::vector<std::uint8_t>& bytes);
