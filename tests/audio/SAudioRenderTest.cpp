// What the output stream sounds like, pulled from a sink: WAV samples, resampled WAVs,
// the engine's MIDI files through the synth, live notes, and the level of the two files.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "AudioTestSupport.h"
#include "ExampleMelody.h"
#include "SAudioOutput.h"
#include "SLiveNoteSink.h"
#include "SMediaPlayer.h"

namespace {

// Tolerances.
constexpr double kPitchCents = 30;        // a note is heard at its pitch within this
constexpr double kTimingSeconds = 0.035;  // notes start within this of the grid's time
constexpr double kSilence = 1e-4;         // peak of what counts as silence
constexpr double kLevelMatchDb = 3.0;     // MIDI file against its recording

constexpr std::uint32_t kNoteOn = 0x90;
constexpr std::uint32_t kNoteOff = 0x80;
constexpr std::uint32_t kVelocity = 112;

std::uint32_t Pack(std::uint32_t status, std::uint32_t data1, std::uint32_t data2) {
  return status + data1 * 256 + data2 * 65536;
}

double Cents(double hz, double reference) { return 1200.0 * std::log2(hz / reference); }

class AudioRender : public ::testing::Test {
 protected:
  std::shared_ptr<SAudioOutput> sink = std::make_shared<SAudioOutput>(SAudioOutput::Mode::Sink);
  TempDir dir;
};

TEST_F(AudioRender, WavAtTheStreamRateGivesBackItsSamples) {
  // Left a sine, right a ramp of every 37th value: the channels must not swap or mix.
  constexpr int kFrames = 10007;
  std::vector<std::int16_t> stereo;
  const std::vector<std::int16_t> sine =
      Sine(997, static_cast<double>(kFrames) / kRate, kRate, 0.7);
  for (int i = 0; i < kFrames; ++i) {
    stereo.push_back(sine[static_cast<std::size_t>(i)]);
    stereo.push_back(static_cast<std::int16_t>((i * 37) % 65536 - 32768));
  }
  const std::string path = dir / "stereo.wav";
  ASSERT_TRUE(WriteWav16(path, stereo, 2, kRate));

  SMediaPlayer player(sink);
  player.SetFileName(path);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  player.Play();
  const Stereo out = RenderSeconds(*sink, 0.3);
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(out.left[static_cast<std::size_t>(i)],
              stereo[2 * static_cast<std::size_t>(i)] / 32768.0f)
        << i;
    ASSERT_EQ(out.right[static_cast<std::size_t>(i)],
              stereo[2 * static_cast<std::size_t>(i) + 1] / 32768.0f)
        << i;
  }
  EXPECT_LT(Peak(out.left, kFrames, out.Size()), kSilence) << "sound after the end of the file";
  EXPECT_LT(Peak(out.right, kFrames, out.Size()), kSilence);

  // A mono file sounds on both sides alike.
  const std::string mono = dir / "mono.wav";
  ASSERT_TRUE(WriteWav16(mono, sine, 1, kRate));
  player.SetFileName(mono);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  player.Play();
  const Stereo m = RenderSeconds(*sink, 0.25);
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(m.left[static_cast<std::size_t>(i)], sine[static_cast<std::size_t>(i)] / 32768.0f)
        << i;
    ASSERT_EQ(m.right[static_cast<std::size_t>(i)], m.left[static_cast<std::size_t>(i)]) << i;
  }
}

class WavAtOtherRate : public AudioRender, public ::testing::WithParamInterface<int> {};

