#pragma once

#include <memory>
#include <string>

class SAudioOutput;
class SMidiSource;
class SWavSource;

// The main window's media player MP: opens one file by name, picking the device from
// its contents (a Standard MIDI File goes to the synth's MIDI player, any other sound
// file that libsndfile reads to the WAV player), plays it from the start without
// blocking, stops and closes it. At most one file is open. Two states: nothing open,
// and open (playing or finished); the end of playback changes neither.
//
// Threads: every method runs on the interface thread and returns without waiting for
// the sound, except that taking a file away from the audio callback waits for its
// current block (a few milliseconds). Playback itself runs on the output's audio thread.
class SMediaPlayer {
 public:
  enum class Device { None, Wave, Sequencer };

  // Plays through the program-wide output (SAudioOutput::Shared), opened at the first Open.
  SMediaPlayer();
  // Plays through output (a sink in the tests). output must not be null.
  explicit SMediaPlayer(std::shared_ptr<SAudioOutput> output);
  // Closes any open file.
  ~SMediaPlayer();
  SMediaPlayer(const SMediaPlayer&) = delete;
  SMediaPlayer& operator=(const SMediaPlayer&) = delete;

  void SetFileName(const std::string& name);
  const std::string& GetFileName() const { return fileName; }

  // Closes any open file first, then opens the file named by SetFileName on the
  // device its contents call for. A WAV file is streamed from the disk as it plays
  // and held locked shared until Close; a MIDI file is read whole. False when it
  // cannot be opened: nothing is open then, and GetErrorText names the file and the
  // cause (and the Debian package that brings what is missing, where one does).
  bool Open();
  // The cause of the last failed Open (empty after a successful one).
  std::string GetErrorText() const { return errorText; }
  // Starts the open file from its beginning and returns at once; a file that is
  // playing starts over. Nothing happens when no file is open.
  void Play();
  // Stops the sound; the file stays open. Nothing happens when no file is open.
  void Stop();
  // Stops and lets go of the file (and its lock); does nothing when none is open.
  void Close();
  bool IsOpen() const { return device != Device::None; }

  // The device of the open file, and whether it still sounds.
  Device GetDevice() const { return device; }
  bool IsPlaying() const;

 private:
  bool Fail(const std::string& cause);

  std::shared_ptr<SAudioOutput> output;  // null until the first Open (default form)
  std::string fileName;
  std::string errorText;
  Device device = Device::None;
  bool wavPlaying = false;  // the WAV is given to the output
  std::unique_ptr<SWavSource> wav;
  std::unique_ptr<SMidiSource> midi;
};
