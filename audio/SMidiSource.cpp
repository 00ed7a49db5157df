#include "SMidiSource.h"

#include <fluidsynth.h>

#include <array>

#include "AudioConstants.h"
#include "SAudioOutput.h"

using namespace zuroka::audio;

namespace {

constexpr int kHeaderChunkLength = 6;  // format, tracks, division
constexpr int kChunkHeader = 8;        // id, length
constexpr int kPrimeFrames = 64;       // one synth block: runs the player's clock once
constexpr int kSustainController = 64;
constexpr int kResetAllControllers = 121;

std::uint32_t Be32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return (static_cast<std::uint32_t>(b[at]) << 24) | (static_cast<std::uint32_t>(b[at + 1]) << 16) |
         (static_cast<std::uint32_t>(b[at + 2]) << 8) | b[at + 3];
}
unsigned Be16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return (static_cast<unsigned>(b[at]) << 8) | b[at + 1];
}
bool IsChunkId(const std::vector<std::uint8_t>& b, std::size_t at) {
  for (std::size_t i = at; i < at + 4; ++i) {
    if (b[i] < 0x20 || b[i] > 0x7E) return false;
  }
  return true;
}

}  // namespace

void SMidiSource::PlayerDeleter::operator()(fluid_player_t* p) const { delete_fluid_player(p); }

SMidiSource::SMidiSource(SAudioOutput& output) : output(output) {}

SMidiSource::~SMidiSource() { Stop(); }

std::string SMidiSource::CheckFile(const std::vector<std::uint8_t>& b) {
  if (b.size() < kChunkHeader + kHeaderChunkLength || b[0] != 'M' || b[1] != 'T' || b[2] != 'h' ||
      b[3] != 'd') {
    return "not a Standard MIDI File (no MThd header)";
  }
  const std::uint32_t headerLength = Be32(b, 4);
  if (headerLength < kHeaderChunkLength || headerLength > b.size() - kChunkHeader) {
    return "the MIDI file header is damaged";
  }
  const unsigned tracks = Be16(b, 10);
  const unsigned division = Be16(b, 12);
  if (tracks == 0) return "the MIDI file has no tracks";
  if (division & 0x8000u) return "the MIDI file uses SMPTE time, which cannot be played";
  if (division == 0) return "the MIDI file has a time division of zero";

  unsigned found = 0;
  std::size_t at = kChunkHeader + headerLength;
  while (found < tracks) {
    if (b.size() - at < kChunkHeader) return "the MIDI file is cut short (a track is missing)";
    if (!IsChunkId(b, at)) return "the MIDI file is damaged (a chunk has no valid name)";
    const std::uint32_t length = Be32(b, at + 4);
    if (length > b.size() - at - kChunkHeader) return "the MIDI file is cut short (inside a track)";
    if (b[at] == 'M' && b[at + 1] == 'T' && b[at + 2] == 'r' && b[at + 3] == 'k') ++found;
    at += kChunkHeader + length;
  }
  return {};
}

bool SMidiSource::Load(std::vector<std::uint8_t> data, std::string& error) {
  error = CheckFile(data);
  if (!error.empty()) return false;
  bytes = std::move(data);
  return true;
}

void SMidiSource::Play() {
  if (bytes.empty()) return;
  Start();
  output.Wake();
}

void SMidiSource::Start() {
  fluid_synth_t* synth = output.Synth();
  SAudioOutput::SynthHold hold(output);
  std::string ignored;
  SAudioOutput::LogCapture capture(ignored);
  DropPlayer();
  // Every play starts from clean file channels: the programs and controllers of the
  // file played before must not colour this one. The live channels are left alone, so
  // a key held on the keyboard keeps sounding.
  for (int channel = 0; channel < kFileChannels; ++channel) {
    fluid_synth_all_sounds_off(synth, channel);
    fluid_synth_cc(synth, channel, kResetAllControllers, 0);
    fluid_synth_program_change(synth, channel, 0);
  }
  player.reset(new_fluid_player(synth));
  if (!player) return;
  if (fluid_player_add_mem(player.get(), bytes.data(), bytes.size()) != FLUID_OK ||
      fluid_player_play(player.get()) != FLUID_OK) {
    DropPlayer();
    return;
  }
  // The player parses its file at its first clock tick; run that tick here, where
  // allocating is allowed, rather than in the audio callback. The block rendered for
  // it (1.5 ms) is dropped.
  std::array<float, kPrimeFrames> left{};
  std::array<float, kPrimeFrames> right{};
  float* out[2] = {left.data(), right.data()};
  fluid_synth_process(synth, kPrimeFrames, 2, out, 2, out);
  output.SetMidiPlayer(player.get());
}

void SMidiSource::Stop() {
  if (!player) return;
  // The player goes rather than being told to stop: its own stop releases the notes of
  // every channel at its next tick, the held live notes too.
  SAudioOutput::SynthHold hold(output);
  DropPlayer();
  ReleaseNotes();
}

bool SMidiSource::IsPlaying() const {
  return player && fluid_player_get_status(player.get()) == FLUID_PLAYER_PLAYING;
}

void SMidiSource::DropPlayer() {
  if (player && output.GetMidiPlayer() == player.get()) output.SetMidiPlayer(nullptr);
  player.reset();
}

void SMidiSource::ReleaseNotes() {
  fluid_synth_t* synth = output.Synth();
  for (int channel = 0; channel < kFileChannels; ++channel) {
    fluid_synth_cc(synth, channel, kSustainController, 0);
    fluid_synth_all_notes_off(synth, channel);
  }
}
