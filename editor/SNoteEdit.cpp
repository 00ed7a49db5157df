#include "SNoteEdit.h"

#include <algorithm>
#include <tuple>

#include "EngineConstants.h"
#include "SSequence.h"

namespace {

constexpr std::uint8_t kOn = zuroka::kNoteOnMark;
constexpr std::uint8_t kOff = zuroka::kNoteOffMark;
constexpr int kNotSet = -10;  // a and b of EraseNote before the search finds them

bool IsNoteNumber(int pitch) {
  return pitch >= SNoteEdit::kLowestNote && pitch <= SNoteEdit::kHighestNote;
}

}  // namespace

SNoteEdit::SNoteEdit(SSequence& marks, SSequence& pitches) : marks(marks), pitches(pitches) {}

std::uint8_t SNoteEdit::Mark(int row, int frame) const {
  return marks.InRange(row, frame) ? marks.Row(row)[frame] : 0;
}

std::uint8_t SNoteEdit::Pitch(int row, int frame) const {
  return pitches.InRange(row, frame) ? pitches.Row(row)[frame] : 0;
}

void SNoteEdit::Set(std::uint8_t grid, int row, int frame, std::uint8_t value) {
  SSequence& g = grid == kMarksGrid ? marks : pitches;
  if (!g.InRange(row, frame)) return;  // cells outside the grid are never written
  const std::uint8_t old = g.Row(row)[frame];
  if (old == value) return;
  if (recording) writes.push_back({grid, row, frame, old, value});
  g.SetSequence(row, frame, value);
}

void SNoteEdit::Clear(int row, int frame) {
  Set(kMarksGrid, row, frame, 0);
  Set(kPitchesGrid, row, frame, 0);
}

std::optional<SGesture> SNoteEdit::Normalize(const SGesture& gesture, int frames) {
  SGesture g = gesture;
  g.startFrame = std::min(gesture.startFrame, gesture.endFrame);
  g.endFrame = std::max(gesture.startFrame, gesture.endFrame);
  if (g.button == SButton::Middle) return g;
  if (frames <= 0 || g.endFrame < 0 || g.startFrame > frames - 1) return std::nullopt;
  g.startFrame = std::max(g.startFrame, 0);
  g.endFrame = std::min(g.endFrame, frames - 1);
  if (g.button == SButton::Left) {
    if (!IsNoteNumber(g.newPitch) || frames < 2) return std::nullopt;
    if (g.startFrame == g.endFrame) {
      if (g.endFrame + 1 < frames) {
        ++g.endFrame;
      } else {
        --g.startFrame;
      }
    }
  }
  return g;
}

void SNoteEdit::BeginRecord() {
  writes.clear();
  recording = true;
  recordMaxRow = marks.GetMaxRow();
  remnant.reset();
}

SEditRecord SNoteEdit::EndRecord(const SGesture& applied) {
  SEditRecord record;
  record.accepted = true;
  record.gesture = applied;
  record.rows = marks.GetRows();
  record.frames = marks.GetFrames();
  record.oldMaxRow = recordMaxRow;
  record.newMaxRow = marks.GetMaxRow();
  // Keep each cell once: its value before the first write and after the last.
  std::stable_sort(writes.begin(), writes.end(), [](const SCellChange& a, const SCellChange& b) {
    return std::tie(a.grid, a.row, a.frame) < std::tie(b.grid, b.row, b.frame);
  });
  for (std::size_t i = 0; i < writes.size();) {
    std::size_t j = i;
    while (j + 1 < writes.size() && writes[j + 1].grid == writes[i].grid &&
           writes[j + 1].row == writes[i].row && writes[j + 1].frame == writes[i].frame) {
      ++j;
    }
    SCellChange c = writes[i];
    c.newValue = writes[j].newValue;
    if (c.oldValue != c.newValue) record.cells.push_back(c);
    i = j + 1;
  }
  writes.clear();
  recording = false;
  return record;
}

SEditRecord SNoteEdit::Apply(const SGesture& gesture) {
  SEditRecord rejected;
  rejected.gesture = gesture;
  rejected.rows = marks.GetRows();
  rejected.frames = marks.GetFrames();
  rejected.oldMaxRow = rejected.newMaxRow = marks.GetMaxRow();
  if (marks.GetRows() != pitches.GetRows() || marks.GetFrames() != pitches.GetFrames() ||
      marks.GetRows() <= 0) {
    return rejected;
  }
  const std::optional<SGesture> g = Normalize(gesture, marks.GetFrames());
  if (!g) return rejected;

  BeginRecord();
  startFrame = g->startFrame;
  endFrame = g->endFrame;
  downPitch = g->downPitch;
  newPitch = g->newPitch;
  editRow = -1;
  switch (g->button) {
    case SButton::Left:
      AddNote();
      break;
    case SButton::Right:
      EraseNote();
      break;
    case SButton::Middle:
      break;
  }
  return EndRecord(*g);
}

