#pragma once

#include <cstdint>

#include "SSequence.h"

// The four grid operations exactly as the roll's first version ran them, without any
// repair: the reference that the editor must match wherever this leaves whole notes.
// Gestures must lie inside the grids with startFrame <= endFrame.
struct LiteralEdit {
  SSequence& marks;
  SSequence& pitches;
  int s = 0, e = 0, p = 0, q = 0, editRow = -1;

  std::uint8_t M(int r, int f) const { return marks.InRange(r, f) ? marks.Row(r)[f] : 0; }
  std::uint8_t P(int r, int f) const { return pitches.InRange(r, f) ? pitches.Row(r)[f] : 0; }
  void SetM(int r, int f, int v) {
    if (marks.InRange(r, f)) marks.SetSequence(r, f, static_cast<std::uint8_t>(v));
  }
  void SetP(int r, int f, int v) {
    if (pitches.InRange(r, f)) pitches.SetSequence(r, f, static_cast<std::uint8_t>(v));
  }

  void AddNote() {
    EraseNote();
    editRow = FindRow();
    SetM(editRow, s, 9);
    for (int f = s + 1; f < e; ++f) SetM(editRow, f, 0);
    SetM(editRow, e, 8);
    for (int f = s; f <= e; ++f) SetP(editRow, f, q);
    FixNeighbours();
  }

  void EraseNote() {
    int a = -10, b = -10, stopRow = -1;
    bool chosen = false, found = false, seenEnd = false;
    for (int i = 0; i < marks.GetRows() && !found; ++i) {
      for (int f = s; f <= e; ++f) {
        if (M(i, f) == 9 && P(i, f) == p) {
          if (!seenEnd) {
            a = f;
            editRow = i;
            chosen = true;
          }
        } else if (M(i, f) == 8 && P(i, f) == p) {
          if (M(i, f + 1) == 9 && P(i, f + 1) != p) {
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
    if (found && !chosen) {
      editRow = stopRow;
      chosen = true;
    }
    if (!found) {
      for (int i = 0; i < marks.GetRows() && !found; ++i) {
        for (int f = a; f <= b; ++f) {
          if (P(i, f) == p) {
            found = true;
            if (!chosen) editRow = i;
            break;
          }
        }
      }
    }
    if (!found) return;
    for (int f = a; f <= b; ++f) {
      SetM(editRow, f, 0);
      SetP(editRow, f, 0);
    }
    FixNeighbours();
  }

  void FixNeighbours() {
    int k = (P(editRow, s - 1) != 0) + (P(editRow, s - 2) != 0);
    if (k == 1) {
      SetM(editRow, s - 1, 0);
      SetP(editRow, s - 1, 0);
    } else if (k == 2) {
      SetM(editRow, s - 1, 8);
    }
    k = (P(editRow, e + 1) != 0) + (P(editRow, e + 2) != 0);
    if (k == 1) {
      SetM(editRow, e + 1, 0);
      SetP(editRow, e + 1, 0);
    } else if (k == 2) {
      SetM(editRow, e + 1, 9);
    }
  }

  int FindRow() {
    int lastSame = -1, firstFree = -1;
    for (int i = 0; i < marks.GetRows(); ++i) {
      int state = 0;  // 0 free, 1 same pitch, 2 taken
      for (int f = s; f <= e; ++f) {
        if (M(i, f) == 0) continue;
        if (P(i, f) != q) {
          state = 2;
          break;
        }
        state = 1;
      }
      if (state == 1) lastSame = i;
      if (state == 0 && firstFree < 0) firstFree = i;
    }
    const int r = lastSame >= 0 ? lastSame : firstFree >= 0 ? firstFree : marks.GetRows() - 1;
    if (r > marks.GetMaxRow()) marks.SetMaxRow(r);
    return r;
  }
};
