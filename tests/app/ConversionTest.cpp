// The conversion run and Remake as the window drives them: the files they write,
// the progress and tempo controls, the order of the message and the write, and
// the error when the MIDI file cannot be written.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolBar>

#include "AppFixture.h"
#include "Main.h"
#include "Option.h"
#include "UpDownEdit.h"

namespace {

// What the window shows while the conversion message is up.
struct AtMessage {
  QString lbl;
  int lblDarkPixels = 0;
  bool pbVisible = false;
  int pbValue = -1;
  int pbMaximum = -1;
  bool tempoVisible = true;
  bool midiWritten = true;
};

}  // namespace

TEST_F(AppTest, OpenWritesTheConvertersBytesBesideTheWav) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  const QString mid = dir.absoluteFilePath(QStringLiteral("tune.mid"));
  AtMessage seen;
  ui->onBox = [&](const Box&) {
    seen = {MForm->Lbl->text(),     DarkPixels(MForm->Lbl),
            MForm->PB->isVisible(), MForm->PB->value(),
            MForm->PB->maximum(),   MForm->UDTempo->isVisible() || MForm->Lbl2->isVisible(),
            QFile::exists(mid)};
  };
  Open(wav);

  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].text, Qs("ファイル変換が終了しました．"));
  EXPECT_EQ(ui->boxes[0].caption, QStringLiteral("Message"));
  // The hourglass of Open is gone before the message; the file is written after it.
  EXPECT_EQ(ui->cursors, (std::vector<Qt::CursorShape>{Qt::WaitCursor, Qt::ArrowCursor}));
  EXPECT_EQ(ui->boxes[0].cursor, Qt::ArrowCursor);
  EXPECT_EQ(seen.lbl, Qs("　　　完了　　　"));
  EXPECT_GT(seen.lblDarkPixels, 0);  // readable
  EXPECT_TRUE(seen.pbVisible);
  EXPECT_EQ(seen.pbMaximum, MForm->Engine().Frames());
  EXPECT_EQ(seen.pbValue, MForm->Engine().AnalyzedFrames());
  EXPECT_FALSE(seen.tempoVisible);
  EXPECT_FALSE(seen.midiWritten);

  const std::vector<std::uint8_t> written = ReadBytes(mid);
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written, ConverterBytes(wav));
  EXPECT_GT(MForm->Engine().CountNotes(), 0);

  // After the message: bar hidden, label invisible again, tempo shown with the estimate.
  EXPECT_FALSE(MForm->PB->isVisible());
  EXPECT_EQ(DarkPixels(MForm->Lbl), 0);
  EXPECT_TRUE(MForm->Lbl2->isVisible());
  EXPECT_TRUE(MForm->UDTempo->isVisible());
  EXPECT_EQ(TempoMicros(written), 60000000 / MForm->UDTempo->value());
  EXPECT_EQ(MForm->EdtTempo->text(), QString::number(MForm->UDTempo->value()));

  SaveScreenshot(MForm, QStringLiteral("main-window.png"));
}

TEST_F(AppTest, ProgressCountsOnlyWholeFrames) {
  // 4096 samples: four frames by count, two of them wholly inside the signal.
  const QString wav = WriteSamples(QStringLiteral("short.wav"), std::vector<std::int16_t>(4096, 0));
  int value = -1, maximum = -1;
  ui->onBox = [&](const Box&) {
    value = MForm->PB->value();
    maximum = MForm->PB->maximum();
  };
  Open(wav);
  EXPECT_EQ(maximum, 4);
  EXPECT_EQ(value, 2);
}

TEST_F(AppTest, TooShortSignalStillCompletesTheRun) {
  const QString wav = WriteSamples(QStringLiteral("tiny.wav"), std::vector<std::int16_t>(2048, 0));
  Open(wav);
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].caption, QStringLiteral("Message"));
  EXPECT_EQ(MForm->Engine().CountNotes(), 0);
  const std::vector<std::uint8_t> written =
      ReadBytes(dir.absoluteFilePath(QStringLiteral("tiny.mid")));
  EXPECT_EQ(written, ConverterBytes(wav));
  EXPECT_TRUE(MForm->MIPMidi->isEnabled());
}

