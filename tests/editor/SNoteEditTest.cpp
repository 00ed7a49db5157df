#include "SNoteEdit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>
#include <set>

#include "ExampleMelody.h"
#include "GridText.h"
#include "LiteralEdit.h"
#include "SEditHistory.h"
#include "SEngine.h"
#include "SStandardMidi.h"

namespace {

SGesture Left(int from, int to, int down, int up) { return {SButton::Left, from, to, down, up}; }
SGesture Right(int from, int to, int pitch) { return {SButton::Right, from, to, pitch, pitch}; }

std::string Malformed(const Grids& g) {
  const auto bad = SNoteEdit::FindMalformedCell(g.marks, g.pitches);
  return bad ? "row " + std::to_string(bad->row) + " frame " + std::to_string(bad->frame) + ": " +
                   bad->reason + "\n" + g.Dump()
             : std::string();
}

std::string Describe(const SGesture& g) {
  const char* names[] = {"left", "right", "middle"};
  return std::string(names[static_cast<int>(g.button)]) + " " + std::to_string(g.startFrame) +
         ".." + std::to_string(g.endFrame) + " pitch " + std::to_string(g.downPitch) + "->" +
         std::to_string(g.newPitch);
}

// The literal operations on a copy of `before`; true when their result holds whole notes.
bool LiteralResult(const Grids& before, const SGesture& g, Grids& out) {
  out = before;
  LiteralEdit lit{out.marks, out.pitches};
  lit.s = std::min(g.startFrame, g.endFrame);
  lit.e = std::max(g.startFrame, g.endFrame);
  lit.p = g.downPitch;
  lit.q = g.newPitch;
  if (g.button == SButton::Left) lit.AddNote();
  if (g.button == SButton::Right) lit.EraseNote();
  return !SNoteEdit::FindMalformedCell(out.marks, out.pitches);
}

// What a MIDI file written from the grids gets wrong, if anything: a Note Off missing
// for a Note On (or one without a Note On), or a data byte above 127.
std::string MidiFault(const Grids& g) {
  SStandardMidi midi(g.marks, g.pitches);
  midi.ComputeTempo(0.1161, 4);
  const std::vector<std::uint8_t> b = midi.Build(g.marks.GetMaxRow() + 1, g.marks.GetFrames(), 120);
  std::size_t i = 22;  // header and track header
  auto vlq = [&] {
    std::uint32_t v = 0;
    while (i < b.size()) {
      const std::uint8_t c = b[i++];
      v = (v << 7) | (c & 0x7F);
      if (!(c & 0x80)) break;
    }
    return v;
  };
  std::array<int, 128> sounding{};
  while (i < b.size()) {
    vlq();
    const std::uint8_t status = b[i++];
    if (status == 0xFF) {
      const std::uint8_t type = b[i++];
      i += vlq();
      if (type == 0x2F) break;
    } else if (status == 0xF0) {
      i += vlq();
    } else {
      const std::uint8_t note = b[i], velocity = b[i + 1];
      i += 2;
      if (note > 127 || velocity > 127) return "data byte above 127";
      if ((status & 0xF0) == 0x90) ++sounding[note];
      if ((status & 0xF0) == 0x80 && --sounding[note] < 0) return "Note Off without Note On";
    }
  }
  for (int n = 0; n < 128; ++n) {
    if (sounding[static_cast<std::size_t>(n)]) return "no Note Off for note " + std::to_string(n);
  }
  return "";
}

// Runs random gestures over the grids: after each one the notes must be whole, and
// where the literal operations would have left whole notes the result must be theirs.
// Undoing everything must give back the start, redoing everything the end.
struct GestureRun {
  int compared = 0;
  int literalBroken = 0;

