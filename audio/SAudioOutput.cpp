#include "SAudioOutput.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#ifdef ZUROKA_AUDIO_SDL2
#include <SDL.h>
#endif

#include "SWavSource.h"

using namespace zuroka::audio;

namespace {

static_assert((kLiveQueueLength & (kLiveQueueLength - 1)) == 0,
              "the live queue's indexes wrap around 2^32, so its length must divide it");

// FluidSynth reports through one process-wide log function. Messages raised on a thread
// inside a LogCapture are kept for the error text; all others are dropped, so that the
// audio thread never prints and the program stays quiet as a desktop program should.
thread_local std::string* logTarget = nullptr;

void FluidLog(int level, const char* message, void*) {
  if (logTarget != nullptr && message != nullptr && level <= FLUID_ERR) {
    *logTarget = message;
  }
}

void InstallFluidLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level) {
      fluid_set_log_function(level, &FluidLog, nullptr);
    }
  });
}

// ALSA prints its own complaints while a driver is probed on a machine without a card.
void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

const char* DisplayName(const char* driver) {
  const std::string d = driver;
  if (d == "pipewire") return "PipeWire";
  if (d == "pulseaudio") return "PulseAudio";
  if (d == "alsa") return "ALSA";
  if (d == "sdl2") return "SDL2";
  return driver;
}

void CollectOption(void* data, const char*, const char* option) {
  static_cast<std::vector<std::string>*>(data)->emplace_back(option);
}

bool IsReadableFile(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::is_regular_file(p, ec) && ::access(p.c_str(), R_OK) == 0;
}

}  // namespace

void SAudioOutput::SettingsDeleter::operator()(fluid_settings_t* p) const {
  delete_fluid_settings(p);
}
void SAudioOutput::SynthDeleter::operator()(fluid_synth_t* p) const { delete_fluid_synth(p); }
void SAudioOutput::DriverDeleter::operator()(fluid_audio_driver_t* p) const {
  delete_fluid_audio_driver(p);
}

SAudioOutput::LogCapture::LogCapture(std::string& into) : previous(logTarget) { logTarget = &into; }
SAudioOutput::LogCapture::~LogCapture() { logTarget = previous; }

SAudioOutput::SAudioOutput(Mode mode, int rate) : mode(mode), rate(rate > 0 ? rate : kStreamRate) {
  InstallFluidLog();
  std::string ignored;
  LogCapture capture(ignored);
  settings.reset(new_fluid_settings());
  if (!settings) return;
  fluid_settings_t* s = settings.get();
  fluid_settings_setnum(s, "synth.sample-rate", this->rate);
  fluid_settings_setint(s, "synth.midi-channels", kSynthChannels);
  fluid_settings_setnum(s, "synth.gain", kSynthGain);
  // Dry sound: the MIDI file is compared with the recording note by note.
  fluid_settings_setint(s, "synth.reverb.active", 0);
  fluid_settings_setint(s, "synth.chorus.active", 0);
  // The end of a file must not reset the synth under a live note.
  fluid_settings_setint(s, "player.reset-synth", 0);
  synth.reset(new_fluid_synth(s));
  if (synth && mode == Mode::Sink) {
    running = true;
    driverName = "sink";
  }
}

SAudioOutput::~SAudioOutput() {
  // The driver's thread runs the callback on this object: stop it before anything goes.
  driver.reset();
#ifdef ZUROKA_AUDIO_SDL2
  if (sdlStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
#endif
}

std::shared_ptr<SAudioOutput> SAudioOutput::Shared() {
  static std::mutex lock;
  static std::weak_ptr<SAudioOutput> shared;
  std::lock_guard<std::mutex> guard(lock);
  std::shared_ptr<SAudioOutput> output = shared.lock();
  if (!output) {
    output = std::make_shared<SAudioOutput>(Mode::Device);
    shared = output;
  }
  return output;
}

bool SAudioOutput::OpenDriver(const char* name, std::string& error) {
  if (fluid_settings_setstr(settings.get(), "audio.driver", name) != FLUID_OK) return false;
#ifdef ZUROKA_AUDIO_SDL2
  // FluidSynth's SDL2 driver expects the program to have started SDL's audio.
  if (std::string(name) == "sdl2" && !sdlStarted) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      error = SDL_GetError();
      return false;
    }
    sdlStarted = true;
  }