TEST_F(AppTest, EstimatedTempoIsClampedIntoTheTempoControl) {
  // One note of 30 s: the estimate is 8 bpm, below the control's floor of 10.
  const QString wav = WriteWav(QStringLiteral("long.wav"), {{69, 30.0}});
  Open(wav);
  EXPECT_EQ(MForm->UDTempo->value(), 10);
  EXPECT_EQ(MForm->EdtTempo->text(), QStringLiteral("10"));
  const std::vector<std::uint8_t> written =
      ReadBytes(dir.absoluteFilePath(QStringLiteral("long.mid")));
  EXPECT_EQ(TempoMicros(written), 60000000 / 10);
  EXPECT_EQ(written, ConverterBytes(wav));
}

TEST_F(AppTest, RemakeWritesTheTempoOfTheSpinControl) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  const QString mid = dir.absoluteFilePath(QStringLiteral("tune.mid"));
  Open(wav);
  MForm->MIConvertClick();
  const std::vector<std::uint8_t> converted = ReadBytes(mid);
  const int notes = MForm->Engine().CountNotes();

  MForm->UDTempo->setValue(97);
  ui->boxes.clear();
  MForm->MIRemakeClick();
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].text, Qs("演奏データを作成しました．\nデータを再生します．"));
  EXPECT_EQ(ui->boxes[0].caption, Qs("完了"));
  const std::vector<std::uint8_t> remade = ReadBytes(mid);
  EXPECT_NE(remade, converted);
  EXPECT_EQ(remade, ConverterBytes(wav, 60, 70, 3, 97));
  // Remake changes neither the grids nor the control.
  EXPECT_EQ(MForm->Engine().CountNotes(), notes);
  EXPECT_EQ(MForm->UDTempo->value(), 97);
}

TEST_F(AppTest, UnwritableMidiFileIsReportedAndNotCalledDone) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  // A folder where the MIDI file would go: no one (not even root) can replace it.
  ASSERT_TRUE(dir.mkdir(QStringLiteral("tune.mid")));
  Open(wav);
  ASSERT_EQ(ui->boxes.size(), 2u);
  EXPECT_EQ(ui->boxes[0].caption, QStringLiteral("Message"));
  EXPECT_EQ(ui->boxes[1].caption, Qs("エラー"));
  EXPECT_TRUE(ui->boxes[1].text.startsWith(Qs("MIDIファイルを書き込むことができませんでした．\n")));
  EXPECT_TRUE(ui->boxes[1].text.contains(dir.absoluteFilePath(QStringLiteral("tune.mid"))));
  EXPECT_TRUE(QFileInfo(dir.absoluteFilePath(QStringLiteral("tune.mid"))).isDir());

  MForm->MIConvertClick();
  MForm->MIStopClick();
  ui->boxes.clear();
  MForm->MIRemakeClick();
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].caption, Qs("エラー"));
  // Nothing was made, so nothing plays.
  EXPECT_FALSE(MForm->MIStop->isEnabled());
}

TEST_F(AppTest, ChangedOptionsReachTheNextConversion) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), zuroka::ExampleTune(6.0));
  const QString mid = dir.absoluteFilePath(QStringLiteral("tune.mid"));
  // The options must matter for this file, or the test would prove nothing.
  ASSERT_NE(ConverterBytes(wav, 45, 90, 3), ConverterBytes(wav));
  ASSERT_NE(ConverterBytes(wav, 60, 70, 12), ConverterBytes(wav));

  ui->onDialog = [](QDialog* dialog) {
    EXPECT_EQ(dialog, OForm);
    OForm->UDCP->stepBy(-3);  // 60 -> 45
    OForm->UDDB->stepBy(4);   // 70 -> 90
    OForm->Button1->click();
    return OForm->result();
  };
  MForm->MIParamClick();
  ASSERT_EQ(ui->dialogs.size(), 1u);
  EXPECT_DOUBLE_EQ(OForm->CPRatio, 45 * 0.01);
  EXPECT_DOUBLE_EQ(OForm->DBRatio, 90 * 0.01);
  Open(wav);
  EXPECT_EQ(ReadBytes(mid), ConverterBytes(wav, 45, 90, 3));

  // The border counts as it stands, without Close.
  OForm->UDBorder->setValue(12);
  MForm->MIConvertClick();
  EXPECT_EQ(ReadBytes(mid), ConverterBytes(wav, 45, 90, 12));
}
