#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <filesystem>

#include "ExampleMelody.h"
#include "GridText.h"
#include "Proll.h"
#include "RollGeometry.h"
#include "SEngine.h"

namespace roll = zuroka::roll;

namespace {

struct Recorder : SShortMsgSink {
  std::vector<std::uint32_t> sent;
  void ShortMsg(std::uint32_t m) override { sent.push_back(m); }
};

QRgb Colour(roll::Rgb c) { return qRgb(c.r, c.g, c.b); }
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kGrid = Colour(roll::kGridColour);

// An 800 x 600 piano roll over grids of 40 rows and 300 frames, shown and holding notes.
// Its roll is 682 x 583 px, its lowest row E (64).
struct Roll {
  Grids grids{40, 300};
  QLabel label;
  Recorder sink;
  TPForm form{grids.marks, grids.pitches, &label, &sink};

  Roll() {
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    form.resize(800, 600);
    form.show();
    form.SetFrameCount(300);
    form.DrawNotes();
  }
  int H() const { return form.Img->height(); }
  // The middle of the cell of frame f and pitch p.
  QPoint Cell(int f, int p) const {
    return {(f - form.SBHorz->value()) * 10 + 5, H() - (p - form.BottomPitch()) * 10 - 5};
  }
  QRgb Pixel(QPoint at) const {
    EXPECT_TRUE(form.Img->Canvas().valid(at));
    return form.Img->Canvas().pixel(at) | 0xFF000000;
  }
  QRgb Pixel(int x, int y) const { return Pixel(QPoint(x, y)); }
  QRgb KeyPixel(int x, int y) const { return form.Img_Key->Canvas().pixel(x, y) | 0xFF000000; }
  void Drag(Qt::MouseButton b, QPoint from, QPoint to) {
    QTest::mousePress(form.Img, b, Qt::NoModifier, from);
    QTest::mouseMove(form.Img, to);
    QTest::mouseRelease(form.Img, b, Qt::NoModifier, to);
  }
  void ScrollTo(int bottomPitch) {
    form.SBVert->setValue(form.SBVert->maximum() - bottomPitch);
    ASSERT_EQ(form.BottomPitch(), bottomPitch);
  }
  std::uint32_t KeyMessage(int i) const { return sink.sent.at(std::size_t(i)) & 0xFFFF; }
};

}  // namespace

TEST(TPForm, LayoutAndResize) {
  Roll r;
  EXPECT_EQ(r.form.windowTitle(), QStringLiteral("メロディの修正"));
  EXPECT_EQ(r.form.Img->geometry(), QRect(1, 1, 682, 583));
  EXPECT_EQ(r.form.Img_Key->height(), 583);
  // As shown: ranges as created, the view centred on E.
  EXPECT_EQ(r.form.SBVert->maximum(), 127);
  EXPECT_EQ(r.form.BottomPitch(), 64);
  EXPECT_EQ(r.form.SBHorz->maximum(), 300);
  // With notes, a resize adjusts the ranges and re-centres on a white key.
  r.form.resize(900, 700);
  EXPECT_EQ(r.form.SBVert->maximum(), 59);  // 127 - 683 div 10
  EXPECT_EQ(r.form.SBHorz->maximum(), 300 - 78);
  EXPECT_LE(std::abs(r.form.SBVert->value() - 29), 1);
  EXPECT_EQ(r.form.BottomPitch(), 59 - r.form.SBVert->value());
  EXPECT_FALSE(roll::IsBlackKey(r.form.BottomPitch()));
  r.form.SetFrameCount(20);  // fewer frames than columns: nothing to scroll sideways
  r.form.resize(901, 700);
  EXPECT_EQ(r.form.SBHorz->maximum(), 0);
}