TEST_P(WavAtOtherRate, PlaysAtTrueSpeedAndPitch) {
  const int fileRate = GetParam();
  constexpr double kHz = 440;
  constexpr double kSeconds = 0.5;
  const std::string path = dir / "sine.wav";
  ASSERT_TRUE(WriteWav16(path, Sine(kHz, kSeconds, fileRate, 0.5), 1, fileRate));

  SMediaPlayer player(sink);
  player.SetFileName(path);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  player.Play();
  const Stereo out = RenderSeconds(*sink, 0.8);

  const double hz = PitchHz(out.left, Frames(0.1), 4096);
  EXPECT_NEAR(Cents(hz, kHz), 0, 5) << hz << " Hz from a file at " << fileRate << " Hz";
  // Half a second of sound at the stream's rate, then silence.
  std::size_t last = 0;
  for (std::size_t i = 0; i < out.Size(); ++i) {
    if (std::fabs(out.left[i]) > 0.01) last = i;
  }
  EXPECT_NEAR(static_cast<double>(last) / kRate, kSeconds, 0.005);
  EXPECT_NEAR(Rms(out.left, Frames(0.1), Frames(0.3)), 0.5 / std::sqrt(2.0), 0.01);
  EXPECT_FALSE(player.IsPlaying());
}

INSTANTIATE_TEST_SUITE_P(Rates, WavAtOtherRate, ::testing::Values(22050, 48000, 8000));

TEST_F(AudioRender, MidiFileFromTheGridsSoundsAtTheNotesPitchesAndTimes) {
  // A melody with leaps, a rest and a low note, each note on its own row of the grids.
  const std::vector<GridNote> notes = {
      {60, 8, 29}, {64, 30, 51}, {67, 52, 69}, {72, 70, 95}, {57, 110, 131}, {69, 132, 150},
  };
  const std::string path = dir / "grid.mid";
  ASSERT_TRUE(WriteGridMidi(path, notes));

  SMediaPlayer player(sink);
  player.SetFileName(path);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  EXPECT_EQ(player.GetDevice(), SMediaPlayer::Device::Sequencer);
  player.Play();
  const Stereo out = RenderSeconds(*sink, SecondsOfFrame(notes.back().endFrame) + 0.5);

  constexpr std::size_t kWindow = 2048;
  for (std::size_t i = 0; i < notes.size(); ++i) {
    const double start = SecondsOfFrame(notes[i].startFrame);
    SCOPED_TRACE("note " + std::to_string(notes[i].note) + " at " + std::to_string(start) + " s");
    // Just after the note's start its own pitch sounds...
    const double hz = PitchHz(out.left, Frames(start + kTimingSeconds), kWindow);
    EXPECT_NEAR(Cents(hz, HzOfNote(notes[i].note)), 0, kPitchCents) << hz << " Hz";
    // ...and just before it the note before it, or silence after a rest.
    const std::size_t before = Frames(start - kTimingSeconds) - kWindow;
    if (i > 0 && notes[i - 1].endFrame + 1 == notes[i].startFrame) {
      const double prev = PitchHz(out.left, before, kWindow);
      EXPECT_NEAR(Cents(prev, HzOfNote(notes[i - 1].note)), 0, kPitchCents) << prev << " Hz";
    } else {
      EXPECT_LT(Rms(out.left, before, kWindow),
                0.05 * Rms(out.left, Frames(start + kTimingSeconds), kWindow));
    }
  }
  // The file's end stops the sound and changes nothing else (the player counts as
  // playing until its last voices have died away, and a grace of two seconds).
  EXPECT_LT(Rms(out.left, out.Size() - Frames(0.1), Frames(0.1)),
            0.01 * Rms(out.left, Frames(0.5), Frames(0.1)));
  RenderSeconds(*sink, 4.0);
  EXPECT_FALSE(player.IsPlaying());
  EXPECT_TRUE(player.IsOpen());
}

TEST_F(AudioRender, LiveNoteSoundsMiddleCThenDecays) {
  SLiveNoteSink sinkNotes(sink, false);
  ASSERT_TRUE(sinkNotes.HasSynth()) << sink->GetSoundFontError();

  sinkNotes.ShortMsg(Pack(kNoteOn, 60, kVelocity));
  const Stereo held = RenderSeconds(*sink, 0.5);
  const double hz = PitchHz(held.left, Frames(0.1), 4096);
  EXPECT_NEAR(Cents(hz, HzOfNote(60)), 0, kPitchCents) << hz << " Hz";
  const double heldRms = Rms(held.left, Frames(0.3), Frames(0.2));
  EXPECT_GT(heldRms, 0.01);

  sinkNotes.ShortMsg(Pack(kNoteOff, 60, kVelocity));
  const Stereo released = RenderSeconds(*sink, 1.0);
  const double early = Rms(released.left, 0, Frames(0.05));
  const double late = Rms(released.left, Frames(0.9), Frames(0.1));
  EXPECT_LT(late, 0.01 * heldRms) << "the note did not end";
  EXPECT_LT(late, early);
}