  void Run(Grids& g, std::mt19937& rng, const std::vector<int>& pitchChoices, int steps,
           bool wild) {
    const int frames = g.marks.GetFrames();
    const Grids start = g;
    SNoteEdit edit(g.marks, g.pitches);
    SEditHistory history;
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto pitch = [&] { return pitchChoices[static_cast<std::size_t>(pick(0, static_cast<int>(pitchChoices.size()) - 1))]; };
    for (int step = 0; step < steps; ++step) {
      SGesture gesture;
      gesture.button = pick(0, 1) ? SButton::Left : SButton::Right;
      gesture.startFrame = pick(0, frames - 1);
      gesture.endFrame = std::clamp(gesture.startFrame + pick(-8, 8), 0, frames - 1);
      gesture.downPitch = pitch();
      gesture.newPitch = pick(0, 3) ? gesture.downPitch : pitch();
      if (wild) {
        // What the pointer can also produce: ranges past the grid, pitches that no
        // note can have, single-frame clicks, the middle button.
        if (pick(0, 4) == 0) gesture.endFrame = gesture.startFrame + pick(-frames, frames);
        if (pick(0, 9) == 0) gesture.downPitch = pick(0, 1) ? 0 : 128 + pick(0, 200);
        if (pick(0, 9) == 0) gesture.newPitch = pick(0, 1) ? 0 : 128 + pick(0, 200);
        if (pick(0, 9) == 0) gesture.button = SButton::Middle;
      }
      const bool literalApplies =
          !wild && !(gesture.button == SButton::Left && gesture.startFrame == gesture.endFrame);
      Grids literal(1, 1);
      const bool literalWhole = literalApplies && LiteralResult(g, gesture, literal);
      const Grids before = g;
      history.Push(edit.Apply(gesture));
      ASSERT_EQ(Malformed(g), "") << "before:\n" << before.Dump() << Describe(gesture);
      ASSERT_EQ(MidiFault(g), "") << "before:\n" << before.Dump() << Describe(gesture);
      if (!literalApplies) continue;
      if (literalWhole) {
        ++compared;
        ASSERT_TRUE(g == literal) << "before:\n"
                                  << before.Dump() << Describe(gesture) << "\nliteral:\n"
                                  << literal.Dump() << "mended:\n"
                                  << g.Dump();
      } else {
        ++literalBroken;
      }
    }
    const Grids end = g;
    while (history.Undo(g.marks, g.pitches)) {
    }
    ASSERT_TRUE(g == start) << "undo all:\n" << g.Dump() << "start:\n" << start.Dump();
    while (history.Redo(g.marks, g.pitches)) {
    }
    ASSERT_TRUE(g == end) << "redo all:\n" << g.Dump() << "end:\n" << end.Dump();
  }
};

// A converted melody: the engine's grids after a run over a synthesized tune.
Grids ConvertedGrids(const std::vector<zuroka::MelodyNote>& tune) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("zuroka-edit-" + std::to_string(::getpid()) + ".wav");
  SFixedSeam seam;
  SEngine engine(seam);
  EXPECT_TRUE(zuroka::WriteWav(path.string(), zuroka::SynthesizeMelody(tune)));
  EXPECT_EQ(engine.wavFile.Open(path.string()), 1);
  EXPECT_TRUE(engine.BeginRun(path.string()));
  engine.AnalyzeFrames();
  engine.FinishTracks();
  std::filesystem::remove(path);
  Grids g(engine.marks.GetRows(), engine.marks.GetFrames());
  for (int r = 0; r < g.marks.GetRows(); ++r) {
    for (int f = 0; f < g.marks.GetFrames(); ++f) {
      g.marks.SetSequence(r, f, engine.marks.Row(r)[f]);
      g.pitches.SetSequence(r, f, engine.pitches.Row(r)[f]);
    }
  }
  g.marks.SetMaxRow(engine.marks.GetMaxRow());
  return g;
}

std::vector<int> PitchesIn(const Grids& g) {
  std::set<int> seen;
  for (int r = 0; r < g.pitches.GetRows(); ++r) {
    for (int f = 0; f < g.pitches.GetFrames(); ++f) {
      if (g.pitches.Row(r)[f]) seen.insert(g.pitches.Row(r)[f]);
    }
  }
  return {seen.begin(), seen.end()};
}

}  // namespace

// ---- The operations on small grids ----