TEST(TPForm, LeftDragWritesANoteWithBandAndStatus) {
  Roll r;
  QSignalSpy edited(&r.form, &TPForm::GridsEdited);
  const QPoint from = r.Cell(5, 66), to = r.Cell(9, 66);
  QTest::mousePress(r.form.Img, Qt::LeftButton, Qt::NoModifier, from);
  QTest::mouseMove(r.form.Img, to);
  // The band on the press row: the grid pen inverted shows grey over white, white over
  // a grid line, and stops short of the pointer.
  const int bandY = r.H() - 26;
  EXPECT_EQ(r.Pixel(65, bandY), kGrid);
  EXPECT_EQ(r.Pixel(70, bandY), kWhite);
  EXPECT_EQ(r.Pixel(95, bandY), kWhite);
  QTest::mouseRelease(r.form.Img, Qt::LeftButton, Qt::NoModifier, to);
  EXPECT_EQ(r.grids.Marks(0).substr(0, 21), "0 0 0 0 0 9 0 0 0 8 0");
  EXPECT_EQ(r.grids.pitches.Row(0)[7], 66);
  EXPECT_EQ(edited.count(), 1);
  // The stored note in F#'s colour, the band gone, grid lines kept at its ends and above.
  const QRgb fSharp = Colour(roll::kKeyColours[6]);
  EXPECT_EQ(r.Pixel(51, from.y()), fSharp);
  EXPECT_EQ(r.Pixel(65, bandY), fSharp);
  EXPECT_EQ(r.Pixel(99, from.y()), fSharp);
  EXPECT_EQ(r.Pixel(50, from.y()), kGrid);
  EXPECT_EQ(r.Pixel(100, from.y()), kGrid);
  EXPECT_EQ(r.Pixel(70, r.H() - 30), kGrid);
  EXPECT_EQ(r.label.text(), QStringLiteral("  音階 :  ファ#  ** オクターブ : 5"));
  EXPECT_EQ(r.label.palette().color(QPalette::WindowText), QColor(Qt::black));

  // Leftwards and released two rows higher: that pitch, frames in order.
  r.Drag(Qt::LeftButton, r.Cell(32, 65), r.Cell(28, 67));
  EXPECT_EQ(r.grids.marks.Row(0)[28], 9);
  EXPECT_EQ(r.grids.pitches.Row(0)[30], 67);
  // A click writes the cell and the next; a second button during a drag is ignored.
  QTest::mousePress(r.form.Img, Qt::LeftButton, Qt::NoModifier, r.Cell(40, 69));
  QTest::mousePress(r.form.Img, Qt::RightButton, Qt::NoModifier, r.Cell(41, 69));
  QTest::mouseRelease(r.form.Img, Qt::RightButton, Qt::NoModifier, r.Cell(42, 69));
  EXPECT_TRUE(r.form.Dragging());
  QTest::mouseRelease(r.form.Img, Qt::LeftButton, Qt::NoModifier, r.Cell(40, 69));
  EXPECT_EQ(r.grids.Marks(0).substr(80, 5), "9 8 0");
  // A release above MIDI 127 writes nothing.
  r.ScrollTo(127);
  r.Drag(Qt::LeftButton, r.Cell(3, 127), QPoint(r.Cell(6, 127).x(), 5));
  EXPECT_FALSE(r.form.LastEdit().accepted);
  EXPECT_EQ(edited.count(), 3);
}

// A drag that drifts off its row stores the note at the pitch under the release; the
// roll shows that note, and nothing at the row where the press began.
TEST(TPForm, AfterAGestureTheRollShowsTheStoredPitch) {
  Roll r;
  r.ScrollTo(60);
  const QRgb cSharp = Colour(roll::kKeyColours[1]);
  r.Drag(Qt::LeftButton, r.Cell(5, 66), r.Cell(12, 61));  // five rows down
  ASSERT_EQ(r.grids.pitches.Row(0)[5], 61);
  EXPECT_EQ(r.grids.marks.Row(0)[12], 8);
  for (int f = 5; f <= 12; ++f) {
    EXPECT_EQ(r.Pixel(r.Cell(f, 61)), cSharp) << f;
    EXPECT_EQ(r.Pixel(r.Cell(f, 66)), kWhite) << f;
  }

  // Released above the roll: the note lies above the view, so no bar is shown for it.
  const int top = r.form.BottomPitch() + r.H() / 10;
  r.Drag(Qt::LeftButton, r.Cell(20, 70), QPoint(r.Cell(26, 70).x(), -25));
  ASSERT_TRUE(r.form.LastEdit().accepted);
  const int stored = r.form.LastEdit().gesture.newPitch;
  EXPECT_GT(stored, top);
  EXPECT_EQ(r.grids.pitches.Row(0)[22], stored);
  for (int p = r.form.BottomPitch(); p < top; ++p) EXPECT_EQ(r.Pixel(r.Cell(22, p)), kWhite) << p;
  r.ScrollTo(roll::IsBlackKey(stored - 2) ? stored - 3 : stored - 2);
  EXPECT_EQ(r.Pixel(r.Cell(22, stored)), Colour(roll::kKeyColours[std::size_t(stored % 12)]));
}

