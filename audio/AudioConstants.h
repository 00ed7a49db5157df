#pragma once

// Fixed numbers of playback: the output stream, the synth and where the SoundFonts are.
namespace zuroka::audio {

inline constexpr int kStreamRate = 44100;  // samples per second of the one output stream

// Drivers tried in turn for the output stream, as FluidSynth names them.
inline constexpr const char* kDrivers[] = {"pipewire", "pulseaudio", "alsa", "sdl2"};

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

// Synth output gain (FluidSynth's default is 0.2). Chosen so that the MIDI file of a
// melody sounds about as loud as its recording: for the example tune (harmonic tones,
// peak 12000 of 32767) the recording renders at -18.3 dBFS RMS and the MIDI file the
// engine writes for it at -18.8 dBFS on TimGM6mb (velocity 112, peak 0.66).
inline constexpr double kSynthGain = 2.0;

// Frames handled per step inside the audio callback (scratch buffers are this long).
inline constexpr int kMixChunk = 512;

// Live messages waiting for the next audio block; more are dropped.
inline constexpr int kLiveQueueLength = 256;

// Name of the ALSA sequencer client and of its output port.
inline constexpr const char* kSequencerName = "Zuroka";

}  // namespace zuroka::audio