TEST(SNoteEdit, LeftDragWritesANoteInEitherDirection) {
  for (const SGesture& g : {Left(12, 15, 60, 60), Left(15, 12, 60, 60)}) {
    Grids grids(40, 20);
    SNoteEdit edit(grids.marks, grids.pitches);
    const SEditRecord r = edit.Apply(g);
    EXPECT_TRUE(r.accepted);
    EXPECT_EQ(grids.Marks(0), "0 0 0 0 0 0 0 0 0 0 0 0 9 0 0 8 0 0 0 0");
    EXPECT_EQ(grids.Pitches(0), "0 0 0 0 0 0 0 0 0 0 0 0 60 60 60 60 0 0 0 0");
    EXPECT_EQ(grids.marks.GetMaxRow(), 0);
    EXPECT_EQ(r.cells.size(), 6u);  // two marks, four pitches
  }
}

TEST(SNoteEdit, LeftDragInsideALongerNoteSplitsItsRow) {
  // Row 0 holds 62 over 0..11; the new note of 60 over 4..7 goes into that row, the
  // first with no mark in the range, and the old note keeps its ends around it.
  Grids g(3, 12);
  g.Note(0, 0, 11, 62);
  SNoteEdit(g.marks, g.pitches).Apply(Left(4, 7, 60, 60));
  EXPECT_EQ(g.Marks(0), "9 0 0 8 9 0 0 8 9 0 0 8");
  EXPECT_EQ(g.Pitches(0), "62 62 62 62 60 60 60 60 62 62 62 62");
  EXPECT_EQ(Malformed(g), "");

  // One frame left on a side goes.
  Grids h(3, 8);
  h.Note(0, 0, 7, 62);
  SNoteEdit(h.marks, h.pitches).Apply(Left(1, 6, 60, 60));
  EXPECT_EQ(h.Marks(0), "0 9 0 0 0 0 8 0");
  EXPECT_EQ(h.Pitches(0), "0 60 60 60 60 60 60 0");
}

TEST(SNoteEdit, RightDragSplitsANoteOfThePressPitchAndIgnoresOthers) {
  Grids g(2, 10);
  g.Note(0, 0, 9, 64);
  SNoteEdit edit(g.marks, g.pitches);
  EXPECT_TRUE(edit.Apply(Right(3, 5, 65)).cells.empty());  // no note of 65 there
  edit.Apply(Right(3, 5, 64));
  EXPECT_EQ(g.Marks(0), "9 0 8 0 0 0 9 0 0 8");
  EXPECT_EQ(g.Pitches(0), "64 64 64 0 0 0 64 64 64 64");
}

TEST(SNoteEdit, RightDragStopsAtAnEndMarkOnlyWhenAnotherPitchFollowsAtOnce) {
  // 64 over 0..3, then 66 from frame 4: clearing stops at the end mark in frame 3.
  Grids g(1, 8);
  g.Note(0, 0, 3, 64);
  g.Note(0, 4, 7, 66);
  SNoteEdit(g.marks, g.pitches).Apply(Right(2, 5, 64));
  EXPECT_EQ(g.Marks(0), "9 8 0 0 9 0 0 8");
  EXPECT_EQ(g.Pitches(0), "64 64 0 0 66 66 66 66");

  // 66 starts one frame later: the whole range goes, 66's cells in it too.
  Grids h(1, 9);
  h.Note(0, 0, 3, 64);
  h.Note(0, 5, 8, 66);
  SNoteEdit(h.marks, h.pitches).Apply(Right(2, 6, 64));
  EXPECT_EQ(h.Marks(0), "9 8 0 0 0 0 0 9 8");
  EXPECT_EQ(h.Pitches(0), "64 64 0 0 0 0 0 66 66");
}

TEST(SNoteEdit, SamePitchOverTheTailReplacesIt) {
  Grids g(2, 12);
  g.Note(0, 0, 6, 60);
  SNoteEdit(g.marks, g.pitches).Apply(Left(4, 9, 60, 60));
  EXPECT_EQ(g.Marks(0), "9 0 0 8 9 0 0 0 0 8 0 0");
  EXPECT_EQ(g.Pitches(0), "60 60 60 60 60 60 60 60 60 60 0 0");
}

