#pragma once

#include <cstdint>
#include <vector>

#include "SEngineObject.h"

class SEngineSeam;

// A note grid: rows (voices) by frames of bytes, with a row-in-use flag and a MIDI
// channel offset per row and the highest row handed out. The mark grid holds 9 where
// a note starts and 8 in its last frame; the pitch grid the note number over the note.
class SSequence : public SEngineObject {
 public:
  // seam: where out-of-range accesses are reported and the length border is read;
  // may be null (nothing is reported, the border is 3).
  explicit SSequence(SEngineSeam* seam = nullptr) : seam(seam) {}

  // Sizes the grid and clears every cell, flag and channel. The highest row keeps
  // its value. Returns 0, or -1 when memory runs out (the grid is then 0 by 0).
  int Init(int rows, int frames);

  // The cell; out of range: reports "Sequence[r][f]にアクセスしようとしました" and returns 0.
  std::uint8_t GetSequence(int row, int frame) const;
  // Writes the cell and returns the value; out of range: writes nothing, reports, returns 0.
  std::uint8_t SetSequence(int row, int frame, std::uint8_t value);
  // Writes value into cells from .. to - 1 of the row (clipped to the grid).
  void FillSequence(int row, int from, int to, std::uint8_t value);
  // Lowest free row: marks it used, raises the highest row, returns it; -1 when all are used.
  std::int32_t ReserveRow();
  std::uint8_t SetRowFlag(int row, std::uint8_t value);
  std::int8_t GetChannel(int row) const;
  int GetRows() const { return rows; }
  int GetFrames() const { return frames; }
  int GetMaxRow() const { return maxRow; }
  void SetMaxRow(int value) { maxRow = value; }
  // The most frequent note length of the grid (marks): writes it in frames (-1 for
  // an empty grid) and returns its duration in seconds (0.0 for an empty grid).
  double GetCommonNoteLength(int& lengthFrames) const;

  // Direct read access for hot loops; the caller keeps row and frame in range.
  const std::uint8_t* Row(int row) const {
    return cells.data() + static_cast<std::size_t>(row) * frames;
  }
  bool InRange(int row, int frame) const {
    return row >= 0 && row < rows && frame >= 0 && frame < frames;
  }

 private:
  void Report(const char* what, int row, int frame) const;

  SEngineSeam* seam;
  std::vector<std::uint8_t> rowFlags;
  int frames = 0;
  int rows = 0;
  int maxRow = 0;
  std::vector<std::int8_t> channels;
  std::vector<std::uint8_t> cells;  // row-major, rows * frames
};
