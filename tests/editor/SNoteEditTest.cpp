#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>

#include "ExampleMelody.h"
#include "GridText.h"
#include "LiteralEdit.h"
#include "SEditHistory.h"
#include "SEngine.h"
#include "SNoteEdit.h"

namespace {

SGesture Left(int from, int to, int down, int up) { return {SButton::Left, from, to, down, up}; }
SGesture Right(int from, int to, int pitch) { return {SButton::Right, from, to, pitch, pitch}; }

// Empty when the grids hold whole notes that a MIDI file can carry: the writer scans
// rows 0 .. GetMaxRow() only, so a note above it would lose its Note On and Note Off.
std::string Fault(const Grids& g) {
  if (const auto bad = SNoteEdit::FindMalformedCell(g.marks, g.pitches)) {
    return "row " + std::to_string(bad->row) + " frame " + std::to_string(bad->frame) + ": " +
           bad->reason + "\n" + g.Dump();
  }
  for (int r = g.marks.GetMaxRow() + 1; r < g.marks.GetRows(); ++r) {
    const std::uint8_t* m = g.marks.Row(r);
    if (std::count(m, m + g.marks.GetFrames(), 9)) return "note above the highest row\n" + g.Dump();
  }
  return "";
}

std::string Describe(const SGesture& g) {
  return std::to_string(static_cast<int>(g.button)) + " " + std::to_string(g.startFrame) + ".." +
         std::to_string(g.endFrame) + " " + std::to_string(g.downPitch) + "->" +
         std::to_string(g.newPitch);
}

// A gesture on grids given as notes, and the rows expected afterwards.
struct Case {
  const char* what;
  int rows, frames;
  std::vector<std::array<int, 4>> notes;  // row, first frame, last frame, pitch
  SGesture gesture;
  std::vector<std::pair<std::string, std::string>> expected;  // marks, pitches of rows 0, 1, ..
};

void Check(const Case& c) {
  Grids g(c.rows, c.frames);
  for (const auto& n : c.notes) {
    g.Note(n[0], n[1], n[2], n[3]);
    g.marks.SetMaxRow(std::max(g.marks.GetMaxRow(), n[0]));
  }
  SNoteEdit(g.marks, g.pitches).Apply(c.gesture);
  for (std::size_t r = 0; r < c.expected.size(); ++r) {
    EXPECT_EQ(g.Marks(int(r)), c.expected[r].first) << c.what << ", row " << r;
    EXPECT_EQ(g.Pitches(int(r)), c.expected[r].second) << c.what << ", row " << r;
  }
  EXPECT_EQ(Fault(g), "") << c.what;
}

// Random gestures over the grids: after each the notes are whole; where the literal
// operations leave whole notes the result is theirs; undoing all gives back the start
// and redoing all the end. wild: also what the pointer produces beyond the grids.
struct GestureRun {
  int compared = 0, literalBroken = 0;

  void Run(Grids& g, std::mt19937& rng, const std::vector<int>& pitches, int steps, bool wild) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto pitch = [&] { return pitches[std::size_t(pick(0, int(pitches.size()) - 1))]; };
    const int frames = g.marks.GetFrames();
    const Grids start = g;
    SNoteEdit edit(g.marks, g.pitches);
    SEditHistory history;
    for (int step = 0; step < steps; ++step) {
      SGesture s{pick(0, 1) ? SButton::Left : SButton::Right, pick(0, frames - 1), 0, pitch(), 0};
      s.endFrame = std::clamp(s.startFrame + pick(-8, 8), 0, frames - 1);
      s.newPitch = pick(0, 3) ? s.downPitch : pitch();
      if (wild) {
        if (pick(0, 4) == 0) s.endFrame = s.startFrame + pick(-frames, frames);
        if (pick(0, 9) == 0) s.downPitch = pick(0, 1) ? 0 : 128 + pick(0, 200);
        if (pick(0, 9) == 0) s.newPitch = pick(0, 1) ? 0 : 128 + pick(0, 200);
        if (pick(0, 9) == 0) s.button = SButton::Middle;
      }
      const bool literalApplies =
          !wild && !(s.button == SButton::Left && s.startFrame == s.endFrame);
      Grids literal = g;
      if (literalApplies) {
        LiteralEdit lit{literal.marks,
                        literal.pitches,
                        std::min(s.startFrame, s.endFrame),
                        std::max(s.startFrame, s.endFrame),
                        s.downPitch,
                        s.newPitch};
        s.button == SButton::Left ? lit.AddNote() : lit.EraseNote();
      }
      // Apply changes g through the editor that holds it: the copy is the grids before.
      const Grids before = g;  // NOLINT(performance-unnecessary-copy-initialization)
      history.Push(edit.Apply(s));
      ASSERT_EQ(Fault(g), "") << "before:\n" << before.Dump() << Describe(s);
      if (!literalApplies) continue;
      if (!SNoteEdit::FindMalformedCell(literal.marks, literal.pitches)) {
        ++compared;
        ASSERT_TRUE(g == literal) << "before:\n"
                                  << before.Dump() << Describe(s) << "\nliteral:\n"
                                  << literal.Dump() << "mended:\n"
                                  << g.Dump();
      } else {
        ++literalBroken;
      }
    }
    const Grids end = g;
    while (history.Undo(g.marks, g.pitches)) {
    }
    ASSERT_TRUE(g == start) << "undo all:\n" << g.Dump();
    while (history.Redo(g.marks, g.pitches)) {
    }
    ASSERT_TRUE(g == end) << "redo all:\n" << g.Dump();
  }
};