TEST(SNoteEdit, FindRowPrefersTheLastSamePitchRowAndRaisesTheHighestRow) {
  Grids g(6, 10);
  g.Note(2, 3, 5, 60);  // same pitch, marks in range
  g.Note(4, 4, 6, 60);  // same pitch, later row
  g.Note(5, 4, 6, 61);  // another pitch: taken
  g.marks.SetMaxRow(0);
  SNoteEdit edit(g.marks, g.pitches);
  edit.startFrame = 3;
  edit.endFrame = 7;
  edit.newPitch = 60;
  EXPECT_EQ(edit.FindRow(), 4);  // over the free rows 0, 1 and 3
  EXPECT_EQ(g.marks.GetMaxRow(), 4);
  edit.newPitch = 62;
  EXPECT_EQ(edit.FindRow(), 0);  // no same-pitch row: the first free one
  // Every row taken: the last row.
  Grids full(2, 4);
  full.Note(0, 0, 3, 50);
  full.Note(1, 0, 3, 51);
  SNoteEdit f(full.marks, full.pitches);
  f.startFrame = 0;
  f.endFrame = 3;
  f.newPitch = 52;
  EXPECT_EQ(f.FindRow(), 1);
}

TEST(SNoteEdit, MiddleButtonChangesNothing) {
  Grids g(2, 6);
  g.Note(0, 1, 4, 60);
  const Grids before = g;
  const SEditRecord r = SNoteEdit(g.marks, g.pitches).Apply({SButton::Middle, 1, 4, 60, 60});
  EXPECT_TRUE(r.accepted);
  EXPECT_FALSE(r.Changed());
  EXPECT_TRUE(g == before);
}

// ---- Where the first version's algorithm broke notes (grids as frame-by-frame cells) ----

TEST(SNoteEditMended, NeighbourRepairNeverJoinsTwoNotes) {
  // 64 over 0..1 and 64 over 2..3; erasing frame 3 left an end mark alone at 2. The
  // one remaining frame of the second note goes instead.
  Grids g(1, 4);
  g.Note(0, 0, 1, 64);
  g.Note(0, 2, 3, 64);
  SNoteEdit(g.marks, g.pitches).Apply(Right(3, 3, 64));
  EXPECT_EQ(g.Marks(0), "9 8 0 0");
  EXPECT_EQ(g.Pitches(0), "64 64 0 0");

  // The mirror: 66 over 0..1, 64 over 2..3; erasing 66 at frame 0 left two start marks.
  Grids h(1, 4);
  h.Note(0, 0, 1, 66);
  h.Note(0, 2, 3, 64);
  SNoteEdit(h.marks, h.pitches).Apply(Right(0, 0, 66));
  EXPECT_EQ(h.Marks(0), "0 0 9 8");
  EXPECT_EQ(h.Pitches(0), "0 0 64 64");
}

TEST(SNoteEditMended, NeighbourRepairLeavesNotesThatStillGoOn) {
  // 64 over 0..1, 66 over 2..3; a left drag of 66 over 1..2 cut 64 to a lone end mark.
  // 64 ends inside the range and is not touched; the old 66 goes, the new one takes row 1.
  Grids g(2, 4);
  g.Note(0, 0, 1, 64);
  g.Note(0, 2, 3, 66);
  SNoteEdit(g.marks, g.pitches).Apply(Left(1, 2, 66, 66));
  EXPECT_EQ(g.Marks(0), "9 8 0 0");
  EXPECT_EQ(g.Pitches(0), "64 64 0 0");
  EXPECT_EQ(g.Marks(1), "0 9 8 0");
  EXPECT_EQ(g.Pitches(1), "0 66 66 0");
  EXPECT_EQ(g.marks.GetMaxRow(), 1);

  // The same grid, a left drag of 64 over 1..2 left a lone start mark of 66. 66 runs
  // on from the range and stays whole; the old 64 goes.
  Grids h(2, 4);
  h.Note(0, 0, 1, 64);
  h.Note(0, 2, 3, 66);
  SNoteEdit(h.marks, h.pitches).Apply(Left(1, 2, 64, 64));
  EXPECT_EQ(h.Marks(0), "0 0 9 8");
  EXPECT_EQ(h.Pitches(0), "0 0 66 66");
  EXPECT_EQ(h.Marks(1), "0 9 8 0");
  EXPECT_EQ(h.Pitches(1), "0 64 64 0");
}

