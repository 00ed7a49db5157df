// Play WAV, Play MIDI and Stop as the window drives the player: which file is open,
// the Stop command's state, the close before a rewrite and the play after Remake, and
// the one error box of a failed open. The window plays into the fixture's sink.
#include <QAction>
#include <QFile>
#include <QToolButton>

#include "AppFixture.h"
#include "Main.h"
#include "SMediaPlayer.h"
#include "UpDownEdit.h"

class Playback : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
    mid = dir.absoluteFilePath(QStringLiteral("tune.mid"));
    Open(wav);
    ui->boxes.clear();
  }
  static const SMediaPlayer& Player() { return *MForm->Player(); }

  QString wav;
  QString mid;
};

TEST_F(Playback, NothingIsOpenedBeforeTheFirstPlay) { EXPECT_EQ(MForm->Player(), nullptr); }

TEST_F(Playback, PlayWavThenPlayMidiSwitchesTheDevice) {
  Run(MForm->MIPWav);
  ExpectPlaying(SMediaPlayer::Device::Wave, wav);
  EXPECT_GT(Render(0.3), 0.01f);

  Run(MForm->MIPMidi);
  ExpectPlaying(SMediaPlayer::Device::Sequencer, mid);
  EXPECT_GT(Render(0.5), 0.001f);
  // And back again, from the toolbar: the WAV starts over.
  MForm->TBPWav->click();
  ExpectPlaying(SMediaPlayer::Device::Wave, wav);
  EXPECT_TRUE(ui->boxes.empty());
}

TEST_F(Playback, EndOfPlaybackChangesNothingAndStopThenCloses) {
  for (QAction* play : {MForm->MIPWav, MForm->MIPMidi}) {
    Run(play);
    Render(10.0);  // to the end of the file
    ASSERT_FALSE(Player().IsPlaying());
    EXPECT_TRUE(Player().IsOpen());
    EXPECT_TRUE(MForm->MIStop->isEnabled());

    Run(MForm->MIStop);
    EXPECT_FALSE(Player().IsOpen());
    EXPECT_FALSE(MForm->MIStop->isEnabled());
    ExpectButtonsFollowActions();
  }
  EXPECT_TRUE(ui->boxes.empty());
}

TEST_F(Playback, ConvertClosesThePlayerOnlyWhenItRewritesAnExistingFile) {
  // The converter cannot read the WAV while the player holds it.
  const std::vector<std::uint8_t> expected = ConverterBytes(wav);
  Run(MForm->MIPMidi);
  // A stale file: the conversion must replace it.
  QFile stale(mid);
  ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  stale.write("stale");
  stale.close();
  Run(MForm->MIConvert);
  EXPECT_FALSE(Player().IsOpen());
  EXPECT_FALSE(MForm->MIStop->isEnabled());
  EXPECT_EQ(ReadBytes(mid), expected);
  Run(MForm->MIPMidi);
  ExpectPlaying(SMediaPlayer::Device::Sequencer, mid);

  // With no MIDI file to rewrite the WAV goes on playing through the run.
  Run(MForm->MIPWav);
  ASSERT_TRUE(QFile::remove(mid));
  Run(MForm->MIConvert);
  ExpectPlaying(SMediaPlayer::Device::Wave, wav);
  EXPECT_EQ(ReadBytes(mid), expected);
}

TEST_F(Playback, RemakeWhilePlayingClosesRewritesShowsTheBoxAndPlaysTheNewFile) {
  Run(MForm->MIConvert);
  Run(MForm->MIPMidi);
  Render(0.2);
  MForm->UDTempo->setValue(97);
  ui->boxes.clear();
  bool openAtBox = true;
  std::vector<std::uint8_t> bytesAtBox;
  ui->onBox = [&](const Box&) {
    openAtBox = Player().IsOpen();
    bytesAtBox = ReadBytes(mid);
  };
  Run(MForm->MIRemake);

  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].caption, Qs("完了"));
  EXPECT_FALSE(openAtBox);
  EXPECT_EQ(bytesAtBox, ConverterBytes(wav, 60, 70, 3, 97));
  ExpectPlaying(SMediaPlayer::Device::Sequencer, mid);
}