void SNoteEdit::AddNote() {
  const int s = startFrame;
  const int e = endFrame;
  EraseNote(/*deferRemnant=*/true);
  editRow = FindRow();
  // Left until now so that FindRow sees the rows as a plain erase leaves them; when the
  // new note goes into that row it covers the remnant anyway.
  if (remnant && remnant->row != editRow) RepairRemnant();
  remnant.reset();
  Set(kMarksGrid, editRow, s, kOn);
  for (int f = s + 1; f < e; ++f) Set(kMarksGrid, editRow, f, 0);
  Set(kMarksGrid, editRow, e, kOff);
  for (int f = s; f <= e; ++f) Set(kPitchesGrid, editRow, f, static_cast<std::uint8_t>(newPitch));
  FixNeighbours();
}

void SNoteEdit::EraseNote() { EraseNote(/*deferRemnant=*/false); }

void SNoteEdit::EraseNote(bool deferRemnant) {
  const int s = startFrame;
  const int e = endFrame;
  const int p = downPitch;
  remnant.reset();
  // The pitch grid's 0 means "no note": searching for it would match every empty cell
  // and clear notes of other pitches.
  if (!IsNoteNumber(p)) return;

  int a = kNotSet;
  int b = kNotSet;
  int chosen = -1;
  int stopRow = -1;
  bool found = false;
  bool seenEnd = false;
  const int rows = marks.GetRows();
  for (int i = 0; i < rows && !found; ++i) {
    for (int f = s; f <= e; ++f) {
      const std::uint8_t m = Mark(i, f);
      if (m == kOn && Pitch(i, f) == p) {
        if (!seenEnd) {
          a = f;
          chosen = i;  // a later row's start mark replaces an earlier one
        }
      } else if (m == kOff && Pitch(i, f) == p) {
        if (Mark(i, f + 1) == kOn && Pitch(i, f + 1) != p) {
          // Another pitch's note follows without a gap: clear no further than this end.
          b = f;
          found = true;
          stopRow = i;
          break;
        }
        seenEnd = true;
      }
    }
  }
  if (a < 0) a = s;
  if (b < 0) b = e;
  if (found && chosen < 0) chosen = stopRow;
  if (!found) {
    for (int i = 0; i < rows && !found; ++i) {
      for (int f = a; f <= b; ++f) {
        if (Pitch(i, f) == p) {
          found = true;
          if (chosen < 0) chosen = i;
          break;
        }
      }
    }
  }
  if (!found) return;

  editRow = chosen;
  for (int f = a; f <= b; ++f) Clear(editRow, f);
  // The end mark that bounded the clear belongs to another row: in this row the clear
  // may have cut a note, whose rest lost its start.
  if (stopRow != editRow && a <= b && b < e && Occupied(editRow, b + 1) &&
      Mark(editRow, b + 1) != kOn) {
    remnant = Remnant{editRow, b + 1};
  }
  FixNeighbours();
  if (remnant && !deferRemnant) {
    RepairRemnant();
    remnant.reset();
  }
}

void SNoteEdit::RepairRemnant() {
  const int row = remnant->row;
  // Clear the cut note's rest up to its end mark within the range; past the range the
  // right-hand repair cuts it.
  for (int f = remnant->from; f <= endFrame; ++f) {
    const std::uint8_t m = Mark(row, f);
    if (!Occupied(row, f) || (f > remnant->from && m == kOn)) return;
    Clear(row, f);
    if (m == kOff) return;
  }
  FixRight(row);
}

void SNoteEdit::FixNeighbours() {
  FixLeft(editRow);
  FixRight(editRow);
}

// The note at s - 1, if its frames right of it are gone, now ends at s - 1; a
// single frame left of the range goes. It must be a note that really ran into the
// range: one that ends at s - 1 or still goes on at s is left alone, and a start
// mark at s - 1 means the cell before belongs to another note, so the remnant is one
// frame however the cell before is occupied.
void SNoteEdit::FixLeft(int row) {
  const int c = startFrame - 1;
  if (c < 0 || !Occupied(row, c)) return;
  const std::uint8_t m = Mark(row, c);
  if (m == kOff) return;
  const bool continues = Pitch(row, startFrame) == Pitch(row, c) &&
                         (Mark(row, startFrame) == 0 || Mark(row, startFrame) == kOff);
  if (continues) return;
  if (m != kOn && Occupied(row, c - 1)) {
    Set(kMarksGrid, row, c, kOff);
  } else {
    Clear(row, c);
  }
}