TEST(TPForm, RightDragErasesAndMiddleDragOnlyShowsTheBand) {
  Roll r;
  r.grids.Note(0, 20, 29, 64);
  r.form.PaintView();
  const QPoint a = r.Cell(22, 64), b = r.Cell(24, 64);
  const QImage before = r.form.Img->Canvas().copy();
  QTest::mousePress(r.form.Img, Qt::MiddleButton, Qt::NoModifier, a);
  QTest::mouseMove(r.form.Img, b);
  EXPECT_NE(r.form.Img->Canvas(), before);
  QTest::mouseRelease(r.form.Img, Qt::MiddleButton, Qt::NoModifier, b);
  EXPECT_EQ(r.form.Img->Canvas(), before);
  EXPECT_EQ(r.grids.Marks(0).substr(40, 19), "9 0 0 0 0 0 0 0 0 8");

  r.Drag(Qt::RightButton, a, b);
  EXPECT_EQ(r.grids.Marks(0).substr(40, 19), "9 8 0 0 0 9 0 0 0 8");
  EXPECT_EQ(r.Pixel(a), kWhite);
  EXPECT_EQ(r.Pixel(b.x() + 4, b.y()), kWhite);
  EXPECT_EQ(r.Pixel(230, a.y()), kGrid);  // a grid line inside the erased cells
  EXPECT_EQ(r.Pixel(251, a.y()), Colour(roll::kKeyColours[4]));
}

