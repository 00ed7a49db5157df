#pragma once

#include <samplerate.h>

// Fixed numbers of playback: the output stream, the synth and where the SoundFonts are.
namespace zuroka::audio {

inline constexpr int kStreamRate = 44100;  // samples per second of the one output stream

// Drivers tried in turn for the output stream, as FluidSynth names them; "pulseaudio"
// is this layer's own (SPulseStream), first because it is the one measured under load
// (PipeWire desktops serve it too).
inline constexpr const char* kDrivers[] = {"pulseaudio", "pipewire", "alsa", "sdl2"};
inline constexpr const char* kOwnPulseDriver = "pulseaudio";

// General MIDI SoundFonts: the system's choice first, then those Debian installs.
inline constexpr const char* kSoundFontDir = "/usr/share/sounds/sf2";
inline constexpr const char* kSoundFonts[] = {
    "default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2", "MuseScore_General.sf2", "FluidR3_GS.sf2",
};
inline constexpr const char* kSoundFontPackage = "timgm6mb-soundfont";

// The synth has two banks of 16 channels: MIDI files play on 0..15, live notes on
// 16..31, so that stopping a file never cuts a key that is held on the keyboard.
inline constexpr int kFileChannels = 16;
inline constexpr int kLiveChannelBase = 16;
inline constexpr int kSynthChannels = 32;

// Synth output gain (FluidSynth's default is 0.2). A melody note of the engine's MIDI
// files (velocity 112, TimGM6mb) peaks at 0.6 and the file of the example tune plays at
// -19.7 dBFS RMS against -18.3 for its recording; notes that start together add up
// (four at once reach 0.83), and what goes past the limiter's ceiling is limited.
inline constexpr double kSynthGain = 1.8;

// The limiter at the end of the synth's mix: no sample of the synth's output is ever
// louder than the ceiling. The look-ahead lets the gain fall smoothly before a peak
// instead of cutting into it; the release brings it back without pumping.
inline constexpr float kLimiterCeiling = 0.891f;    // -1 dBFS
inline constexpr double kLimiterLookahead = 0.002;  // seconds (the synth's added delay)
inline constexpr double kLimiterRelease = 0.150;    // seconds to recover 63 % of the gain
inline constexpr int kLimiterMaxLookahead = 1024;   // frames, whatever the stream's rate

// Frames handled per step inside the audio callback (scratch buffers are this long).
inline constexpr int kMixChunk = 512;

// The output's latency, long enough for a busy desktop to keep the stream fed, short
// enough for a key of the keyboard strip to sound within 60 ms. FluidSynth's drivers
// get periods of 1024 frames (23 ms at 44100 Hz), two of them where the driver has a
// buffer of periods (ALSA); the PulseAudio stream has 40 ms of buffer and is asked for
// more every 10 ms.
inline constexpr int kPeriodFrames = 1024;
inline constexpr int kPeriods = 2;
inline constexpr double kPulseLatency = 0.040;  // seconds

// When the output has been silent this long (nothing playing, no key held, no voice
// sounding) the stream is closed, so that an idle program costs the machine nothing;
// the next Play or key press opens it again.
inline constexpr double kIdleStopSeconds = 0.5;
// How often the stream's keeper looks whether the output has gone quiet (seconds).
inline constexpr double kIdleCheckSeconds = 0.1;

// Streamed WAV playback, in frames at the stream's rate. The ring of decoded sound
// holds about three seconds; Play decodes the first 0.19 s itself before the sound
// starts, the decoding thread the rest, a block at a time, and it looks for room in
// the ring every 40 ms.
inline constexpr int kWavRingFrames = 131072;  // a power of two
inline constexpr int kWavPrefillFrames = 8192;
inline constexpr int kWavDecodeFrames = 4096;
inline constexpr double kWavDecodePollSeconds = 0.04;
// The converter for files at other rates: 121 dB of signal to noise, far beyond what
// 16-bit sound holds, at a third of the cost of libsamplerate's best.
inline constexpr int kResamplerType = SRC_SINC_MEDIUM_QUALITY;
// A file whose contents change under the player fades out over this many frames.
inline constexpr int kWavFadeFrames = 256;
// In Sink mode Render waits at most this long for the decoder (seconds).
inline constexpr double kSinkWaitSeconds = 5.0;

// Live messages waiting for the next audio block; more are dropped.
inline constexpr int kLiveQueueLength = 256;

// Name of the ALSA sequencer client and of its output port.
inline constexpr const char* kSequencerName = "Zuroka";

}  // namespace zuroka::audio
