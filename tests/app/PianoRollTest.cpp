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
  const int longFrames = MForm->Engine().Frames();
  EXPECT_EQ(roll->FrameCount(), longFrames);
  EXPECT_EQ(roll->SBHorz->maximum(), longFrames);
  EXPECT_GT(MForm->Engine().CountNotes(), 0);

  // A shorter file: the same roll, scrolled away, takes the new length.
  roll->SBHorz->setValue(50);
  const QString shortWav = WriteWav(QStringLiteral("short.wav"), {{69, 1.0}});
  Open(shortWav);
  EXPECT_EQ(MForm->PianoRoll(), roll);
  EXPECT_EQ(MForm->MdiArea()->subWindowList().size(), 1);
  const int shortFrames = MForm->Engine().Frames();
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

TEST_F(AppTest, AnotherFileStartsAtItsBeginningWithTheMelodyInSight) {
  Open(WriteWav(QStringLiteral("tune.wav"), ShortMelody()));
  TPForm& roll = *MForm->PianoRoll();
  EXPECT_EQ(roll.SBHorz->value(), 0);
  // The user scrolls away: later frames, rows above any note of the next file.
  const auto scrollTo = [&roll](int frame, int bottom) {
    roll.SBHorz->setValue(frame);
    roll.SBVert->setValue(roll.SBVert->maximum() - bottom);
    ASSERT_EQ(roll.BottomPitch(), bottom);
  };
  scrollTo(40, 65);

  // B3 to D#4, below that view.
  const QString low = WriteWav(QStringLiteral("low.wav"),
                               {{59, 0.5}, {0, 0.1}, {61, 0.5}, {0, 0.1}, {63, 0.5}, {0, 0.2}});
  Open(low);
  ASSERT_EQ(MForm->PianoRoll(), &roll);
  EXPECT_EQ(roll.SBHorz->value(), 0);
  const SSequence& pitches = MForm->Engine().pitches;
  int lowest = 128, highest = 0;
  for (int r = 0; r < pitches.GetRows(); ++r) {
    for (int f = 0; f < pitches.GetFrames(); ++f) {
      if (const int p = pitches.Row(r)[f])
        lowest = std::min(lowest, p), highest = std::max(highest, p);
    }
  }
  ASSERT_LE(highest, 64);
  EXPECT_LE(roll.BottomPitch(), lowest);
  EXPECT_GT(roll.BottomPitch(), lowest - 2);  // the white key at or below it
  SaveScreenshot(MForm, QStringLiteral("first-view-low-melody.png"));

  // The same file again: the place the user is working at stays.
  scrollTo(20, 72);
  Run(MForm->MIConvert);
  EXPECT_EQ(roll.SBHorz->value(), 20);
  EXPECT_EQ(roll.BottomPitch(), 72);
}

TEST_F(AppTest, RestoredRollTakesTheChildAreaLessAMargin) {
  Open(WriteWav(QStringLiteral("tune.wav"), ShortMelody()));
  QMdiSubWindow* window = MForm->MdiArea()->subWindowList().front();
  ASSERT_TRUE(window->isMaximized());
  window->showNormal();
  const QSize area = MForm->MdiArea()->viewport()->size();
  EXPECT_GT(window->width(), 400);
  EXPECT_GT(window->height(), 300);
  EXPECT_TRUE(QRect(QPoint(0, 0), area).contains(window->geometry()));
  EXPECT_LT(window->width(), area.width());
  // The roll inside has a client area to work in.
  EXPECT_GT(MForm->PianoRoll()->Img->height(), 200);
  SaveScreenshot(MForm, QStringLiteral("restored-roll.png"));

  // Maximised and restored again by the user, it keeps the size it was given.
  window->resize(500, 350);
  window->showMaximized();
  window->showNormal();
  EXPECT_EQ(window->size(), QSize(500, 350));
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

TEST_F(AppTest, PitchReadoutShowsWholeAndTheTempoControlsStay) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  Open(wav);
  TPForm& roll = *MForm->PianoRoll();
  QLabel& lbl = *MForm->Lbl;
  const QPoint tempoLabel = MForm->Lbl2->pos(), tempoControl = MForm->UDTempo->pos();

  // The highest rows give the longest texts: two-digit octaves, " ファ# " 10 among them.
  roll.SBVert->setValue(roll.SBVert->maximum() - 120);
  ASSERT_EQ(roll.BottomPitch(), 120);
  bool sawLongest = false;
  int longest = 0;
  for (int y = roll.Img->height() - 5; y > 0; y -= 10) {
    QTest::mouseMove(roll.Img, QPoint(55, y));
    const QString shown = lbl.text();
    ASSERT_TRUE(shown.endsWith(Qs(" ** オクターブ : ") + QString::number(roll.MousePitch() / 12)))
        << shown.toStdString();
    EXPECT_LE(lbl.fontMetrics().horizontalAdvance(shown), lbl.contentsRect().width())
        << shown.toStdString();
    EXPECT_LE(lbl.geometry().right(), MForm->Lbl2->geometry().left());
    sawLongest |= roll.MousePitch() == 126;
    longest = std::max(longest, lbl.width());
  }
  EXPECT_TRUE(sawLongest);
  EXPECT_GT(longest, 75);
  EXPECT_EQ(MForm->Lbl2->pos(), tempoLabel);
  EXPECT_EQ(MForm->UDTempo->pos(), tempoControl);

  // Over a note of the melody.
  int row = 0, frame = 0;
  while (MForm->Engine().marks.Row(row)[frame] != 9) {
    if (++frame == MForm->Engine().Frames()) frame = 0, ++row;
  }
  const int pitch = MForm->Engine().pitches.Row(row)[frame];
  roll.SBVert->setValue(roll.SBVert->maximum() - (pitch - 7));
  ASSERT_LE(roll.BottomPitch(), pitch);
  QTest::mouseMove(roll.Img, Cell(roll, frame + 1, pitch));
  ASSERT_EQ(roll.MousePitch(), pitch);
  EXPECT_LE(lbl.fontMetrics().horizontalAdvance(lbl.text()), lbl.contentsRect().width());
  SaveScreenshot(MForm, QStringLiteral("readout-over-note.png"));

  // The run's own texts fit the label again, left of the progress bar's place.
  int atBox = 0;
  ui->onBox = [&](const Box&) { atBox = lbl.width(); };
  Run(MForm->MIConvert);
  EXPECT_EQ(atBox, std::max(75, lbl.sizeHint().width()));
  EXPECT_LT(atBox, longest);
}

TEST_F(AppTest, ProgramEndsCleanlyWithTheRollOpenANoteHeldAndAFilePlaying) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  Open(wav);
  TPForm& roll = *MForm->PianoRoll();
  // A key some rows up from the lowest, well inside the SoundFont's range.
  QTest::mousePress(roll.Img_Key, Qt::LeftButton, Qt::NoModifier,
                    QPoint(20, roll.Img_Key->height() - 100));
  ASSERT_TRUE(roll.KeyDown());
  // The strip's note sounds on the window's output, made at this first note.
  EXPECT_GT(Render(0.02), 0.001f);
  MForm->MIPMidiClick();
  Render(0.2);
  DestroyForms();
  EXPECT_EQ(MForm, nullptr);
}