TEST_F(Playback, MissingMidiFileShowsThePlayersReasonOnceAndStopGoesOff) {
  Run(MForm->MIPWav);
  ASSERT_TRUE(QFile::remove(mid));
  Run(MForm->MIPMidi);

  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(ui->boxes[0].text.contains(mid)) << ui->boxes[0].text.toStdString();
  EXPECT_FALSE(Player().IsOpen());
  EXPECT_FALSE(MForm->MIStop->isEnabled());
  ExpectButtonsFollowActions();
  EXPECT_TRUE(MForm->MIPMidi->isEnabled());  // the user may try again
}

TEST_F(Playback, WithoutASoundDevicePlayShowsOneErrorAndChangesNothingElse) {
  {
    SAudioOutput probe(SAudioOutput::Mode::Device);
    if (probe.Start()) GTEST_SKIP() << "this machine has a sound device";
  }
  MForm->SetAudioOutput(nullptr);  // the program's own output
  Run(MForm->MIConvert);
  ui->boxes.clear();
  const std::vector<std::uint8_t> before = ReadBytes(mid);

  for (QAction* play : {MForm->MIPWav, MForm->MIPMidi}) {
    Run(play);
    ASSERT_EQ(ui->boxes.size(), 1u);
    EXPECT_TRUE(ui->boxes[0].text.startsWith(Qs("ファイルを再生することができませんでした．\n")))
        << ui->boxes[0].text.toStdString();
    EXPECT_TRUE(ui->boxes[0].text.contains(Qs("音を出す装置が見つかりません．")));
    EXPECT_EQ(ui->boxes[0].caption, Qs("エラー"));
    ui->boxes.clear();
    EXPECT_FALSE(Player().IsOpen());
    EXPECT_FALSE(MForm->MIStop->isEnabled());
    for (QAction* a : {MForm->MIConvert, MForm->MIPWav, MForm->MIPMidi, MForm->MIRemake}) {
      EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    }
  }
  EXPECT_EQ(ReadBytes(mid), before);
}

TEST_F(Playback, EachFailureNamesTheFileAndItsCauseInJapanese) {
  Run(MForm->MIConvert);
  const QString empty = dir.absoluteFilePath(QStringLiteral("nosoundfont"));
  ASSERT_TRUE(dir.mkdir(QStringLiteral("nosoundfont")));
  sink->SetSoundFontDir(Local(empty));
  ui->boxes.clear();
  const auto expectBox = [this](const QString& file, const char* cause) {
    ASSERT_EQ(ui->boxes.size(), 1u);
    EXPECT_EQ(ui->boxes[0].caption, Qs("エラー"));
    EXPECT_EQ(ui->boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(ui->boxes[0].text, Qs("ファイルを再生することができませんでした．\n") + file +
                                     QStringLiteral("\n") + Qs(cause));
    EXPECT_FALSE(MForm->MIStop->isEnabled());
    ui->boxes.clear();
  };

  Run(MForm->MIPMidi);  // no SoundFont to sound it with
  expectBox(mid,
            "MIDIデータを鳴らす音色（General MIDI の SoundFont）が見つかりません．\n"
            "パッケージ timgm6mb-soundfont をインストールしてください．");

  const auto rewrite = [](const QString& file, const QByteArray& bytes) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  };
  rewrite(wav, "neither a wave file nor MIDI data");
  Run(MForm->MIPWav);
  expectBox(wav, "再生できない形式のファイルか，ファイルが壊れています．");
  rewrite(wav, QByteArray());
  Run(MForm->MIPWav);
  expectBox(wav, "ファイルが空です．");
  ASSERT_TRUE(QFile::remove(wav));
  ASSERT_TRUE(dir.mkdir(QStringLiteral("tune.wav")));
  Run(MForm->MIPWav);
  expectBox(wav, "ファイルではなくフォルダです．");
  ASSERT_TRUE(dir.rmdir(QStringLiteral("tune.wav")));
  Run(MForm->MIPWav);
  expectBox(wav, "ファイルが見つかりません．");
}
