#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "SSequence.h"

// Grids written and read as text, one row per line: marks then pitches, frame by frame.
struct Grids {
  SSequence marks;
  SSequence pitches;

  Grids(int rows, int frames) {
    marks.Init(rows, frames);
    pitches.Init(rows, frames);
  }

  // Puts a note of `pitch` over frames a .. b (a < b) into `row`.
  void Note(int row, int a, int b, int pitch) {
    marks.SetSequence(row, a, 9);
    for (int f = a + 1; f < b; ++f) marks.SetSequence(row, f, 0);
    marks.SetSequence(row, b, 8);
    pitches.FillSequence(row, a, b + 1, static_cast<std::uint8_t>(pitch));
  }

  std::string Marks(int row) const { return Text(marks, row); }
  std::string Pitches(int row) const { return Text(pitches, row); }

  static std::string Text(const SSequence& g, int row) {
    std::ostringstream out;
    for (int f = 0; f < g.GetFrames(); ++f) out << (f ? " " : "") << int(g.Row(row)[f]);
    return out.str();
  }

  bool operator==(const Grids& o) const {
    if (marks.GetRows() != o.marks.GetRows() || marks.GetFrames() != o.marks.GetFrames() ||
        marks.GetMaxRow() != o.marks.GetMaxRow()) {
      return false;
    }
    const std::size_t n = static_cast<std::size_t>(marks.GetRows()) * marks.GetFrames();
    return n == 0 || (std::memcmp(marks.Row(0), o.marks.Row(0), n) == 0 &&
                      std::memcmp(pitches.Row(0), o.pitches.Row(0), n) == 0);
  }

  std::string Dump() const {
    std::ostringstream out;
    for (int r = 0; r < marks.GetRows(); ++r) {
      bool any = false;
      for (int f = 0; f < marks.GetFrames(); ++f) any |= marks.Row(r)[f] || pitches.Row(r)[f];
      if (any) out << "row " << r << ": " << Marks(r) << " | " << Pitches(r) << "\n";
    }
    return out.str();
  }
};

// Random well-formed grids: in the first `usedRows` rows, notes of pitches from
// lowPitch .. lowPitch + spread - 1 with random lengths and gaps (often none).
inline void FillRandom(Grids& g, std::mt19937& rng, int usedRows, int lowPitch, int spread) {
  const int frames = g.marks.GetFrames();
  for (int r = 0; r < usedRows && r < g.marks.GetRows(); ++r) {
    int f = std::uniform_int_distribution<int>(0, 3)(rng);
    while (true) {
      const int len = std::uniform_int_distribution<int>(2, 7)(rng);
      if (f + len - 1 >= frames) break;
      const int pitch = lowPitch + std::uniform_int_distribution<int>(0, spread - 1)(rng);
      g.Note(r, f, f + len - 1, pitch);
      f += len + std::uniform_int_distribution<int>(0, 2)(rng) *
                     std::uniform_int_distribution<int>(0, 1)(rng);
    }
    if (r > g.marks.GetMaxRow()) g.marks.SetMaxRow(r);
  }
}