TEST(SNoteEditMended, EraseWhoseStopLiesInAnotherRow) {
  // Row 0: 64 over 3..4; row 1: 64 over 0..1, 66 over 2..3. The search takes row 0's
  // start mark and stops at row 1's end mark: the stretch 3..1 is empty, and row 0's
  // note, which used to lose its end mark, stays whole.
  Grids g(2, 5);
  g.Note(0, 3, 4, 64);
  g.Note(1, 0, 1, 64);
  g.Note(1, 2, 3, 66);
  const Grids before = g;
  SNoteEdit(g.marks, g.pitches).Apply(Right(1, 3, 64));
  EXPECT_TRUE(g == before) << g.Dump();

  // Row 0: 64 over 1..4; row 1: 64 over 0..2, 66 over 3..5. The stretch 1..2 of row 0 is
  // cleared up to row 1's end mark; the rest of row 0's note, cut from its start, goes too.
  Grids h(2, 6);
  h.Note(0, 1, 4, 64);
  h.Note(1, 0, 2, 64);
  h.Note(1, 3, 5, 66);
  SNoteEdit(h.marks, h.pitches).Apply(Right(1, 3, 64));
  EXPECT_EQ(h.Marks(0), "0 0 0 0 0 0");
  EXPECT_EQ(h.Pitches(0), "0 0 0 0 0 0");
  EXPECT_EQ(h.Marks(1), "9 0 8 9 0 8");
}

TEST(SNoteEditMended, PitchZeroIsNoNote) {
  // A right drag on the row of MIDI 0 used to match the empty cells of row 0 and clear
  // the note of 64 there.
  Grids g(2, 8);
  g.Note(0, 0, 3, 64);
  const Grids before = g;
  const SEditRecord r = SNoteEdit(g.marks, g.pitches).Apply(Right(2, 5, 0));
  EXPECT_FALSE(r.Changed());
  EXPECT_TRUE(g == before);
}

// ---- Gestures the pointer can make that a note cannot follow ----

TEST(SNoteEditLimits, OneFrameLeftGestureWritesATwoFrameNote) {
  Grids g(2, 6);
  SNoteEdit edit(g.marks, g.pitches);
  SEditRecord r = edit.Apply(Left(2, 2, 60, 60));
  EXPECT_EQ(r.gesture.startFrame, 2);
  EXPECT_EQ(r.gesture.endFrame, 3);
  EXPECT_EQ(g.Marks(0), "0 0 9 8 0 0");
  // At the last frame the note takes the frame before.
  r = edit.Apply(Left(5, 5, 62, 62));
  EXPECT_EQ(r.gesture.startFrame, 4);
  EXPECT_EQ(g.Marks(0), "0 0 9 8 9 8");
  EXPECT_EQ(g.Pitches(0), "0 0 60 60 62 62");
}

