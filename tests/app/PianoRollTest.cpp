// The piano roll inside the main window: made by the first conversion, reused by the
// next while it stays open, made afresh after it was closed; its edits reach Remake's
// file; its pitch readout shows on the toolbar; its live notes and the open roll end
// cleanly with the program.
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include "AppFixture.h"
#include "Main.h"
#include "Proll.h"
#include "UpDownEdit.h"

namespace {

// The middle of the roll's cell of frame f and pitch p.
QPoint Cell(const TPForm& roll, int f, int p) {
  return {(f - roll.SBHorz->value()) * 10 + 5,
          roll.Img->height() - (p - roll.BottomPitch()) * 10 - 5};
}

}  // namespace

TEST_F(AppTest, ConversionMakesThePianoRollOnceAndAgainAfterItWasClosed) {
  EXPECT_EQ(MForm->PianoRoll(), nullptr);  // not at start
  const QString longWav = WriteWav(QStringLiteral("long.wav"), ShortMelody());
  Open(longWav);
  TPForm* roll = MForm->PianoRoll();
  ASSERT_NE(roll, nullptr);
  ASSERT_EQ(MForm->MdiArea()->subWindowList().size(), 1);
  QMdiSubWindow* window = MForm->MdiArea()->subWindowList().front();
  EXPECT_EQ(window->widget(), roll);
  EXPECT_TRUE(window->isMaximized());
  EXPECT_EQ(window->windowTitle(), Qs("メロディの修正"));
  const int longFrames = MForm->Engine().numFrames;
  EXPECT_EQ(roll->FrameCount(), longFrames);
  EXPECT_EQ(roll->SBHorz->maximum(), longFrames);
  EXPECT_GT(MForm->Engine().CountNotes(), 0);

  // A shorter file: the same roll, scrolled away, takes the new length.
  roll->SBHorz->setValue(50);
  const QString shortWav = WriteWav(QStringLiteral("short.wav"), {{69, 1.0}});
  Open(shortWav);
  EXPECT_EQ(MForm->PianoRoll(), roll);
  EXPECT_EQ(MForm->MdiArea()->subWindowList().size(), 1);
  const int shortFrames = MForm->Engine().numFrames;
  ASSERT_LT(shortFrames, longFrames);
  EXPECT_EQ(roll->FrameCount(), shortFrames);
  EXPECT_EQ(roll->SBHorz->maximum(), shortFrames);
  EXPECT_LE(roll->SBHorz->value(), shortFrames);

  // Closed by the user: the next conversion makes a new one.
  window->close();
  ProcessDeferredDeletes();
  EXPECT_EQ(MForm->PianoRoll(), nullptr);
  EXPECT_TRUE(MForm->MdiArea()->subWindowList().isEmpty());
  MForm->MIConvertClick();
  ASSERT_NE(MForm->PianoRoll(), nullptr);
  ASSERT_EQ(MForm->MdiArea()->subWindowList().size(), 1);
  EXPECT_TRUE(MForm->MdiArea()->subWindowList().front()->isMaximized());
  EXPECT_EQ(MForm->PianoRoll()->FrameCount(), shortFrames);
}

TEST_F(AppTest, AnEditInTheRollReachesRemakesFileAndIsForgottenByTheNextConversion) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  const QString mid = dir.absoluteFilePath(QStringLiteral("tune.mid"));
  Open(wav);
  MForm->MIConvertClick();
  TPForm& roll = *MForm->PianoRoll();
  const std::vector<std::uint8_t> converted = ReadBytes(mid);

  // A pitch the melody does not hold, in the middle of the visible rows.
  int pitch = roll.BottomPitch() + roll.Img->height() / 20;
  while (pitch == 60 || pitch == 64 || pitch == 67 || pitch == 72) ++pitch;
  const QPoint from = Cell(roll, 30, pitch);
  const QPoint to = Cell(roll, 45, pitch);
  QTest::mousePress(roll.Img, Qt::LeftButton, Qt::NoModifier, from);
  QTest::mouseMove(roll.Img, to);
  // The pitch readout shows on the toolbar, in black.
  EXPECT_EQ(roll.MousePitch(), pitch);
  EXPECT_GT(DarkPixels(MForm->Lbl), 0);
  QTest::mouseRelease(roll.Img, Qt::LeftButton, Qt::NoModifier, to);
  ASSERT_TRUE(roll.LastEdit().accepted);
  EXPECT_EQ(roll.LastEdit().gesture.newPitch, pitch);
  ASSERT_TRUE(roll.CanUndo());
  SaveScreenshot(MForm, QStringLiteral("main-window-piano-roll.png"));

  const int tempo = MForm->UDTempo->value();
  MForm->MIRemakeClick();
  const std::vector<std::uint8_t> remade = ReadBytes(mid);
  EXPECT_NE(remade, converted);
  EXPECT_EQ(remade, ConverterBytes(wav, 60, 70, 3, tempo, {roll.LastEdit().gesture}));

  // The next conversion starts over from the recording, without the edit's history.
  MForm->MIConvertClick();
  EXPECT_EQ(MForm->PianoRoll(), &roll);
  EXPECT_FALSE(roll.CanUndo());
  EXPECT_EQ(ReadBytes(mid), converted);
}

TEST_F(AppTest, RemakeRightAfterOpenWritesTheEdit) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  const QString mid = dir.absoluteFilePath(QStringLiteral("tune.mid"));
  Open(wav);
  const std::vector<std::uint8_t> converted = ReadBytes(mid);
  ASSERT_TRUE(MForm->MIRemake->isEnabled());
  ASSERT_TRUE(MForm->TBRemake->isEnabled());

  TPForm& roll = *MForm->PianoRoll();
  const int pitch = roll.BottomPitch() + 3;  // E + 3: G, outside the melody's rows
  QTest::mousePress(roll.Img, Qt::LeftButton, Qt::NoModifier, Cell(roll, 60, pitch));
  QTest::mouseMove(roll.Img, Cell(roll, 70, pitch));
  QTest::mouseRelease(roll.Img, Qt::LeftButton, Qt::NoModifier, Cell(roll, 70, pitch));
  ASSERT_TRUE(roll.LastEdit().Changed());

  Run(MForm->MIRemake);
  const std::vector<std::uint8_t> remade = ReadBytes(mid);
  EXPECT_NE(remade, converted);
  EXPECT_EQ(remade,
            ConverterBytes(wav, 60, 70, 3, MForm->UDTempo->value(), {roll.LastEdit().gesture}));
}

TEST_F(AppTest, ProgramEndsCleanlyWithTheRollOpenANoteHeldAndAFilePlaying) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  Open(wav);
  TPForm& roll = *MForm->PianoRoll();
  QTest::mousePress(roll.Img_Key, Qt::LeftButton, Qt::NoModifier, QPoint(20, 100));
  ASSERT_TRUE(roll.KeyDown());
  // The strip's note sounds on the window's output, made at this first note.
  EXPECT_GT(Render(0.02), 0.001f);
  MForm->MIPMidiClick();
  Render(0.2);
  DestroyForms();
  EXPECT_EQ(MForm, nullptr);
}
