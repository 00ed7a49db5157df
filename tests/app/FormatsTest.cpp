// Recordings that are not 16-bit 44.1 kHz WAVs, opened in the window.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QFile>

#include "AppFixture.h"
#include "ExampleMelody.h"
#include "ImportSignals.h"
#include "Main.h"

namespace {

TEST_F(AppTest, OpenOfAFlacConvertsItAndWritesTheMidiFileBesideIt) {
  const QString flac = dir.absoluteFilePath(QStringLiteral("tune.flac"));
  ASSERT_TRUE(importtest::WriteSound(Local(flac), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2,
                                     zuroka::SynthesizeMelody(ShortMelody(), 48000)));
  Open(flac);
  ASSERT_FALSE(ui->boxes.empty());
  EXPECT_NE(ui->boxes[0].caption, Qs("エラー")) << ui->boxes[0].text.toStdString();
  EXPECT_EQ(MForm->OdFileName(), flac);
  const QString mid = dir.absoluteFilePath(QStringLiteral("tune.mid"));
  ASSERT_TRUE(QFile::exists(mid));
  // The same file the converter writes for it.
  EXPECT_EQ(ReadBytes(mid), ConverterBytes(flac));

  MForm->MIInfoClick();
  const QString info = ui->boxes.back().text;
  EXPECT_TRUE(info.startsWith(QStringLiteral("FileSize : "))) << info.toStdString();
  EXPECT_TRUE(info.contains(Qs("形式 : FLAC, 24ビット PCM, 48000 Hz, 2チャンネル, ")))
      << info.toStdString();

  // Play WAV plays the source itself.
  Run(MForm->MIPWav);
  ExpectPlaying(SMediaPlayer::Device::Wave, flac);
  Run(MForm->MIStop);
}

TEST_F(AppTest, AnM4aIsRefusedWithTheFormatsThatAreRead) {
  const QString wav = WriteWav(QStringLiteral("first.wav"), ShortMelody());
  Open(wav);
  MForm->MIInfoClick();
  const QString info = ui->boxes.back().text;
  EXPECT_TRUE(info.contains(Qs("形式 : WAV, 16ビット PCM, 44100 Hz, 1チャンネル, ")));

  QFile m4a(dir.absoluteFilePath(QStringLiteral("song.m4a")));
  ASSERT_TRUE(m4a.open(QIODevice::WriteOnly));
  const char ftyp[] = {0,   0,   0,   0x20, 'f', 't', 'y', 'p', 'M', '4', 'A', ' ', 0, 0, 0, 0,
                       'M', '4', 'A', ' ',  'm', 'p', '4', '2', 'i', 's', 'o', 'm', 0, 0, 0, 0};
  m4a.write(ftyp, sizeof ftyp);
  m4a.write(QByteArray(4000, 'Z'));
  m4a.close();
  ui->boxes.clear();
  Open(m4a.fileName());
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].caption, Qs("エラー"));
  EXPECT_TRUE(ui->boxes[0].text.contains(QStringLiteral("FLAC")))
      << ui->boxes[0].text.toStdString();
  // A failed Open changes nothing: the WAV stays, with its information.
  EXPECT_EQ(MForm->OdFileName(), wav);
  MForm->MIInfoClick();
  EXPECT_EQ(ui->boxes.back().text, info);
}

}  // namespace