TEST(SNoteEditLimits, RangesAreClippedToTheGridAndPitchesToNoteNumbers) {
  Grids g(2, 6);
  SNoteEdit edit(g.marks, g.pitches);
  // Past both ends: clipped.
  SEditRecord r = edit.Apply(Left(-3, 40, 60, 60));
  EXPECT_TRUE(r.accepted);
  EXPECT_EQ(g.Marks(0), "9 0 0 0 0 8");
  EXPECT_EQ(Malformed(g), "");
  const Grids before = g;
  // Wholly outside, or a pitch no note can have: nothing happens.
  for (const SGesture& bad : {Left(6, 9, 60, 60), Left(-5, -1, 60, 60), Right(7, 8, 60),
                              Left(1, 3, 60, 0), Left(1, 3, 60, 128), Left(1, 3, 60, 300)}) {
    EXPECT_FALSE(edit.Apply(bad).accepted) << Describe(bad);
    EXPECT_TRUE(g == before) << Describe(bad);
  }
  // A press above MIDI 127 erases nothing but still writes the released pitch (into
  // row 0, which has no mark in the range).
  edit.Apply(Left(1, 3, 140, 70));
  EXPECT_EQ(g.Marks(0), "0 9 0 8 9 8");
  EXPECT_EQ(g.Pitches(0), "0 70 70 70 60 60");
  // Grids too short for any note, and grids of no size.
  Grids one(2, 1);
  EXPECT_FALSE(SNoteEdit(one.marks, one.pitches).Apply(Left(0, 0, 60, 60)).accepted);
  Grids none(0, 0);
  EXPECT_FALSE(SNoteEdit(none.marks, none.pitches).Apply(Right(0, 3, 60)).accepted);
}

TEST(SNoteEditLimits, MalformedCellsAreFound) {
  Grids g(2, 6);
  g.Note(0, 1, 3, 60);
  EXPECT_FALSE(SNoteEdit::FindMalformedCell(g.marks, g.pitches));
  g.marks.SetSequence(0, 3, 0);  // the note loses its end
  auto bad = SNoteEdit::FindMalformedCell(g.marks, g.pitches);
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->row, 0);
  g.marks.SetSequence(0, 3, 8);
  g.pitches.SetSequence(1, 4, 61);  // a note number with no note
  bad = SNoteEdit::FindMalformedCell(g.marks, g.pitches);
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->row, 1);
  EXPECT_EQ(bad->frame, 4);
  g.pitches.SetSequence(1, 4, 0);
  g.pitches.SetSequence(0, 2, 61);  // the number changes inside the note
  EXPECT_TRUE(SNoteEdit::FindMalformedCell(g.marks, g.pitches));
}

// ---- Undo and redo ----

TEST(SEditHistory, UndoAndRedoRestoreTheExactCellsAndHighestRow) {
  Grids g(4, 12);
  g.Note(0, 0, 11, 62);
  SNoteEdit edit(g.marks, g.pitches);
  SEditHistory history;
  const Grids s0 = g;
  history.Push(edit.Apply(Left(4, 7, 60, 60)));
  const Grids s1 = g;
  history.Push(edit.Apply(Left(4, 7, 62, 65)));  // lands in row 1: the highest row rises
  const Grids s2 = g;
  EXPECT_EQ(g.marks.GetMaxRow(), 1);
  history.Push(edit.Apply(Right(5, 6, 99)));  // changes nothing: not kept
  EXPECT_TRUE(history.Undo(g.marks, g.pitches));
  EXPECT_TRUE(g == s1);
  EXPECT_EQ(g.marks.GetMaxRow(), 0);
  EXPECT_TRUE(history.Undo(g.marks, g.pitches));
  EXPECT_TRUE(g == s0);
  EXPECT_FALSE(history.Undo(g.marks, g.pitches));
  EXPECT_TRUE(history.Redo(g.marks, g.pitches));
  EXPECT_TRUE(g == s1);
  // A new gesture forgets what was undone.
  history.Push(edit.Apply(Right(0, 1, 62)));
  EXPECT_FALSE(history.CanRedo());
  EXPECT_TRUE(history.Undo(g.marks, g.pitches));
  EXPECT_TRUE(g == s1);
  EXPECT_TRUE(history.Undo(g.marks, g.pitches));
  EXPECT_TRUE(g == s0);
  EXPECT_FALSE(history.CanUndo());
  EXPECT_FALSE(g == s2);
}