// The engine's grids after a conversion of a synthesized tune.
Grids ConvertedGrids(const std::vector<zuroka::MelodyNote>& tune) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("zuroka-edit-" + std::to_string(::getpid()) + ".wav");
  SFixedSeam seam;
  SEngine engine(seam);
  EXPECT_TRUE(zuroka::WriteWav(path.string(), zuroka::SynthesizeMelody(tune)));
  EXPECT_EQ(engine.wavFile.Open(path.string()), 1);
  SConvertRequest request;
  request.write = false;
  EXPECT_TRUE(engine.Convert(request).Succeeded());
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

}  // namespace

TEST(SNoteEdit, GesturesOnSmallGrids) {
  const Case cases[] = {
      {"left drag on empty rows, either direction",
       40,
       8,
       {},
       Left(5, 2, 60, 60),
       {{"0 0 9 0 0 8 0 0", "0 0 60 60 60 60 0 0"}}},
      {"inside a longer note of another pitch: its row, split around",
       3,
       12,
       {{0, 0, 11, 62}},
       Left(4, 7, 60, 60),
       {{"9 0 0 8 9 0 0 8 9 0 0 8", "62 62 62 62 60 60 60 60 62 62 62 62"}}},
      {"a single frame left on a side goes",
       3,
       8,
       {{0, 0, 7, 62}},
       Left(1, 6, 60, 60),
       {{"0 9 0 0 0 0 8 0", "0 60 60 60 60 60 60 0"}}},
      {"right drag splits a note of the press pitch",
       2,
       10,
       {{0, 0, 9, 64}},
       Right(3, 5, 64),
       {{"9 0 8 0 0 0 9 0 0 8", "64 64 64 0 0 0 64 64 64 64"}}},
      {"right drag over another pitch changes nothing",
       2,
       10,
       {{0, 0, 9, 64}},
       Right(3, 5, 65),
       {{"9 0 0 0 0 0 0 0 0 8", "64 64 64 64 64 64 64 64 64 64"}}},
      {"clearing stops at an end mark another pitch follows at once",
       1,
       8,
       {{0, 0, 3, 64}, {0, 4, 7, 66}},
       Right(2, 5, 64),
       {{"9 8 0 0 9 0 0 8", "64 64 0 0 66 66 66 66"}}},
      {"with a gap the other pitch's cells in range go too",
       1,
       9,
       {{0, 0, 3, 64}, {0, 5, 8, 66}},
       Right(2, 6, 64),
       {{"9 8 0 0 0 0 0 9 8", "64 64 0 0 0 0 0 66 66"}}},
      {"same pitch over the tail replaces it",
       2,
       12,
       {{0, 0, 6, 60}},
       Left(4, 9, 60, 60),
       {{"9 0 0 8 9 0 0 0 0 8 0 0", "60 60 60 60 60 60 60 60 60 60 0 0"}}},
      {"the last row holding only the new pitch wins over a free row",
       3,
       8,
       {{1, 2, 4, 60}, {2, 5, 7, 61}},
       Left(2, 5, 62, 60),
       {{"0 0 0 0 0 0 0 0", "0 0 0 0 0 0 0 0"}, {"0 0 9 0 0 8 0 0", "0 0 60 60 60 60 0 0"}}},
      {"middle button changes nothing",
       1,
       4,
       {{0, 0, 3, 60}},
       {SButton::Middle, 0, 3, 60, 60},
       {{"9 0 0 8", "60 60 60 60"}}},
  };
  for (const Case& c : cases) Check(c);
  // FindRow raises the highest row the MIDI writer scans; every row taken: the last row.
  Grids g(3, 4);
  g.Note(0, 0, 3, 50);
  g.Note(1, 0, 3, 51);
  g.marks.SetMaxRow(0);
  SNoteEdit e(g.marks, g.pitches);
  e.startFrame = 0, e.endFrame = 3, e.newPitch = 52;
  EXPECT_EQ(e.FindRow(), 2);
  EXPECT_EQ(g.marks.GetMaxRow(), 2);
  g.Note(2, 0, 3, 53);
  EXPECT_EQ(e.FindRow(), 2);
}

