#include <gtest/gtest.h>

#include "SEngineSeam.h"
#include "SSequence.h"

namespace {

void PutNote(SSequence& marks, int row, int a, int b) {
  marks.SetSequence(row, a, 9);
  marks.SetSequence(row, b, 8);
}

TEST(SSequence, InitClearsEverythingButTheHighestRow) {
  SSequence g;
  ASSERT_EQ(g.Init(40, 10), 0);
  EXPECT_EQ(g.ReserveRow(), 0);
  EXPECT_EQ(g.ReserveRow(), 1);
  EXPECT_EQ(g.ReserveRow(), 2);
  g.SetRowFlag(0, 0);
  EXPECT_EQ(g.ReserveRow(), 0);
  EXPECT_EQ(g.GetMaxRow(), 2);
  g.SetSequence(3, 4, 9);
  ASSERT_EQ(g.Init(40, 20), 0);
  EXPECT_EQ(g.GetSequence(3, 4), 0);
  EXPECT_EQ(g.GetMaxRow(), 2);
  EXPECT_EQ(g.ReserveRow(), 0);  // flags cleared
  EXPECT_EQ(g.GetChannel(5), 0);
}

TEST(SSequence, AllRowsTaken) {
  SSequence g;
  g.Init(40, 1);
  for (int r = 0; r < 40; ++r) ASSERT_EQ(g.ReserveRow(), r);
  EXPECT_EQ(g.ReserveRow(), -1);
  EXPECT_EQ(g.GetMaxRow(), 39);
}

TEST(SSequence, FillAndOutOfRangeAccess) {
  SFixedSeam seam;
  SSequence g(&seam);
  g.Init(40, 10);
  g.FillSequence(1, 5, 5, 7);
  for (int f = 0; f < 10; ++f) EXPECT_EQ(g.GetSequence(1, f), 0);
  g.FillSequence(1, 5, 8, 7);
  EXPECT_EQ(g.GetSequence(1, 4), 0);
  EXPECT_EQ(g.GetSequence(1, 5), 7);
  EXPECT_EQ(g.GetSequence(1, 7), 7);
  EXPECT_EQ(g.GetSequence(1, 8), 0);
  g.FillSequence(2, -3, 100, 1);  // clipped to the row
  EXPECT_EQ(g.GetSequence(2, 9), 1);
  EXPECT_EQ(seam.messages, 0);

  EXPECT_EQ(g.GetSequence(40, 12), 0);
  EXPECT_EQ(seam.messages, 1);
  EXPECT_EQ(seam.lastText, "Sequence[40][12]にアクセスしようとしました");
  EXPECT_EQ(seam.lastCaption, "SSequence::GetSequence( int, int )");
  EXPECT_EQ(g.SetSequence(0, 10, 9), 0);
  EXPECT_EQ(g.SetSequence(-1, 0, 9), 0);
  EXPECT_EQ(seam.messages, 3);
}

TEST(SSequence, CommonNoteLength) {
  SFixedSeam seam;  // border 3
  SSequence g(&seam);
  g.Init(40, 100);
  int frames = 0;
  EXPECT_EQ(g.GetCommonNoteLength(frames), 0.0);
  EXPECT_EQ(frames, -1);

  PutNote(g, 0, 0, 3);    // 4
  PutNote(g, 0, 10, 13);  // 4
  PutNote(g, 1, 0, 5);    // 6
  EXPECT_DOUBLE_EQ(g.GetCommonNoteLength(frames), 5 * 1024 / 44100.0);
  EXPECT_EQ(frames, 4);

  // Equal counts: the first bucket met wins; a short first bucket stays chosen
  // unless a longer one is strictly more frequent.
  SSequence h(&seam);
  h.Init(40, 100);
  PutNote(h, 0, 0, 1);  // 2 (not above the border)
  PutNote(h, 1, 0, 6);  // 7
  PutNote(h, 2, 0, 7);  // 8
  h.GetCommonNoteLength(frames);
  EXPECT_EQ(frames, 2);
  PutNote(h, 3, 0, 7);  // 8 again: count 2 beats 1
  h.GetCommonNoteLength(frames);
  EXPECT_EQ(frames, 8);
  seam.border = 8;  // read at the moment of the call
  h.GetCommonNoteLength(frames);
  EXPECT_EQ(frames, 2);
}

TEST(SSequence, MoreThanTwentyLengthsAreAllCounted) {
  SFixedSeam seam;
  SSequence g(&seam);
  g.Init(40, 400);
  int f = 0;
  for (int len = 4; len < 25; ++len) {  // 21 distinct lengths
    PutNote(g, 0, f, f + len - 1);
    f += len;
  }
  PutNote(g, 1, 0, 23);  // the 21st length once more: now the most frequent
  int frames = 0;
  g.GetCommonNoteLength(frames);
  EXPECT_EQ(frames, 24);
}

}  // namespace
