#include "SEditHistory.h"

#include <utility>

void SEditHistory::Push(SEditRecord record) {
  if (!record.accepted || !record.Changed()) return;
  done.push_back(std::move(record));
  undone.clear();
}

bool SEditHistory::Undo(SSequence& marks, SSequence& pitches) {
  if (done.empty()) return false;
  if (!ApplyRecord(done.back(), marks, pitches, /*redo=*/false)) {
    Clear();
    return false;
  }
  undone.push_back(std::move(done.back()));
  done.pop_back();
  return true;
}

bool SEditHistory::Redo(SSequence& marks, SSequence& pitches) {
  if (undone.empty()) return false;
  if (!ApplyRecord(undone.back(), marks, pitches, /*redo=*/true)) {
    Clear();
    return false;
  }
  done.push_back(std::move(undone.back()));
  undone.pop_back();
  return true;
}

void SEditHistory::Clear() {
  done.clear();
  undone.clear();
}
