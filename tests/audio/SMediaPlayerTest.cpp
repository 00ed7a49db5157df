// The media player's states and order of operations, its failures, its hold on the WAV
// file, and closing while the audio thread renders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include "AudioTestSupport.h"
#include "SAudioOutput.h"
#include "SEngine.h"
#include "SLiveNoteSink.h"
#include "SMediaPlayer.h"

namespace {

constexpr double kSilence = 1e-4;  // peak of what counts as silence
constexpr double kPitchCents = 30;

using Device = SMediaPlayer::Device;

double Cents(double hz, double reference) { return 1200.0 * std::log2(hz / reference); }

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// True when the file can be locked for exclusive use, as the engine's reader does.
bool CanLockExclusively(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return locked;
}

class MediaPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteWav16(wavPath, Sine(440, 1.0, kRate, 0.5), 1, kRate));
    ASSERT_TRUE(WriteWav16(shortWavPath, Sine(440, 0.1, kRate, 0.5), 1, kRate));
    // Notes 72 then 76, each about half a second.
    ASSERT_TRUE(WriteGridMidi(midiPath, {{72, 0, 20}, {76, 21, 41}}));
  }

  // Plays what is open and returns the pitch heard in the first 0.2 s.
  double HeardHz() {
    const Stereo out = RenderSeconds(*sink, 0.2);
    return PitchHz(out.left, Frames(0.05), 4096);
  }

  std::shared_ptr<SAudioOutput> sink = std::make_shared<SAudioOutput>(SAudioOutput::Mode::Sink);
  TempDir dir;
  std::string wavPath = dir / "a.wav";
  std::string shortWavPath = dir / "short.wav";
  std::string midiPath = dir / "a.mid";
  SMediaPlayer player{sink};
};

TEST_F(MediaPlayer, PlayWavThenPlayMidiReplacesThePlaybackFromTheMidiFilesStart) {
  player.SetFileName(wavPath);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  EXPECT_EQ(player.GetDevice(), Device::Wave);
  player.Play();
  EXPECT_NEAR(Cents(HeardHz(), 440), 0, kPitchCents);
  EXPECT_FALSE(CanLockExclusively(wavPath)) << "the WAV is not held while it plays";

  player.SetFileName(midiPath);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  EXPECT_EQ(player.GetDevice(), Device::Sequencer);
  EXPECT_TRUE(CanLockExclusively(wavPath)) << "opening the MIDI file did not close the WAV";
  player.Play();
  // The first note of the file, and nothing of the WAV.
  EXPECT_NEAR(Cents(HeardHz(), HzOfNote(72)), 0, kPitchCents);
  EXPECT_EQ(player.GetFileName(), midiPath);
}

TEST_F(MediaPlayer, PlayAgainStartsOverFromTheBeginning) {
  // A ramp: any sample tells where in the file playback is.
  std::vector<std::int16_t> ramp(20000);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::int16_t>(i);
  const std::string path = dir / "ramp.wav";
  ASSERT_TRUE(WriteWav16(path, ramp, 1, kRate));
  player.SetFileName(path);
  ASSERT_TRUE(player.Open());
  player.Play();
  RenderSeconds(*sink, 0.1);
  player.Play();
  const Stereo out = RenderSeconds(*sink, 0.01);
  EXPECT_EQ(out.left[0], 0.0f);
  EXPECT_EQ(out.left[100], 100 / 32768.0f);

  // Stop, then Play: from the start again.
  player.Stop();
  EXPECT_LT(Peak(RenderSeconds(*sink, 0.05).left, 0, Frames(0.05)), kSilence);
  EXPECT_TRUE(player.IsOpen());
  player.Play();
  EXPECT_EQ(RenderSeconds(*sink, 0.01).left[5], 5 / 32768.0f);
}

TEST_F(MediaPlayer, TheEndOfPlaybackChangesNothingAndStopThenCloses) {
  for (const std::string& path : {shortWavPath, midiPath}) {
    SCOPED_TRACE(path);
    player.SetFileName(path);
    ASSERT_TRUE(player.Open()) << player.GetErrorText();
    player.Play();
    EXPECT_TRUE(player.IsPlaying());
    // Past the end, the last voices' release and the MIDI player's grace.
    RenderSeconds(*sink, 5.0);
    EXPECT_FALSE(player.IsPlaying());
    EXPECT_TRUE(player.IsOpen()) << "the end of the media closed the device";
    EXPECT_LT(Peak(RenderSeconds(*sink, 0.1).left, 0, Frames(0.1)), kSilence);
    player.Stop();
    EXPECT_TRUE(player.IsOpen());
    player.Close();
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(player.GetDevice(), Device::None);
    player.Close();  // nothing open: nothing happens
    player.Stop();
    player.Play();
    EXPECT_LT(Peak(RenderSeconds(*sink, 0.1).left, 0, Frames(0.1)), kSilence);
  }
}