TEST_F(AudioRender, LiveMessagesThatAreNotNotesOfSevenBitDataStaySilent) {
  SLiveNoteSink notes(sink, false);
  notes.ShortMsg(0x90 + 200u * 256 + 112u * 65536);  // a note above 127 spills into data 2
  notes.ShortMsg(Pack(0x3C, 0x70, 0));               // no status byte
  notes.ShortMsg(Pack(kNoteOn, 60, kVelocity) + (1u << 24));
  const Stereo out = RenderSeconds(*sink, 0.2);
  EXPECT_LT(Peak(out.left, 0, out.Size()), kSilence);
}

TEST_F(AudioRender, ALiveNoteKeepsSoundingWhileAMidiFileStartsAndStops) {
  const std::string path = dir / "m.mid";
  ASSERT_TRUE(WriteGridMidi(path, {{64, 0, 40}, {67, 41, 80}}));
  // The live note alone, then the same note while a file starts, plays and stops: the
  // file must leave the held key as it was.
  auto holdNote = [&](bool withFile) {
    auto output = std::make_shared<SAudioOutput>(SAudioOutput::Mode::Sink);
    SLiveNoteSink notes(output, false);
    SMediaPlayer player(output);
    player.SetFileName(path);
    EXPECT_TRUE(player.Open()) << player.GetErrorText();
    notes.ShortMsg(Pack(kNoteOn, 48, kVelocity));
    RenderSeconds(*output, 0.2);
    if (withFile) player.Play();
    RenderSeconds(*output, 0.2);
    player.Stop();
    player.Close();
    return RenderSeconds(*output, 0.6);
  };
  const Stereo alone = holdNote(false);
  const Stereo after = holdNote(true);
  const double hz = PitchHz(after.left, Frames(0.4), 4096);
  EXPECT_NEAR(Cents(hz, HzOfNote(48)), 0, kPitchCents) << hz << " Hz";
  EXPECT_NEAR(Decibels(Rms(after.left, Frames(0.4), Frames(0.15))),
              Decibels(Rms(alone.left, Frames(0.4), Frames(0.15))), 1.0);
}

TEST_F(AudioRender, MidiFileSoundsAboutAsLoudAsItsRecording) {
  std::vector<std::pair<int, double>> tune;
  for (const zuroka::MelodyNote& n : zuroka::ExampleTune(8.0)) tune.emplace_back(n.note, n.seconds);
  ConvertedMelody melody;
  ASSERT_TRUE(ConvertMelody(dir / "tune.wav", tune, melody, false));

  SMediaPlayer player(sink);
  player.SetFileName(melody.wavPath);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  player.Play();
  const Stereo wav = RenderSeconds(*sink, 8.0);
  player.SetFileName(melody.midiPath);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  player.Play();
  const Stereo mid = RenderSeconds(*sink, 8.0);

  const double wavDb = Decibels(Rms(wav.left, 0, wav.Size()));
  const double midDb = Decibels(Rms(mid.left, 0, mid.Size()));
  RecordProperty("wav_rms_dbfs", std::to_string(wavDb));
  RecordProperty("midi_rms_dbfs", std::to_string(midDb));
  std::printf("RMS: recording %.2f dBFS, MIDI file %.2f dBFS (peaks %.3f / %.3f)\n", wavDb, midDb,
              Peak(wav.left, 0, wav.Size()), Peak(mid.left, 0, mid.Size()));
  EXPECT_NEAR(midDb, wavDb, kLevelMatchDb);
  EXPECT_LT(Peak(mid.left, 0, mid.Size()), 1.0) << "the synth clips";
}

}  // namespace
