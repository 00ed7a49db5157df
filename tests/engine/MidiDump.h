#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Strict reading of a Standard MIDI File into readable text: header, division, then
// one line per event with its delta time. Throws std::runtime_error on any malformed
// byte (wrong chunk, overlong quantity, running status, length mismatch), and on a
// Note On without a later Note Off of the same key and channel.
std::string DumpMidi(const std::vector<std::uint8_t>& bytes);
