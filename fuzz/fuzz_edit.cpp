// Random gesture sequences on random grids through the editing core: the grids stay
// well formed after every gesture, nothing is read or written outside them (the
// sanitizers watch), and undoing every gesture gives the grids back.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "FuzzFile.h"
#include "SEditHistory.h"
#include "SEngineSeam.h"
#include "SNoteEdit.h"
#include "SSequence.h"

namespace {

std::vector<std::uint8_t> Snapshot(const SSequence& g) {
  std::vector<std::uint8_t> out;
  for (int r = 0; r < g.GetRows(); ++r) out.insert(out.end(), g.Row(r), g.Row(r) + g.GetFrames());
  return out;
}

SGesture RandomGesture(FuzzedDataProvider& in, int frames) {
  SGesture g;
  const int b = in.ConsumeIntegralInRange(0, 2);
  g.button = b == 0 ? SButton::Left : b == 1 ? SButton::Right : SButton::Middle;
  g.startFrame = in.ConsumeIntegralInRange(-5, frames + 5);
  g.endFrame = in.ConsumeIntegralInRange(-5, frames + 5);
  g.downPitch = in.ConsumeIntegralInRange(-3, 130);
  g.newPitch = in.ConsumeBool() ? g.downPitch : in.ConsumeIntegralInRange(-3, 130);
  return g;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  SFixedSeam seam;
  SSequence marks(&seam), pitches(&seam);
  const int rows = in.ConsumeIntegralInRange(1, 40);
  const int frames = in.ConsumeIntegralInRange(0, 200);
  marks.Init(rows, frames);
  pitches.Init(rows, frames);
  SNoteEdit edit(marks, pitches);

  // Random whole notes as the tracks would write them.
  const int notes = in.ConsumeIntegralInRange(0, 30);
  for (int n = 0; n < notes && frames >= 2; ++n) {
    const int row = in.ConsumeIntegralInRange(0, rows - 1);
    const int a = in.ConsumeIntegralInRange(0, frames - 2);
    const int b = in.ConsumeIntegralInRange(a + 1, std::min(frames - 1, a + 40));
    bool free = true;
    for (int f = a; f <= b; ++f) free = free && pitches.Row(row)[f] == 0;
    if (!free) continue;
    marks.SetSequence(row, a, 9);
    marks.SetSequence(row, b, 8);
    pitches.FillSequence(row, a, b + 1,
                         static_cast<std::uint8_t>(in.ConsumeIntegralInRange(30, 96)));
    if (row > marks.GetMaxRow()) marks.SetMaxRow(row);
  }
  FUZZ_CHECK(!SNoteEdit::FindMalformedCell(marks, pitches));
  const auto marks0 = Snapshot(marks), pitches0 = Snapshot(pitches);
  const int maxRow0 = marks.GetMaxRow();

  SEditHistory history;
  int applied = 0;
  while (in.remaining_bytes() > 0 && applied < 64) {
    SEditRecord rec = edit.Apply(RandomGesture(in, frames));
    FUZZ_CHECK(!SNoteEdit::FindMalformedCell(marks, pitches));
    FUZZ_CHECK(marks.GetMaxRow() >= 0 && marks.GetMaxRow() < 40);
    if (rec.Changed()) ++applied;
    history.Push(std::move(rec));
    if (in.ConsumeIntegralInRange(0, 7) == 0 && history.CanUndo()) {
      FUZZ_CHECK(history.Undo(marks, pitches));
      FUZZ_CHECK(!SNoteEdit::FindMalformedCell(marks, pitches));
      FUZZ_CHECK(history.Redo(marks, pitches));
    }
  }
  while (history.CanUndo()) FUZZ_CHECK(history.Undo(marks, pitches));
  FUZZ_CHECK(Snapshot(marks) == marks0 && Snapshot(pitches) == pitches0);
  FUZZ_CHECK(marks.GetMaxRow() == maxRow0);
  FUZZ_CHECK(seam.messages == 0);
  return 0;
}