TEST(SEditHistory, RecordsOfOtherGridsAreNotApplied) {
  Grids g(2, 8);
  SNoteEdit edit(g.marks, g.pitches);
  SEditHistory history;
  history.Push(edit.Apply(Left(1, 4, 60, 60)));
  g.marks.Init(2, 9);  // a new conversion
  g.pitches.Init(2, 9);
  EXPECT_FALSE(history.Undo(g.marks, g.pitches));
  EXPECT_FALSE(history.CanUndo());
  EXPECT_EQ(g.Marks(0), "0 0 0 0 0 0 0 0 0");
}

TEST(SEditHistory, ApplyGesturesRunsTheListInOrder) {
  Grids a(3, 10), b(3, 10);
  const std::vector<SGesture> list = {Left(1, 5, 60, 60), Left(3, 8, 62, 62), Right(4, 4, 60),
                                      Left(9, 9, 64, 64)};
  const auto records = ApplyGestures(a.marks, a.pitches, list);
  ASSERT_EQ(records.size(), list.size());
  SNoteEdit edit(b.marks, b.pitches);
  for (const SGesture& g : list) edit.Apply(g);
  EXPECT_TRUE(a == b);
  EXPECT_EQ(records[3].gesture.startFrame, 8);  // the last frame's click took the one before
}

// ---- Thousands of gestures ----

TEST(SNoteEditProperty, RandomGridsStayWholeAndMatchTheLiteralResult) {
  std::mt19937 rng(12345);
  GestureRun run;
  for (int seq = 0; seq < 2500; ++seq) {
    const int frames = std::uniform_int_distribution<int>(6, 30)(rng);
    const int rows = std::uniform_int_distribution<int>(1, 8)(rng);
    Grids g(rows, frames);
    FillRandom(g, rng, std::uniform_int_distribution<int>(0, rows)(rng), 60,
               std::uniform_int_distribution<int>(1, 4)(rng));
    ASSERT_EQ(Malformed(g), "");
    run.Run(g, rng, {60, 61, 62, 63}, 12, false);
    if (HasFatalFailure()) return;
  }
  // Both kinds must have occurred for the comparison to mean anything.
  EXPECT_GT(run.compared, 10000);
  EXPECT_GT(run.literalBroken, 1000);
}

TEST(SNoteEditProperty, ConvertedGridsStayWholeAndMatchTheLiteralResult) {
  std::mt19937 rng(777);
  GestureRun run;
  const std::vector<std::vector<zuroka::MelodyNote>> tunes = {
      zuroka::ExampleTune(4.0),
      {{60, 0.4}, {62, 0.4}, {64, 0.3}, {0, 0.1}, {64, 0.3}, {62, 0.5}, {60, 0.6}},
      {{57, 0.3}, {69, 0.3}, {57, 0.3}, {0, 0.2}, {72, 0.5}, {71, 0.2}, {72, 0.6}}};
  for (const auto& tune : tunes) {
    const Grids converted = ConvertedGrids(tune);
    ASSERT_EQ(Malformed(converted), "");
    std::vector<int> choices = PitchesIn(converted);
    ASSERT_FALSE(choices.empty());
    choices.push_back(choices.front() + 1);
    for (int seq = 0; seq < 150; ++seq) {
      Grids g = converted;
      run.Run(g, rng, choices, 20, false);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(run.compared, 1000);
}

TEST(SNoteEditProperty, AnyPointerGestureKeepsNotesWhole) {
  std::mt19937 rng(99);
  GestureRun run;
  for (int seq = 0; seq < 1500; ++seq) {
    const int frames = std::uniform_int_distribution<int>(1, 25)(rng);
    const int rows = std::uniform_int_distribution<int>(1, 5)(rng);
    Grids g(rows, frames);
    FillRandom(g, rng, rows, 0, 3);  // notes of pitches 0..2: 0 is what an empty cell holds
    // Drop what the pitch 0 made: such notes cannot exist.
    for (int r = 0; r < rows; ++r) {
      for (int f = 0; f < frames; ++f) {
        if (g.pitches.Row(r)[f] == 0) g.marks.SetSequence(r, f, 0);
      }
    }
    if (!Malformed(g).empty()) continue;
    run.Run(g, rng, {0, 1, 2, 127}, 15, true);
    if (HasFatalFailure()) return;
  }
}
