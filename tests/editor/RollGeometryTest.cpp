#include <gtest/gtest.h>

#include <algorithm>

#include "GridText.h"
#include "RollGeometry.h"

using namespace zuroka::roll;

TEST(RollGeometry, PixelsFramesPitchesAndStatusText) {
  const int h = 400;
  EXPECT_EQ(PitchAt(391, h, 60), 60);
  EXPECT_EQ(PitchAt(390, h, 60), 61);
  EXPECT_EQ(PitchAt(450, h, 60), 60);   // below the roll: the lowest row
  EXPECT_EQ(PitchAt(-30, h, 60), 103);  // above it: past the top row
  EXPECT_EQ(FrameAt(9, 7), 7);
  EXPECT_EQ(FrameAt(10, 7), 8);
  EXPECT_EQ(FrameAt(-15, 7), 6);          // truncation toward zero
  EXPECT_EQ(KeyPitchAt(389, h, 60), 61);  // the strip's rows change a pixel row earlier
  EXPECT_EQ(KeyPitchAt(390, h, 60), 60);
  EXPECT_EQ(StatusText(61), std::string("  音階 : ") + " ド# " + " ** オクターブ : " + "5");
  EXPECT_EQ(StatusText(127), "  音階 :  ソ  ** オクターブ : 10");
  EXPECT_EQ(StatusText(11), "  音階 :  シ  ** オクターブ : 0");
}

TEST(RollGeometry, LayoutLinesUpTheStripAndTheRoll) {
  const Layout l = ComputeLayout(800, 600);
  EXPECT_EQ(l.imgKey, (Box{1, 1, 99, 584}));
  EXPECT_EQ(l.statusBar, (Box{1, 584, 99, 599}));
  EXPECT_EQ(l.pnl2, (Box{100, 0, 800, 600}));
  EXPECT_EQ(l.img, (Box{1, 1, 683, 584}));
  EXPECT_EQ(l.sbVert, (Box{683, 1, 699, 584}));
  EXPECT_EQ(l.sbHorz, (Box{1, 584, 683, 599}));
  EXPECT_GE(ComputeLayout(50, 10).img.Width(), 0);
}

TEST(RollGeometry, KeysStartFromTheLowestRowAndCoverTheirRows) {
  for (int pc : {2, 4, 7, 9, 11}) EXPECT_EQ(KeyLayout(48 + pc, 200)[0].box.bottom, 205) << pc;
  EXPECT_EQ(KeyLayout(60, 200)[1].nameTop, 170);  // 20-px keys drop their name 5 px
  std::vector<KeyShape> keys;
  const int k = 583;
  auto inside = [](const Box& b, int y) { return b.top <= y && y < b.bottom; };
  for (int bottom = 0; bottom <= 127; ++bottom) {
    if (IsBlackKey(bottom)) continue;
    keys = KeyLayout(bottom, k);
    for (int r = 0; kCell * (r + 1) <= k; ++r) {
      const int top = k - kCell * (r + 1), end = k - kCell * r;  // the roll's row r
      const int mid = top + kCell / 2;
      const bool black = IsBlackKey(bottom + r);
      // A black row lies under a black key that also covers the grid line above; a
      // white row's middle shows a white key and no black one.
      const bool ok =
          std::any_of(keys.begin(), keys.end(),
                      [&](const KeyShape& s) {
                        return black ? s.black && s.box == Box{0, top - 1, kBlackKeyWidth, end}
                                     : !s.black && inside(s.box, mid);
                      }) &&
          (black || std::none_of(keys.begin(), keys.end(),
                                 [&](const KeyShape& s) { return s.black && inside(s.box, mid); }));
      EXPECT_TRUE(ok) << "bottom " << bottom << " row " << r;
    }
  }
}

