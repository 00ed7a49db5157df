#pragma once

#include <fluidsynth/types.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AudioConstants.h"
#include "SLimiter.h"

class SPulseStream;
class SWavSource;

// The program's one output stream: a FluidSynth synth (MIDI files and live notes) and
// the WAV being played, mixed in one audio callback and sent to the first driver that
// opens (for PulseAudio a stream of its own, SPulseStream; FluidSynth's drivers for
// PipeWire, ALSA and SDL2). The synth's part goes through a limiter, so that dense
// chords never clip; the WAV is passed through sample for sample. In Sink mode there is
// no driver: the caller pulls the mixed audio with Render, as the tests do.
//
// The stream runs only while there is something to hear: once the output has been
// silent for kIdleStopSeconds (no WAV or MIDI file playing, no voice sounding, no live
// message waiting) a keeper thread closes the driver, and Wake, which every Play and
// live message calls, opens it again. Closed, the stream costs no CPU at all, in the
// program or in the sound server.
//
// Threads. Every method but Render, the audio callback and PostShortMsg runs on the
// interface thread. The audio callback runs on the driver's thread (in Sink mode: the
// thread that calls Render; only one thread may render). It never allocates, never
// locks and never waits; the interface thread instead waits for the callback to finish
// its current block (at most one period) whenever it takes something away from it: see
// HoldSynth and SetWavSource. The callback's buffers are the driver's and valid only
// during the call. The synth is FluidSynth's single-threaded kind: the callback and the
// interface thread (under a SynthHold) never use it at the same time.
class SAudioOutput {
 public:
  enum class Mode {
    Device,  // a real output stream, opened by Start
    Sink,    // no device: Render pulls the audio by hand
  };

  // Creates the synth (no SoundFont yet, no driver). rate: samples per second, > 0.
  explicit SAudioOutput(Mode mode = Mode::Device, int rate = zuroka::audio::kStreamRate);
  ~SAudioOutput();
  SAudioOutput(const SAudioOutput&) = delete;
  SAudioOutput& operator=(const SAudioOutput&) = delete;

  // The program-wide device output, created on first use and shared by the media
  // player and the live notes; it closes when its last holder lets go.
  static std::shared_ptr<SAudioOutput> Shared();

  // Opens the stream if no driver has been found yet, trying the drivers in turn. True
  // when one opened (always in Sink mode); otherwise GetErrorText says why. The stream
  // then closes by itself when idle and opens again on Wake.
  bool Start();
  // True once Start has found a driver (the stream may be closed while idle).
  bool IsRunning() const { return running.load(); }
  // Opens the stream again if it was closed while idle, with the driver Start found,
  // and keeps it open for at least kIdleStopSeconds. Called before anything is to be
  // heard; a driver that no longer opens leaves the output silent. Any thread.
  void Wake();
  // True while a driver is open (Device mode) or always (Sink mode).
  bool IsStreaming() const;
  Mode GetMode() const { return mode; }
  int GetSampleRate() const { return rate; }
  // Driver in use ("pulseaudio", ...), "sink", or empty while none is open.
  const std::string& GetDriverName() const { return driverName; }
  // Why the last Start failed.
  const std::string& GetErrorText() const { return errorText; }

  // The folder searched for a General MIDI SoundFont (default /usr/share/sounds/sf2).
  void SetSoundFontDir(const std::string& dir) { soundFontDir = dir; }
  // Loads the first SoundFont found, once. True when one is loaded; otherwise
  // GetSoundFontError says what is missing and which package brings it.
  bool LoadSoundFont();
  bool HasSoundFont() const { return soundFontId >= 0; }
  const std::string& GetSoundFontPath() const { return soundFontPath; }
  const std::string& GetSoundFontError() const { return soundFontError; }
  // The SoundFont that LoadSoundFont would pick in dir, or empty when there is none.
  static std::string FindSoundFont(const std::string& dir);

  // Queues one packed MIDI channel message (status + data1 * 256 + data2 * 65536) for
  // the synth and wakes the stream; it sounds from the next audio block. Channel c
  // plays on synth channel 16 + c. Dropped while no driver has been found, when the
  // queue is full, or when the message is not a channel message with 7-bit data. Any
  // thread.
  void PostShortMsg(std::uint32_t msg);

  // Sink mode: mixes frames of audio into left and right (overwritten). Frames >= 0.
  // It stands in for a device's clock, which the WAV decoder keeps pace with: it waits
  // for the decoder (kSinkWaitSeconds at most) rather than leaving a gap. Does nothing
  // in Device mode.
  void Render(float* left, float* right, int frames);

