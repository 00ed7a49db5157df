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

#include "SLimiter.h"
#include "SPulseStream.h"
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

SAudioOutput::SAudioOutput(Mode mode, int rate)
    : mode(mode),
      rate(rate > 0 ? rate : kStreamRate),
      synthLeft(kMixChunk, 0.0f),
      synthRight(kMixChunk, 0.0f),
      limiter(std::make_unique<SLimiter>(this->rate, kLimiterCeiling, kLimiterLookahead,
                                         kLimiterRelease, kLimiterMaxLookahead)) {
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
  // The callback and the interface thread never use the synth at once (SynthHold), so
  // it needs no lock of its own, and the callback takes none.
  fluid_settings_setint(s, "synth.threadsafe-api", 0);
  // The end of a file must not reset the synth under a live note.
  fluid_settings_setint(s, "player.reset-synth", 0);
  // The buffer of FluidSynth's drivers: its default period of 64 frames (1.5 ms)
  // starves whenever the desktop is busy.
  fluid_settings_setint(s, "audio.period-size", kPeriodFrames);
  fluid_settings_setint(s, "audio.periods", kPeriods);
  synth.reset(new_fluid_synth(s));
  if (synth && mode == Mode::Sink) {
    running = true;
    driverName = "sink";
  }
}

SAudioOutput::~SAudioOutput() {
  if (keeper.joinable()) {
    {
      std::lock_guard<std::mutex> guard(streamLock);
      keeperQuit = true;
    }
    keeperWake.notify_all();
    keeper.join();
  }
  // The stream's thread runs the callback on this object: stop it before anything goes.
  CloseStream();
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
  const bool own = std::string(name) == kOwnPulseDriver;
  if (!own && fluid_settings_setstr(settings.get(), "audio.driver", name) != FLUID_OK) {
    return false;
  }
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
  // A new stream starts its idle count from zero.
  quietFrames.store(0);
  wakeCount.fetch_add(1);
  if (own) {
    // FluidSynth's own PulseAudio driver sends its sound through a second thread of
    // normal priority and asks the server for one period of buffer: under load it
    // starves. This stream renders inside the server's request.
    pulse = SPulseStream::Open(rate, kPulseLatency, &SAudioOutput::PulseRender, this, error);
  } else {
    LogCapture capture(error);
    driver.reset(new_fluid_audio_driver2(settings.get(), &SAudioOutput::AudioCallback, this));
  }
  if (!IsStreamOpen()) return false;
  streamOpens.fetch_add(1);
  return true;
}

bool SAudioOutput::IsStreamOpen() const { return driver != nullptr || pulse != nullptr; }

void SAudioOutput::CloseStream() {
  if (pulse) pastUnderflows += pulse->GetUnderflows();
  pulse.reset();
  driver.reset();
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
  std::unique_lock<std::mutex> guard(streamLock);
  snd_lib_error_set_handler(&SilentAlsaError);
  available.emplace_back(kOwnPulseDriver);
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
    if (!keeper.joinable()) keeper = std::thread(&SAudioOutput::KeepStream, this);
    guard.unlock();
    keeperWake.notify_all();
    return true;
  }
  errorText = "No sound output device could be opened";
  if (!reasons.empty()) errorText += " (" + reasons + ")";
  errorText +=
      ". Check that a sound card is present and that a sound server (PipeWire or PulseAudio, "
      "Debian packages pipewire-pulse or pulseaudio) is running.";
  return false;
}

void SAudioOutput::Wake() {
  if (mode == Mode::Sink) return;
  std::unique_lock<std::mutex> guard(streamLock);
  if (!running) return;
  if (pulse && !pulse->IsGood()) CloseStream();  // the server went away meanwhile
  if (IsStreamOpen()) {
    // A Wake the callback has not seen yet keeps the stream open.
    wakeCount.fetch_add(1);
    return;
  }
  std::string ignored;
  snd_lib_error_set_handler(&SilentAlsaError);
  OpenDriver(driverName.c_str(), ignored);
  snd_lib_error_set_handler(nullptr);
  guard.unlock();
  keeperWake.notify_all();
}

bool SAudioOutput::IsStreaming() const {
  if (mode == Mode::Sink) return true;
  std::lock_guard<std::mutex> guard(streamLock);
  return IsStreamOpen();
}