// The mirror of FixLeft at e + 1: the note there now starts at e + 1, or goes when
// only that one frame of it is left.
void SNoteEdit::FixRight(int row) {
  const int c = endFrame + 1;
  if (c >= marks.GetFrames() || !Occupied(row, c)) return;
  const std::uint8_t m = Mark(row, c);
  if (m == kOn) return;
  const bool continues = Pitch(row, endFrame) == Pitch(row, c) &&
                         (Mark(row, endFrame) == 0 || Mark(row, endFrame) == kOn);
  if (continues) return;
  if (m != kOff && Occupied(row, c + 1)) {
    Set(kMarksGrid, row, c, kOn);
  } else {
    Clear(row, c);
  }
}

int SNoteEdit::FindRow() {
  const int s = startFrame;
  const int e = endFrame;
  const int q = newPitch;
  const int rows = marks.GetRows();
  int lastSame = -1;
  int firstFree = -1;
  for (int i = 0; i < rows; ++i) {
    bool same = false;
    bool taken = false;
    for (int f = s; f <= e; ++f) {
      if (Mark(i, f) == 0) continue;
      if (Pitch(i, f) != q) {
        taken = true;
        break;
      }
      same = true;
    }
    if (taken) continue;
    if (same) {
      lastSame = i;
    } else if (firstFree < 0) {
      firstFree = i;
    }
  }
  const int result = lastSame >= 0 ? lastSame : firstFree >= 0 ? firstFree : rows - 1;
  // The MIDI writer scans rows 0 .. GetMaxRow() only.
  if (result > marks.GetMaxRow()) marks.SetMaxRow(result);
  return result;
}

std::optional<SMalformedCell> SNoteEdit::FindMalformedCell(const SSequence& marks,
                                                           const SSequence& pitches) {
  if (marks.GetRows() != pitches.GetRows() || marks.GetFrames() != pitches.GetFrames()) {
    return SMalformedCell{-1, -1, "the grids differ in shape"};
  }
  for (int r = 0; r < marks.GetRows(); ++r) {
    const std::uint8_t* m = marks.Row(r);
    const std::uint8_t* p = pitches.Row(r);
    int note = 0;  // pitch of the open note, 0 outside a note
    for (int f = 0; f < marks.GetFrames(); ++f) {
      if (note == 0) {
        if (m[f] == kOn) {
          if (!IsNoteNumber(p[f])) return SMalformedCell{r, f, "start mark without a note number"};
          note = p[f];
        } else if (m[f] != 0) {
          return SMalformedCell{r, f, "mark outside a note"};
        } else if (p[f] != 0) {
          return SMalformedCell{r, f, "note number outside a note"};
        }
      } else {
        if (p[f] == 0) return SMalformedCell{r, f, "note without an end mark"};
        if (p[f] != note) return SMalformedCell{r, f, "note number changes inside a note"};
        if (m[f] == kOff) {
          note = 0;
        } else if (m[f] != 0) {
          return SMalformedCell{r, f, "mark inside a note"};
        }
      }
    }
    if (note != 0) return SMalformedCell{r, marks.GetFrames() - 1, "note without an end mark"};
  }
  return std::nullopt;
}

std::vector<SEditRecord> ApplyGestures(SSequence& marks, SSequence& pitches,
                                       const std::vector<SGesture>& gestures) {
  SNoteEdit edit(marks, pitches);
  std::vector<SEditRecord> records;
  records.reserve(gestures.size());
  for (const SGesture& g : gestures) records.push_back(edit.Apply(g));
  return records;
}

bool ApplyRecord(const SEditRecord& record, SSequence& marks, SSequence& pitches, bool redo) {
  if (marks.GetRows() != record.rows || marks.GetFrames() != record.frames ||
      pitches.GetRows() != record.rows || pitches.GetFrames() != record.frames) {
    return false;
  }
  for (const SCellChange& c : record.cells) {
    SSequence& g = c.grid == SNoteEdit::kMarksGrid ? marks : pitches;
    g.SetSequence(c.row, c.frame, redo ? c.newValue : c.oldValue);
  }
  marks.SetMaxRow(redo ? record.newMaxRow : record.oldMaxRow);
  return true;
}