  // The synth, for the sources, valid for the object's life (null only when FluidSynth
  // could not create it); touch it on the interface thread only under a SynthHold.
  fluid_synth_t* Synth() { return synth.get(); }
  // FluidSynth's settings, to adjust the drivers before Start (audio.alsa.device, ...).
  fluid_settings_t* Settings() { return settings.get(); }
  // Keeps the audio callback away from the synth until ReleaseSynth, so that players
  // can be created and deleted and the synth reset safely. Waits for the callback's
  // current block to end. Meanwhile the synth part of the output is silent.
  void HoldSynth();
  void ReleaseSynth();
  // HoldSynth for a scope.
  class SynthHold {
   public:
    explicit SynthHold(SAudioOutput& output) : output(output) { output.HoldSynth(); }
    ~SynthHold() { output.ReleaseSynth(); }
    SynthHold(const SynthHold&) = delete;
    SynthHold& operator=(const SynthHold&) = delete;

   private:
    SAudioOutput& output;
  };
  // Collects FluidSynth's error messages raised on this thread during its scope (the
  // last one wins); all other messages are dropped, so that nothing is printed.
  class LogCapture {
   public:
    explicit LogCapture(std::string& into);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

   private:
    std::string* previous;
  };
  // Makes source the WAV that the callback mixes in (null: none). When this replaces
  // a source, it returns only once the callback no longer uses the old one.
  void SetWavSource(SWavSource* source);
  // The MIDI player whose file is playing (null: none), so that the stream stays open
  // through the file's rests. Set and cleared under a SynthHold.
  void SetMidiPlayer(fluid_player_t* player) { midiPlayer.store(player); }
  fluid_player_t* GetMidiPlayer() const { return midiPlayer.load(); }

  // The limiter's ceiling: no sample of the synth's part is louder.
  static float GetLimiterCeiling() { return zuroka::audio::kLimiterCeiling; }
  // Times the stream has been opened since this object was made (Device mode).
  int GetStreamOpenCount() const { return streamOpens.load(); }
  // Times the PulseAudio server ran out of the stream's sound since this object was made.
  int GetStreamUnderflows() const;

 private:
  struct SettingsDeleter {
    void operator()(fluid_settings_t* p) const;
  };
  struct SynthDeleter {
    void operator()(fluid_synth_t* p) const;
  };
  struct DriverDeleter {
    void operator()(fluid_audio_driver_t* p) const;
  };

  static int AudioCallback(void* data, int len, int nfx, float* fx[], int nout, float* out[]);
  static void PulseRender(void* data, float* left, float* right, int frames);
  // The mix of one block: live messages, synth through the limiter, WAV. Writes out.
  void Mix(int frames, float* left, float* right);
  void DrainLiveMessages();
  // Whether anything of this block is still to be heard (the callback's view).
  bool IsQuiet(SWavSource* wav) const;
  // Returns once no callback that began before this call is still running.
  void WaitForCallback() const;
  // Opens the driver; the caller holds streamLock.
  bool OpenDriver(const char* name, std::string& error);
  // Whether a stream is open, and closing it; the caller holds streamLock.
  bool IsStreamOpen() const;
  void CloseStream();
  // Closes the stream when the callback has found it idle long enough.
  void KeepStream();

  Mode mode;
  int rate;
  std::atomic<bool> running{false};
  bool sdlStarted = false;
  int holdDepth = 0;
  int soundFontId = -1;
  std::string driverName;
  std::string errorText;
  std::string soundFontDir = zuroka::audio::kSoundFontDir;
  std::string soundFontPath;
  std::string soundFontError;

  // Shared with the audio callback.
  std::atomic<std::uint64_t> callbackCount{0};  // odd while a callback runs
  std::atomic<bool> synthHeld{false};
  std::atomic<SWavSource*> wavSource{nullptr};
  std::atomic<fluid_player_t*> midiPlayer{nullptr};
  // Idle tracking: Wake counts up; the callback counts the quiet frames since the last
  // Wake it saw and publishes which Wake that was.
  std::atomic<std::uint64_t> wakeCount{0};
  std::atomic<std::uint64_t> wakeSeen{0};
  std::atomic<std::int64_t> quietFrames{0};
  std::atomic<int> streamOpens{0};
  // Live messages: a ring with one reader (the callback); writers take writeLock.
  std::array<std::uint32_t, zuroka::audio::kLiveQueueLength> liveQueue{};
  std::atomic<std::uint32_t> liveHead{0};  // next slot to read
  std::atomic<std::uint32_t> liveTail{0};  // next slot to write
  std::mutex writeLock;

  // Audio thread only: the synth's part of a block, and its limiter.
  std::vector<float> synthLeft;
  std::vector<float> synthRight;
  std::unique_ptr<SLimiter> limiter;

  // The driver and the keeper thread that closes it when idle: under streamLock.
  mutable std::mutex streamLock;
  std::condition_variable keeperWake;
  bool keeperQuit = false;
  int pastUnderflows = 0;  // of the streams closed so far
  std::thread keeper;

  // Owned C handles in creation order; the driver, created last, is deleted first.
  std::unique_ptr<fluid_settings_t, SettingsDeleter> settings;
  std::unique_ptr<fluid_synth_t, SynthDeleter> synth;
  std::unique_ptr<fluid_audio_driver_t, DriverDeleter> driver;
  std::unique_ptr<SPulseStream> pulse;  // instead of a driver, for PulseAudio
};
