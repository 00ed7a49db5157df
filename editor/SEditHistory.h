#pragma once

#include <vector>

#include "SNoteEdit.h"

class SSequence;

// Undo and redo of gestures: each entry keeps only the cells its gesture changed.
class SEditHistory {
 public:
  // Remembers a gesture that changed the grids; forgets what was undone. Records that
  // changed nothing are not kept.
  void Push(SEditRecord record);
  // Restores the grids as they were before the last gesture. False when there is
  // nothing to undo, or when the grids were re-sized since (the history is then cleared).
  bool Undo(SSequence& marks, SSequence& pitches);
  // Applies the last undone gesture again; false as for Undo.
  bool Redo(SSequence& marks, SSequence& pitches);
  void Clear();

  bool CanUndo() const { return !done.empty(); }
  bool CanRedo() const { return !undone.empty(); }

 private:
  std::vector<SEditRecord> done;
  std::vector<SEditRecord> undone;
};