TEST_F(MediaPlayer, StopSilencesAMidiFileWithinItsRelease) {
  player.SetFileName(midiPath);
  ASSERT_TRUE(player.Open());
  player.Play();
  const double playing = Rms(RenderSeconds(*sink, 0.2).left, Frames(0.1), Frames(0.1));
  player.Stop();
  player.Close();
  const Stereo after = RenderSeconds(*sink, 0.5);
  EXPECT_LT(Rms(after.left, Frames(0.4), Frames(0.1)), 0.01 * playing);
}

TEST_F(MediaPlayer, TheWavIsHeldFromTheEngineUntilClose) {
  player.SetFileName(wavPath);
  ASSERT_TRUE(player.Open());
  player.Play();
  SWavFile reader;
  EXPECT_EQ(reader.Open(wavPath), SWavFile::kCannotOpen);
  EXPECT_EQ(reader.GetFailure(), SWavFile::Failure::NoAccess);
  player.Stop();
  EXPECT_EQ(reader.Open(wavPath), SWavFile::kCannotOpen) << "Stop alone does not close";
  player.Close();
  EXPECT_EQ(reader.Open(wavPath), SWavFile::kLoaded);

  // And the other way round: a file another program holds exclusively cannot be opened.
  const int fd = ::open(wavPath.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(player.Open());
  EXPECT_NE(player.GetErrorText().find("in use by another program"), std::string::npos)
      << player.GetErrorText();
  ::close(fd);
  EXPECT_TRUE(player.Open()) << player.GetErrorText();
}

TEST_F(MediaPlayer, ADeletedMidiFileGivesAnErrorAndLeavesNothingOpen) {
  player.SetFileName(wavPath);
  ASSERT_TRUE(player.Open());
  player.Play();
  ASSERT_EQ(std::remove(midiPath.c_str()), 0);
  player.SetFileName(midiPath);
  EXPECT_FALSE(player.Open());
  EXPECT_FALSE(player.IsOpen());
  EXPECT_EQ(player.GetErrorText(), midiPath + ": the file does not exist.");
  EXPECT_LT(Peak(RenderSeconds(*sink, 0.1).left, 0, Frames(0.1)), kSilence)
      << "the WAV played on after the failed open";
  EXPECT_TRUE(CanLockExclusively(wavPath));
  player.Play();  // no device: nothing happens
  EXPECT_FALSE(player.IsPlaying());
}

TEST_F(MediaPlayer, FilesThatCannotBePlayedFailCleanlyWithTheirCause) {
  std::vector<std::uint8_t> midi;
  {
    std::ifstream f(midiPath, std::ios::binary);
    midi.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  ASSERT_GT(midi.size(), 30u);
  auto writeBytes = [&](const std::string& name, std::vector<std::uint8_t> bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return dir / name;
  };
  std::vector<std::uint8_t> smpte = midi;
  smpte[12] = 0xE7;  // -25 frames per second
  std::vector<std::uint8_t> noTracks = midi;
  noTracks[11] = 0;

  WriteText(dir / "empty.wav", "");
  WriteText(dir / "text.wav", "These are not samples.\n");
  const struct {
    std::string path;
    std::string cause;
  } cases[] = {
      {dir / "missing.wav", "the file does not exist"},
      {dir / "", "it is a folder, not a file"},
      {dir / "empty.wav", "the file is empty"},
      {dir / "text.wav", "not a sound file that can be played"},
      {writeBytes("cut.mid", {midi.begin(), midi.begin() + 30}), "cut short"},
      {writeBytes("smpte.mid", smpte), "SMPTE"},
      {writeBytes("none.mid", noTracks), "no tracks"},
      {writeBytes("header.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0}), "not a Standard MIDI File"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    player.SetFileName(wavPath);
    ASSERT_TRUE(player.Open());
    player.SetFileName(c.path);
    EXPECT_FALSE(player.Open());
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(player.GetErrorText().rfind(c.path + ": ", 0), 0u) << player.GetErrorText();
    EXPECT_NE(player.GetErrorText().find(c.cause), std::string::npos) << player.GetErrorText();
  }
  player.SetFileName("");
  EXPECT_FALSE(player.Open());
  EXPECT_FALSE(player.GetErrorText().empty());
}

TEST_F(MediaPlayer, TheDeviceIsChosenByContentsNotByName) {
  const std::string wavNamedMid = dir / "sound.mid";
  const std::string midiNamedWav = dir / "notes.wav";
  ASSERT_TRUE(WriteWav16(wavNamedMid, Sine(440, 0.2, kRate, 0.5), 1, kRate));
  ASSERT_TRUE(WriteGridMidi(midiNamedWav, {{72, 0, 20}}));
  player.SetFileName(wavNamedMid);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  EXPECT_EQ(player.GetDevice(), Device::Wave);
  player.SetFileName(midiNamedWav);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  EXPECT_EQ(player.GetDevice(), Device::Sequencer);
}

TEST_F(MediaPlayer, WithoutASoundFontMidiFailsNamingThePackageAndWavStillPlays) {
  TempDir empty;
  auto bare = std::make_shared<SAudioOutput>(SAudioOutput::Mode::Sink);
  bare->SetSoundFontDir(empty / "");
  SMediaPlayer p(bare);
  p.SetFileName(midiPath);
  EXPECT_FALSE(p.Open());
  EXPECT_NE(p.GetErrorText().find("timgm6mb-soundfont"), std::string::npos) << p.GetErrorText();
  EXPECT_FALSE(p.IsOpen());
  p.SetFileName(wavPath);
  ASSERT_TRUE(p.Open()) << p.GetErrorText();
  p.Play();
  const Stereo out = RenderSeconds(*bare, 0.2);
  EXPECT_NEAR(Cents(PitchHz(out.left, Frames(0.05), 4096), 440), 0, kPitchCents);
}

TEST(AudioOutputDevice, WithoutASoundDeviceOpenFailsOnceWithAClearTextAndNothingElseBreaks) {
  auto device = std::make_shared<SAudioOutput>(SAudioOutput::Mode::Device);
  if (device->Start())
    GTEST_SKIP() << "this machine has a sound device: " << device->GetDriverName();
  TempDir dir;
  const std::string wav = dir / "a.wav";
  ASSERT_TRUE(WriteWav16(wav, Sine(440, 0.2, kRate, 0.5), 1, kRate));
  SMediaPlayer player(device);
  player.SetFileName(wav);
  EXPECT_FALSE(player.Open());
  EXPECT_FALSE(player.IsOpen());
  EXPECT_NE(player.GetErrorText().find("No sound output device"), std::string::npos)
      << player.GetErrorText();
  player.Play();
  player.Stop();
  player.Close();
  // The live notes stay silent and say nothing.
  SLiveNoteSink notes(device, true);
  EXPECT_FALSE(notes.HasSynth());
  notes.ShortMsg(0x90 + 60 * 256 + 112 * 65536);
  notes.ShortMsg(0x80 + 60 * 256 + 112 * 65536);
}

TEST_F(MediaPlayer, SwitchingAndClosingWhileTheAudioThreadRendersEndsCleanly) {
  // A thread stands in for the driver and pulls audio all along, as a real stream does.
  std::atomic<bool> done{false};
  std::atomic<long> blocks{0};
  std::thread audio([&] {
    std::vector<float> left(256), right(256);
    while (!done.load()) {
      sink->Render(left.data(), right.data(), 256);
      ++blocks;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  SLiveNoteSink notes(sink, false);
  for (int round = 0; round < 20; ++round) {
    player.SetFileName(round % 2 ? midiPath : wavPath);
    ASSERT_TRUE(player.Open()) << player.GetErrorText();
    player.Play();
    notes.ShortMsg(0x90 + static_cast<std::uint32_t>(60 + round) * 256 + 112 * 65536);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    player.Play();
    if (round % 3 == 0) player.Stop();
    notes.ShortMsg(0x80 + static_cast<std::uint32_t>(60 + round) * 256 + 112 * 65536);
    if (round % 4 == 0) player.Close();
  }
  {
    // A player destroyed while it plays.
    SMediaPlayer other(sink);
    other.SetFileName(midiPath);
    ASSERT_TRUE(other.Open());
    other.Play();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  player.Close();
  done = true;
  audio.join();
  EXPECT_GT(blocks.load(), 20);
}

}  // namespace