// Where the first version's operations left broken notes (rows as frame-by-frame cells).
TEST(SNoteEdit, MendedCases) {
  const Case cases[] = {
      {"left-side repair joined two notes into a lone end mark",
       1,
       4,
       {{0, 0, 1, 64}, {0, 2, 3, 64}},
       Right(3, 3, 64),
       {{"9 8 0 0", "64 64 0 0"}}},
      {"right-side repair left two start marks",
       1,
       4,
       {{0, 0, 1, 66}, {0, 2, 3, 64}},
       Right(0, 0, 66),
       {{"0 0 9 8", "0 0 64 64"}}},
      {"repair cut a note that ends inside the range",
       2,
       4,
       {{0, 0, 1, 64}, {0, 2, 3, 66}},
       Left(1, 2, 66, 66),
       {{"9 8 0 0", "64 64 0 0"}, {"0 9 8 0", "0 66 66 0"}}},
      {"repair cut a note that goes on past the range",
       2,
       4,
       {{0, 0, 1, 64}, {0, 2, 3, 66}},
       Left(1, 2, 64, 64),
       {{"0 0 9 8", "0 0 66 66"}, {"0 9 8 0", "0 64 64 0"}}},
      {"start mark in one row, stop in another: the empty stretch clears nothing",
       2,
       5,
       {{0, 3, 4, 64}, {1, 0, 1, 64}, {1, 2, 3, 66}},
       Right(1, 3, 64),
       {{"0 0 0 9 8", "0 0 0 64 64"}, {"9 8 9 8 0", "64 64 66 66 0"}}},
      {"start mark in one row, stop in another: the cut note's rest goes",
       2,
       6,
       {{0, 1, 4, 64}, {1, 0, 2, 64}, {1, 3, 5, 66}},
       Right(1, 3, 64),
       {{"0 0 0 0 0 0", "0 0 0 0 0 0"}, {"9 0 8 9 0 8", "64 64 64 66 66 66"}}},
      {"pitch 0 matched every empty cell and cleared other notes",
       2,
       8,
       {{0, 0, 3, 64}},
       Right(2, 5, 0),
       {{"9 0 0 8 0 0 0 0", "64 64 64 64 0 0 0 0"}}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(SNoteEdit, GesturesAreFittedToTheGrids) {
  Grids g(2, 6);
  SNoteEdit edit(g.marks, g.pitches);
  // A click writes two frames: the next one, or at the last frame the one before.
  EXPECT_EQ(edit.Apply(Left(2, 2, 60, 60)).gesture.endFrame, 3);
  EXPECT_EQ(edit.Apply(Left(5, 5, 62, 62)).gesture.startFrame, 4);
  EXPECT_EQ(g.Marks(0), "0 0 9 8 9 8");
  edit.Apply(Left(-3, 40, 61, 61));  // clipped to the grid
  EXPECT_EQ(g.Marks(1), "9 0 0 0 0 8");
  const Grids before = g;
  for (const SGesture& bad : {Left(6, 9, 60, 60), Left(-5, -1, 60, 60), Right(7, 8, 60),
                              Left(1, 3, 60, 0), Left(1, 3, 60, 128)}) {
    EXPECT_FALSE(edit.Apply(bad).accepted) << Describe(bad);
  }
  EXPECT_TRUE(g == before);
  Grids one(2, 1), none(0, 0);
  EXPECT_FALSE(SNoteEdit(one.marks, one.pitches).Apply(Left(0, 0, 60, 60)).accepted);
  EXPECT_FALSE(SNoteEdit(none.marks, none.pitches).Apply(Right(0, 3, 60)).accepted);
}

TEST(SNoteEdit, MalformedCellsAreFound) {
  Grids g(2, 6);
  g.Note(0, 1, 3, 60);
  g.marks.SetSequence(0, 3, 0);
  EXPECT_EQ(SNoteEdit::FindMalformedCell(g.marks, g.pitches)->reason, "note without an end mark");
  g.marks.SetSequence(0, 3, 8);
  g.pitches.SetSequence(1, 4, 61);
  EXPECT_EQ(SNoteEdit::FindMalformedCell(g.marks, g.pitches)->frame, 4);
  g.pitches.SetSequence(1, 4, 0);
  g.pitches.SetSequence(0, 2, 61);
  EXPECT_TRUE(SNoteEdit::FindMalformedCell(g.marks, g.pitches));
}

TEST(SEditHistory, UndoRedoRestoreExactCellsAndForgetOtherGrids) {
  Grids g(4, 12);
  g.Note(0, 0, 11, 62);
  SNoteEdit edit(g.marks, g.pitches);
  SEditHistory history;
  const Grids s0 = g;
  history.Push(edit.Apply(Left(4, 7, 60, 60)));
  const Grids s1 = g;
  history.Push(edit.Apply(Left(4, 7, 62, 65)));  // into row 1: the highest row rises
  EXPECT_EQ(g.marks.GetMaxRow(), 1);
  history.Push(edit.Apply(Right(5, 6, 99)));  // changed nothing: not kept
  EXPECT_TRUE(history.Undo(g.marks, g.pitches));
  EXPECT_TRUE(g == s1);  // compares the highest row too
  EXPECT_TRUE(history.Undo(g.marks, g.pitches));
  EXPECT_TRUE(g == s0);
  EXPECT_FALSE(history.Undo(g.marks, g.pitches));
  EXPECT_TRUE(history.Redo(g.marks, g.pitches));
  EXPECT_TRUE(g == s1);
  history.Push(edit.Apply(Right(0, 1, 62)));  // a new gesture forgets the undone one
  EXPECT_FALSE(history.CanRedo());
  // Grids made anew by a conversion: nothing is written into them.
  g.marks.Init(4, 13);
  g.pitches.Init(4, 13);
  EXPECT_FALSE(history.Undo(g.marks, g.pitches));
  EXPECT_FALSE(history.CanUndo());
  EXPECT_EQ(g.Dump(), "");
}

TEST(SNoteEditProperty, RandomGridsAndPointerGestures) {
  std::mt19937 rng(12345);
  GestureRun run;
  for (int seq = 0; seq < 4000; ++seq) {
    const bool wild = seq % 4 == 3;
    const int frames = std::uniform_int_distribution<int>(wild ? 1 : 6, 30)(rng);
    const int rows = std::uniform_int_distribution<int>(1, 8)(rng);
    Grids g(rows, frames);
    FillRandom(g, rng, std::uniform_int_distribution<int>(0, rows)(rng), 60,
               std::uniform_int_distribution<int>(1, 4)(rng));
    run.Run(g, rng, {60, 61, 62, 63}, 12, wild);
    if (HasFatalFailure()) return;
  }
  // Both outcomes must occur often for the comparison to mean anything.
  EXPECT_GT(run.compared, 10000);
  EXPECT_GT(run.literalBroken, 1000);
}

TEST(SNoteEditProperty, ConvertedGrids) {
  std::mt19937 rng(777);
  GestureRun run;
  for (const auto& tune : std::vector<std::vector<zuroka::MelodyNote>>{
           zuroka::ExampleTune(4.0),
           {{60, 0.4}, {62, 0.4}, {64, 0.3}, {0, 0.1}, {64, 0.3}, {62, 0.5}, {60, 0.6}}}) {
    const Grids converted = ConvertedGrids(tune);
    ASSERT_EQ(Fault(converted), "");
    std::set<int> seen;
    for (int r = 0; r < converted.pitches.GetRows(); ++r) {
      for (int f = 0; f < converted.pitches.GetFrames(); ++f)
        seen.insert(converted.pitches.Row(r)[f]);
    }
    seen.erase(0);
    ASSERT_FALSE(seen.empty());
    std::vector<int> choices(seen.begin(), seen.end());
    choices.push_back(choices.front() + 1);
    for (int seq = 0; seq < 200; ++seq) {
      Grids g = converted;
      run.Run(g, rng, choices, 20, seq % 5 == 4);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(run.compared, 1000);
}