TEST(RollGeometry, NoteBarsFollowTheView) {
  Grids g(3, 40);
  g.Note(0, 3, 6, 62);
  g.Note(1, 2, 6, 60);
  g.Note(2, 10, 12, 90);          // above the visible pitches
  g.marks.SetSequence(2, 20, 9);  // a start mark with no end draws nothing
  g.pitches.SetSequence(2, 20, 61);
  auto bars = NoteBars(g.marks, g.pitches, 0, 40, 60, 200);
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_EQ(bars[0].box, (Box{31, 171, 70, 180}));
  EXPECT_EQ(bars[1].box, (Box{21, 191, 70, 200}));
  bars = NoteBars(g.marks, g.pitches, 4, 40, 60, 200);  // begun left of the view
  EXPECT_EQ(bars[0].box, (Box{0, 171, 29, 180}));       // one pixel shorter
  EXPECT_TRUE(NoteBars(g.marks, g.pitches, 0, 6, 60, 200).empty());
  EXPECT_EQ(NoteBars(g.marks, g.pitches, 0, 5000, 60, 200).size(), 2u);  // past the grids
}

TEST(RollGeometry, ScrollRangesAndTheWhiteKeyRule) {
  EXPECT_EQ(AdjustRanges(1100, 900, 600, 500, 50).vertMax, 36);  // 37 is C#
  EXPECT_EQ(AdjustRanges(800, 583, 682, 500, 50).vertMax, 69);
  EXPECT_EQ(AdjustRanges(800, 540, 682, 500, 50).vertMax, 72);  // 73 is C#
  EXPECT_EQ(AdjustRanges(800, 583, 682, 500, 80).bottomPitch, 69);
  EXPECT_EQ(AdjustRanges(800, 583, 682, 500, 50).horzMax, 432);
  EXPECT_EQ(AdjustRanges(800, 583, 682, 40, 50).horzMax, 0);  // fewer frames than columns
  EXPECT_EQ(SnapVertPosition(127, 66, true), 67);             // C# lowest, moving down: C
  EXPECT_EQ(SnapVertPosition(127, 66, false), 65);            // moving up: D
  EXPECT_TRUE(ScrollsDown(5, 5));
  EXPECT_FALSE(ScrollsDown(5, 4));
  for (int max : {127, 69, 36}) {
    for (int pos = 0; pos <= max; ++pos) {
      for (bool down : {false, true}) {
        const int snapped = SnapVertPosition(max, pos, down);
        EXPECT_FALSE(IsBlackKey(BottomPitchAt(max, snapped))) << max << " " << pos;
        EXPECT_LE(std::abs(snapped - pos), 1);
      }
    }
  }
}

TEST(RollGeometry, FirstViewBringsTheLowestNoteIntoSight) {
  Grids g(3, 100);
  EXPECT_EQ(FirstViewBottomPitch(g.pitches, 100, 64, 50, 77), 64);  // no notes: as it is
  g.Note(0, 10, 20, 63);                                            // D#4, one row below the view
  g.Note(1, 30, 40, 61);
  g.Note(2, 50, 60, 59);
  EXPECT_EQ(FirstViewBottomPitch(g.pitches, 100, 64, 50, 77), 59);
  EXPECT_EQ(FirstViewBottomPitch(g.pitches, 100, 62, 50, 77), 62);  // D#4 in the lowest rows
  EXPECT_EQ(FirstViewBottomPitch(g.pitches, 100, 0, 62, 77), 0);    // 61 in the top row
  EXPECT_EQ(FirstViewBottomPitch(g.pitches, 100, 0, 59, 77), 59);   // all above the view
  // A black lowest note: the white key below it. Frames past the count do not count.
  Grids black(1, 100);
  black.Note(0, 10, 20, 70);
  black.Note(0, 80, 90, 20);
  EXPECT_EQ(FirstViewBottomPitch(black.pitches, 100, 0, 10, 77), 19);  // G#1: G1
  EXPECT_EQ(FirstViewBottomPitch(black.pitches, 50, 0, 10, 77), 69);   // A#4: A4
  EXPECT_EQ(FirstViewBottomPitch(black.pitches, 50, 0, 10, 65), 65);   // kept in the range
}