int SAudioOutput::GetStreamUnderflows() const {
  std::lock_guard<std::mutex> guard(streamLock);
  return pastUnderflows + (pulse ? pulse->GetUnderflows() : 0);
}

void SAudioOutput::KeepStream() {
  const auto check = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(kIdleCheckSeconds));
  const auto idleFrames = static_cast<std::int64_t>(kIdleStopSeconds * rate);
  std::unique_lock<std::mutex> guard(streamLock);
  while (!keeperQuit) {
    if (!IsStreamOpen()) {
      keeperWake.wait(guard);
      continue;
    }
    keeperWake.wait_for(guard, check);
    // Quiet since a Wake that came after every Play and message: nothing is waiting
    // to be heard. Wake takes streamLock, so none can slip in before the close.
    // Or a stream the server dropped: it asks for nothing more, and the next Wake opens
    // a new one.
    const bool quiet = IsStreamOpen() && !keeperQuit && wakeSeen.load() == wakeCount.load() &&
                       quietFrames.load() >= idleFrames;
    if (quiet || (pulse && !pulse->IsGood())) CloseStream();
  }
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
  std::unique_lock<std::mutex> guard(writeLock);
  const std::uint32_t tail = liveTail.load(std::memory_order_relaxed);
  if (tail - liveHead.load(std::memory_order_acquire) >= kLiveQueueLength) return;
  liveQueue[tail % kLiveQueueLength] = msg;
  liveTail.store(tail + 1, std::memory_order_release);
  guard.unlock();
  Wake();
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

void SAudioOutput::PulseRender(void* data, float* left, float* right, int frames) {
  static_cast<SAudioOutput*>(data)->Mix(frames, left, right);
}

int SAudioOutput::AudioCallback(void* data, int len, int, float*[], int nout, float* out[]) {
  if (len > 0 && nout >= 2) static_cast<SAudioOutput*>(data)->Mix(len, out[0], out[1]);
  return FLUID_OK;
}

bool SAudioOutput::IsQuiet(SWavSource* wav) const {
  if (wav != nullptr && !wav->IsFinished()) return false;
  if (liveHead.load(std::memory_order_relaxed) != liveTail.load(std::memory_order_acquire)) {
    return false;
  }
  fluid_player_t* player = midiPlayer.load();
  if (player != nullptr && fluid_player_get_status(player) == FLUID_PLAYER_PLAYING) return false;
  return fluid_synth_get_active_voice_count(synth.get()) == 0;
}

void SAudioOutput::Mix(int frames, float* left, float* right) {
  // Odd while inside: the interface thread waits on this count, never the reverse.
  callbackCount.fetch_add(1);
  const std::uint64_t wake = wakeCount.load();
  SWavSource* wav = wavSource.load();
  if (wav != nullptr && mode == Mode::Sink) wav->WaitForFrames(frames, kSinkWaitSeconds);
  const bool held = synthHeld.load();
  if (!held) DrainLiveMessages();
  for (int done = 0; done < frames;) {
    const int n = std::min(frames - done, kMixChunk);
    float* l = left + done;
    float* r = right + done;
    if (held) {
      std::fill_n(l, n, 0.0f);
      std::fill_n(r, n, 0.0f);
    } else {
      std::fill_n(synthLeft.data(), n, 0.0f);
      std::fill_n(synthRight.data(), n, 0.0f);
      float* bus[2] = {synthLeft.data(), synthRight.data()};
      // Effects are off; their buffers are the dry ones.
      fluid_synth_process(synth.get(), n, 2, bus, 2, bus);
      limiter->Process(synthLeft.data(), synthRight.data(), n);
      std::copy_n(synthLeft.data(), n, l);
      std::copy_n(synthRight.data(), n, r);
    }
    if (wav != nullptr) wav->MixInto(l, r, n);
    done += n;
  }
  // Idle tracking for the keeper: quiet frames since the Wake seen at the block's start.
  if (wakeSeen.load() != wake) {
    quietFrames.store(0);
    wakeSeen.store(wake);
  }
  if (!held && IsQuiet(wav)) {
    quietFrames.store(quietFrames.load() + frames);
  } else {
    quietFrames.store(0);
  }
  callbackCount.fetch_add(1);
}

void SAudioOutput::Render(float* left, float* right, int frames) {
  if (mode != Mode::Sink || frames <= 0 || !synth) return;
  Mix(frames, left, right);
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
