#pragma once

#include <fluidsynth/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class SAudioOutput;

// One Standard MIDI File held for playback through FluidSynth's MIDI player on the
// output's synth (channels 0..15). The file is read whole and checked when it is
// loaded, so that a later change or deletion of the file does not touch playback.
//
// Threads: every method runs on the interface thread. The player is driven by the
// synth's sample clock inside the audio callback; it is created, primed and deleted
// only while the output holds the synth away from the callback, and it parses the
// file at that moment, so the callback never allocates for it.
class SMidiSource {
 public:
  // output must outlive the source.
  explicit SMidiSource(SAudioOutput& output);
  ~SMidiSource();
  SMidiSource(const SMidiSource&) = delete;
  SMidiSource& operator=(const SMidiSource&) = delete;

  // Takes the bytes of the file and checks its chunks (header, division, tracks). On
  // failure returns false with error set to the cause (no file name).
  bool Load(std::vector<std::uint8_t> bytes, std::string& error);
  // Plays from the first tick on a freshly reset bank of file channels and wakes the
  // output's stream; returns at once.
  void Play();
  // Stops playback (the player goes) and releases the file's sounding notes.
  void Stop();
  // True from Play while the file has events left to send, until Stop.
  bool IsPlaying() const;

  // The cause when the bytes are not a Standard MIDI File that can be played, or
  // empty when they are.
  static std::string CheckFile(const std::vector<std::uint8_t>& bytes);

 private:
  struct PlayerDeleter {
    void operator()(fluid_player_t* p) const;
  };
  // Play's work on the synth, under its hold.
  void Start();
  // Deletes the player; the caller holds the synth.
  void DropPlayer();
  // Sounding notes of the file channels end (released, not cut).
  void ReleaseNotes();

  SAudioOutput& output;
  std::vector<std::uint8_t> bytes;
  std::unique_ptr<fluid_player_t, PlayerDeleter> player;
};