TEST(TPForm, UndoAndRedoKeys) {
  Roll r;
  r.grids.Note(0, 0, 20, 65);
  const Grids start = r.grids;
  QSignalSpy edited(&r.form, &TPForm::GridsEdited);
  r.Drag(Qt::LeftButton, r.Cell(5, 66), r.Cell(9, 66));
  const Grids drawn = r.grids;
  QTest::keyClick(&r.form, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_TRUE(r.grids == start);
  EXPECT_EQ(r.Pixel(r.Cell(6, 65)), Colour(roll::kKeyColours[5]));  // repainted: F whole,
  EXPECT_EQ(r.Pixel(r.Cell(6, 66)), kWhite);                        // the preview gone
  QTest::keyClick(&r.form, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_TRUE(r.grids == drawn);
  QTest::keyClick(&r.form, Qt::Key_Z, Qt::ControlModifier);
  QTest::keyClick(&r.form, Qt::Key_Y, Qt::ControlModifier);
  EXPECT_TRUE(r.grids == drawn);
  EXPECT_EQ(edited.count(), 5);
  r.form.SetFrameCount(300);  // a new conversion forgets the history
  EXPECT_FALSE(r.form.CanUndo());
}

TEST(TPForm, KeyboardStripSoundsTheNoteOfThePress) {
  Roll r;
  r.ScrollTo(60);
  const int h = r.form.Img_Key->height();
  QTest::mousePress(r.form.Img_Key, Qt::LeftButton, Qt::NoModifier, QPoint(20, h - 5));
  QTest::mouseMove(r.form.Img_Key, QPoint(20, h - 45));  // the note does not follow
  QTest::mouseRelease(r.form.Img_Key, Qt::LeftButton, Qt::NoModifier, QPoint(400, 10));
  ASSERT_EQ(r.sink.sent.size(), 2u);
  EXPECT_EQ(r.sink.sent[0], 0x90u | 0x3Cu << 8 | 0x70u << 16);
  EXPECT_EQ(r.sink.sent[1], 0x80u | 0x3Cu << 8 | 0x70u << 16);
  QTest::mouseRelease(r.form.Img_Key, Qt::LeftButton, Qt::NoModifier, QPoint(20, h - 5));
  EXPECT_EQ(r.sink.sent.size(), 2u);  // no press, no Note Off
  // A second press stops the first note before it starts its own.
  QTest::mousePress(r.form.Img_Key, Qt::LeftButton, Qt::NoModifier, QPoint(20, h - 10));
  QTest::mousePress(r.form.Img_Key, Qt::RightButton, Qt::NoModifier, QPoint(20, h - 25));
  QTest::mouseRelease(r.form.Img_Key, Qt::RightButton, Qt::NoModifier, QPoint(20, h - 25));
  QTest::mouseRelease(r.form.Img_Key, Qt::LeftButton, Qt::NoModifier, QPoint(20, h - 10));
  ASSERT_EQ(r.sink.sent.size(), 6u);
  EXPECT_EQ(r.KeyMessage(2), 0x3C90u);  // y = h - 10 is still C on the strip
  EXPECT_EQ(r.KeyMessage(3), 0x3C80u);
  EXPECT_EQ(r.KeyMessage(4), 0x3E90u);
  EXPECT_EQ(r.KeyMessage(5), 0x3E80u);
  // Keys past MIDI 127 sound 127.
  r.form.SBVert->setValue(0);
  QTest::mousePress(r.form.Img_Key, Qt::LeftButton, Qt::NoModifier, QPoint(20, 5));
  EXPECT_EQ(r.KeyMessage(6), 0x7F90u);
}

TEST(TPForm, ScrollingKeepsTheLowestRowOnAWhiteKey) {
  Roll r;
  QScrollBar* v = r.form.SBVert;
  v->triggerAction(QAbstractSlider::SliderSingleStepAdd);  // down to D#: on to D
  EXPECT_EQ(r.form.BottomPitch(), 62);
  v->triggerAction(QAbstractSlider::SliderSingleStepSub);  // up to D#: on to E
  EXPECT_EQ(r.form.BottomPitch(), 64);
  // The wheel: a white key per notch, halves adding up; sideways with Shift.
  auto wheel = [&](int dy, Qt::KeyboardModifiers mods) {
    const QPointF at(100, 100);
    QWheelEvent ev(at, r.form.Img->mapToGlobal(at), QPoint(), QPoint(0, dy), Qt::NoButton, mods,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(r.form.Img, &ev);
  };
  wheel(120, Qt::NoModifier);
  EXPECT_EQ(r.form.BottomPitch(), 65);
  wheel(60, Qt::NoModifier);
  wheel(60, Qt::NoModifier);
  EXPECT_EQ(r.form.BottomPitch(), 67);
  wheel(-120, Qt::NoModifier);
  EXPECT_EQ(r.form.BottomPitch(), 65);
  wheel(-120, Qt::ShiftModifier);
  EXPECT_EQ(r.form.SBHorz->value(), 3);
  // Sideways scrolling repaints from the new first frame.
  r.grids.Note(0, 10, 14, 67);
  r.form.SBHorz->setValue(8);
  EXPECT_EQ(r.Pixel(25, r.Cell(10, 67).y()), Colour(roll::kKeyColours[7]));
  EXPECT_EQ(r.Pixel(15, r.Cell(10, 67).y()), kWhite);
}

TEST(TPForm, PaintsKeysGridAndNotesForTheLowestRow) {
  Roll r;
  const int h = r.H();
  r.grids.Note(0, 3, 6, 60);
  r.ScrollTo(60);  // C: a 15-px key at the bottom, C# (56 px wide) 10 px above
  EXPECT_EQ(r.KeyPixel(30, h - 1), kBlack);
  EXPECT_EQ(r.KeyPixel(30, h - 8), kWhite);
  EXPECT_EQ(r.KeyPixel(30, h - 11), kBlack);
  EXPECT_EQ(r.KeyPixel(30, h - 21), kBlack);
  EXPECT_EQ(r.KeyPixel(30, h - 22), kWhite);
  EXPECT_EQ(r.KeyPixel(60, h - 16), kBlack);  // C's top outline beside the black key
  EXPECT_EQ(r.KeyPixel(60, h - 18), kWhite);
  bool grey = false;  // the key name, grey, from x = 70
  for (int y = h - 14; y < h - 1; ++y) {
    for (int x = 70; x < 98; ++x) {
      const QColor c(r.KeyPixel(x, y));
      grey |= c.red() == c.blue() && c.red() > 60 && c.red() < 230;
    }
  }
  EXPECT_TRUE(grey);
  EXPECT_EQ(r.Pixel(30, h - 5), kGrid);
  EXPECT_EQ(r.Pixel(45, h - 10), kGrid);
  EXPECT_EQ(r.Pixel(31, h - 5), qRgb(255, 0, 0));
  EXPECT_EQ(r.Pixel(69, h - 1), qRgb(255, 0, 0));
  EXPECT_EQ(r.Pixel(45, h - 11), kWhite);

  r.ScrollTo(62);  // D starts 5 px below the edge
  EXPECT_EQ(r.KeyPixel(30, h - 1), kWhite);
  EXPECT_EQ(r.KeyPixel(30, h - 16), kBlack);  // D#
  EXPECT_EQ(r.Pixel(31, h - 5), kWhite);      // the note of C is below the view
  r.ScrollTo(64);                             // E, then F; F# 20 px up
  EXPECT_EQ(r.KeyPixel(30, h - 11), kBlack);
  EXPECT_EQ(r.KeyPixel(30, h - 16), kWhite);
  EXPECT_EQ(r.KeyPixel(30, h - 21), kBlack);
}

TEST(TPForm, FewFramesShowNoNotesAndStaleCountsReadNoCellOutside) {
  Roll r;
  r.grids.Note(0, 1, 4, 66);
  r.form.SetFrameCount(10);
  r.form.DrawNotes();
  EXPECT_EQ(r.Pixel(r.Cell(2, 66)), kWhite);
  SFixedSeam seam;
  SSequence marks(&seam), pitches(&seam);
  marks.Init(40, 20);
  pitches.Init(40, 20);
  TPForm form(marks, pitches, nullptr, nullptr);
  form.setAttribute(Qt::WA_DeleteOnClose, false);
  form.resize(500, 400);
  form.show();
  form.SetFrameCount(400);
  form.DrawNotes();
  QTest::mousePress(form.Img, Qt::RightButton, Qt::NoModifier, QPoint(300, 200));
  QTest::mouseRelease(form.Img, Qt::RightButton, Qt::NoModifier, QPoint(390, 200));
  EXPECT_EQ(seam.messages, 0);
}

TEST(TPForm, ClosingTheSubwindowFreesTheRollButNotTheGrids) {
  Grids grids(40, 50);
  grids.Note(0, 2, 5, 60);
  QMdiArea area;
  auto* form = new TPForm(grids.marks, grids.pitches, nullptr, nullptr);
  QMdiSubWindow* sub = area.addSubWindow(form);
  area.show();
  sub->showMaximized();
  QPointer<TPForm> alive(form);
  sub->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(alive.isNull());
  EXPECT_EQ(grids.marks.Row(0)[2], 9);
}

TEST(TPForm, ShowsAConvertedMelody) {
  const auto wav = std::filesystem::temp_directory_path() /
                   ("zuroka-roll-" + std::to_string(::getpid()) + ".wav");
  ASSERT_TRUE(zuroka::WriteWav(wav.string(), zuroka::SynthesizeMelody(zuroka::ExampleTune(6.0))));
  SFixedSeam seam;
  SEngine engine(seam);
  ASSERT_EQ(engine.wavFile.Open(wav.string()), 1);
  SConvertRequest request;
  request.write = false;
  ASSERT_TRUE(engine.Convert(request).Succeeded());
  std::filesystem::remove(wav);
  TPForm form(engine, nullptr, nullptr);
  form.setAttribute(Qt::WA_DeleteOnClose, false);
  form.resize(1000, 700);
  form.show();
  form.SetFrameCount(engine.Frames());
  form.DrawNotes();
  form.resize(1000, 701);
  // The first note's bar, with the view scrolled to it.
  int row = 0, first = 0;
  while (first < engine.Frames() && engine.marks.Row(row)[first] != 9) {
    if (++row == engine.marks.GetRows()) row = 0, ++first;
  }
  ASSERT_LT(first, engine.Frames());
  const int pitch = engine.pitches.Row(row)[first];
  const int bottom = roll::IsBlackKey(pitch - 6) ? pitch - 7 : pitch - 6;
  form.SBVert->setValue(form.SBVert->maximum() - bottom);
  ASSERT_EQ(form.BottomPitch(), bottom);
  const QPoint at(first * 10 + 5, form.Img->height() - (pitch - bottom) * 10 - 5);
  EXPECT_EQ(form.Img->Canvas().pixel(at) | 0xFF000000,
            Colour(roll::kKeyColours[std::size_t(pitch % 12)]));
  const QString dir = qEnvironmentVariable("ZUROKA_SCREENSHOT_DIR");
  if (!dir.isEmpty()) {
    QDir().mkpath(dir);
    EXPECT_TRUE(form.grab().save(dir + QStringLiteral("/piano-roll.png")));
  }
}