#endif
  LogCapture capture(error);
  driver.reset(new_fluid_audio_driver2(settings.get(), &SAudioOutput::AudioCallback, this));
  return driver != nullptr;
}

bool SAudioOutput::Start() {
  if (running) return true;
  if (!synth) {
    errorText = "FluidSynth could not create its synthesizer (not enough memory?).";
    return false;
  }
  std::vector<std::string> available;
  fluid_settings_foreach_option(settings.get(), "audio.driver", &available, &CollectOption);

  std::string reasons;  // "PulseAudio: why; ALSA: why"
  snd_lib_error_set_handler(&SilentAlsaError);
  for (const char* name : kDrivers) {
    if (std::find(available.begin(), available.end(), name) == available.end()) continue;
    std::string error;
    if (OpenDriver(name, error)) {
      running = true;
      driverName = name;
      break;
    }
    reasons += reasons.empty() ? "" : "; ";
    reasons += std::string(DisplayName(name)) + ": " + (error.empty() ? "failed" : error);
  }
  snd_lib_error_set_handler(nullptr);
  if (running) {
    errorText.clear();
    return true;
  }
  errorText = "No sound output device could be opened";
  if (!reasons.empty()) errorText += " (" + reasons + ")";
  errorText +=
      ". Check that a sound card is present and that a sound server (PipeWire or PulseAudio, "
      "Debian packages pipewire-pulse or pulseaudio) is running.";
  return false;
}

std::string SAudioOutput::FindSoundFont(const std::string& dir) {
  namespace fs = std::filesystem;
  for (const char* name : kSoundFonts) {
    const fs::path p = fs::path(dir) / name;
    if (IsReadableFile(p)) return p.string();
  }
  // Any other SoundFont a package put there, in a stable order.
  std::vector<std::string> others;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (ext == ".sf2" && IsReadableFile(p)) others.push_back(p.string());
  }
  std::sort(others.begin(), others.end());
  return others.empty() ? std::string() : others.front();
}

bool SAudioOutput::LoadSoundFont() {
  if (soundFontId >= 0) return true;
  if (!synth) {
    soundFontError = "FluidSynth could not create its synthesizer (not enough memory?).";
    return false;
  }
  const std::string path = FindSoundFont(soundFontDir);
  if (path.empty()) {
    soundFontError = "No General MIDI SoundFont was found in " + soundFontDir +
                     "/ (default-GM.sf2, FluidR3_GM.sf2, TimGM6mb.sf2, ...). Install the Debian "
                     "package " +
                     std::string(kSoundFontPackage) + ".";
    return false;
  }
  std::string fluidError;
  {
    SynthHold hold(*this);
    LogCapture capture(fluidError);
    soundFontId = fluid_synth_sfload(synth.get(), path.c_str(), 1);
  }
  if (soundFontId < 0) {
    soundFontError = "The SoundFont " + path + " could not be loaded";
    if (!fluidError.empty()) soundFontError += " (" + fluidError + ")";
    soundFontError += ". Reinstall the package that brings it, or install " +
                      std::string(kSoundFontPackage) + ".";
    return false;
  }
  soundFontPath = path;
  soundFontError.clear();
  return true;
}

void SAudioOutput::PostShortMsg(std::uint32_t msg) {
  if (!running) return;
  const std::uint32_t status = msg & 0xFFu;
  // Channel messages only, and both data bytes 7-bit: a note above 127 packed into the
  // word would spill into the next byte.
  if (status < 0x80u || status >= 0xF0u || (msg & 0x00808000u) != 0 || (msg >> 24) != 0) return;
  std::lock_guard<std::mutex> guard(writeLock);
  const std::uint32_t tail = liveTail.load(std::memory_order_relaxed);
  if (tail - liveHead.load(std::memory_order_acquire) >= kLiveQueueLength) return;
  liveQueue[tail % kLiveQueueLength] = msg;
  liveTail.store(tail + 1, std::memory_order_release);
}

void SAudioOutput::DrainLiveMessages() {
  fluid_synth_t* s = synth.get();
  std::uint32_t head = liveHead.load(std::memory_order_relaxed);
  const std::uint32_t tail = liveTail.load(std::memory_order_acquire);
  for (; head != tail; ++head) {
    const std::uint32_t msg = liveQueue[head % kLiveQueueLength];
    const int channel = kLiveChannelBase + static_cast<int>(msg & 0x0Fu);
    const int data1 = static_cast<int>((msg >> 8) & 0x7Fu);
    const int data2 = static_cast<int>((msg >> 16) & 0x7Fu);
    switch (msg & 0xF0u) {
      case 0x80:
        fluid_synth_noteoff(s, channel, data1);
        break;
      case 0x90:
        if (data2 == 0) {
          fluid_synth_noteoff(s, channel, data1);
        } else {
          fluid_synth_noteon(s, channel, data1, data2);
        }
        break;
      case 0xA0:
        fluid_synth_key_pressure(s, channel, data1, data2);
        break;
      case 0xB0:
        fluid_synth_cc(s, channel, data1, data2);
        break;
      case 0xC0:
        fluid_synth_program_change(s, channel, data1);
        break;
      case 0xD0:
        fluid_synth_channel_pressure(s, channel, data1);
        break;
      case 0xE0:
        fluid_synth_pitch_bend(s, channel, data1 | (data2 << 7));
        break;
      default:
        break;
    }
  }
  liveHead.store(head, std::memory_order_release);
}

int SAudioOutput::AudioCallback(void* data, int len, int nfx, float* fx[], int nout, float* out[]) {
  if (len > 0 && nout >= 2) static_cast<SAudioOutput*>(data)->Mix(len, nfx, fx, nout, out);
  return FLUID_OK;
}

void SAudioOutput::Mix(int frames, int nfx, float* fx[], int nout, float* out[]) {
  // Odd while inside: the interface thread waits on this count, never the reverse.
  callbackCount.fetch_add(1);
  if (!synthHeld.load()) {
    DrainLiveMessages();
    // Without separate effect buffers the effects are mixed into the dry output.
    if (fx == nullptr || nfx == 0) {
      fluid_synth_process(synth.get(), frames, nout, out, nout, out);
    } else {
      fluid_synth_process(synth.get(), frames, nfx, fx, nout, out);
    }
  }
  if (SWavSource* wav = wavSource.load()) wav->MixInto(out[0], out[1], frames);
  callbackCount.fetch_add(1);
}

void SAudioOutput::Render(float* left, float* right, int frames) {
  if (mode != Mode::Sink || frames <= 0 || !synth) return;
  std::fill_n(left, frames, 0.0f);
  std::fill_n(right, frames, 0.0f);
  float* out[2] = {left, right};
  Mix(frames, 0, nullptr, 2, out);
}

void SAudioOutput::WaitForCallback() const {
  // The stores before this call are sequentially consistent with the callback's count
  // increment: a callback that starts after the load below sees them.
  const std::uint64_t count = callbackCount.load();
  if ((count & 1u) == 0) return;
  while (callbackCount.load() == count) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

void SAudioOutput::HoldSynth() {
  if (holdDepth++ > 0) return;
  synthHeld.store(true);
  WaitForCallback();
}

void SAudioOutput::ReleaseSynth() {
  if (holdDepth > 0 && --holdDepth == 0) synthHeld.store(false);
}

void SAudioOutput::SetWavSource(SWavSource* source) {
  SWavSource* old = wavSource.exchange(source);
  if (old != nullptr && old != source) WaitForCallback();
}
