#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class SSequence;

// Mouse button of a gesture on the roll.
enum class SButton { Left, Right, Middle };

// One gesture on the roll, as the pointer handlers see it. The frames are in any order
// (the editor orders them as the release does); pitches are MIDI note numbers.
struct SGesture {
  SButton button = SButton::Left;
  int startFrame = 0;  // frame under the pointer when the button went down
  int endFrame = 0;    // frame under the pointer when the button came up
  int downPitch = 0;   // pitch under the pointer when the button went down
  int newPitch = 0;    // pitch under the pointer when the button came up
};

// One cell a gesture changed. grid: 0 the mark grid, 1 the pitch grid.
struct SCellChange {
  std::uint8_t grid = 0;
  int row = 0;
  int frame = 0;
  std::uint8_t oldValue = 0;
  std::uint8_t newValue = 0;
};

// What one gesture did: every changed cell once (value before and after) and the
// highest row of the mark grid before and after, so that it can be undone and redone.
struct SEditRecord {
  bool accepted = false;  // false: the gesture could not apply (see SNoteEdit::Normalize)
  SGesture gesture;       // as applied: ordered, clipped to the grids
  std::vector<SCellChange> cells;
  int oldMaxRow = 0;
  int newMaxRow = 0;
  int rows = 0;  // shape of the grids the record belongs to
  int frames = 0;

  bool Changed() const { return !cells.empty() || oldMaxRow != newMaxRow; }
};

// A cell where the grids do not hold whole notes.
struct SMalformedCell {
  int row = 0;
  int frame = 0;
  std::string reason;
};

// Note editing on the two note grids in place: the mark grid `marks` (9 in a note's
// first frame, 8 in its last, 0 elsewhere) and the pitch grid `pitches` (the note
// number over the whole note, 0 where there is none). Each grid row is one voice.
// The grids are borrowed; they must outlive the editor and have the same shape.
class SNoteEdit {
 public:
  static constexpr std::uint8_t kMarksGrid = 0;
  static constexpr std::uint8_t kPitchesGrid = 1;
  static constexpr int kLowestNote = 1;  // 0 in the pitch grid means "no note"
  static constexpr int kHighestNote = 127;

  SNoteEdit(SSequence& marks, SSequence& pitches);

  // Orders the gesture's frames and fits it to grids of `frames` frames: the range is
  // clipped to 0 .. frames - 1, and a left gesture over one frame writes a note over
  // that frame and the next (the previous one at the last frame), since a note needs
  // its start and end marks in different frames. Empty when the gesture cannot apply:
  // its range lies wholly outside the grids, or a left gesture would write a pitch
  // outside 1..127 or into grids of fewer than 2 frames.
  static std::optional<SGesture> Normalize(const SGesture& gesture, int frames);

  // Applies one gesture: left writes a note of newPitch over the range (after erasing
  // the note of downPitch there), right erases the note of downPitch in the range,
  // middle changes nothing. Returns what changed. The grids stay well formed.
  SEditRecord Apply(const SGesture& gesture);

  // The operations on the drag state below, as Apply runs them (only Apply records the
  // changes). The caller sets the state first, with startFrame <= endFrame inside the grids.
  void AddNote();        // writes the note newPitch over startFrame .. endFrame
  void EraseNote();      // erases the note of downPitch in startFrame .. endFrame
  void FixNeighbours();  // repairs the notes of editRow cut at the range's edges
  int FindRow();         // the row for a new note of newPitch over the range

  // Drag state.
  int startFrame = 0;
  int endFrame = 0;
  int downPitch = 0;
  int newPitch = 0;
  int editRow = -1;

  // The first cell where the grids hold no whole note, if any: every start mark must
  // be followed in its row by one end mark in a later frame with the same note number
  // (1..127) in every cell between, and no cell outside a note may hold a mark or a
  // note number. Also reports grids of different shapes (row and frame -1).
  static std::optional<SMalformedCell> FindMalformedCell(const SSequence& marks,
                                                         const SSequence& pitches);

 private:
  std::uint8_t Mark(int row, int frame) const;   // 0 outside the grid
  std::uint8_t Pitch(int row, int frame) const;  // 0 outside the grid
  bool Occupied(int row, int frame) const { return Pitch(row, frame) != 0; }
  void Set(std::uint8_t grid, int row, int frame, std::uint8_t value);
  void Clear(int row, int frame);
  void FixLeft(int row);
  void FixRight(int row);
  void EraseNote(bool deferRemnant);
  void RepairRemnant();
  void BeginRecord();
  SEditRecord EndRecord(const SGesture& applied);

  SSequence& marks;
  SSequence& pitches;

  // The rest of a note that EraseNote cut without its start (see EraseNote).
  struct Remnant {
    int row = -1;
    int from = 0;
  };
  std::optional<Remnant> remnant;

  bool recording = false;           // inside Apply
  std::vector<SCellChange> writes;  // every write of the current gesture, in order
  int recordMaxRow = 0;
};

// Applies gestures in order and returns what each did (accepted or not).
std::vector<SEditRecord> ApplyGestures(SSequence& marks, SSequence& pitches,
                                       const std::vector<SGesture>& gestures);

// Writes a record's cells back (undo: old values and highest row) or again (redo: new
// values). False, with nothing written, when the grids no longer have the record's shape.
bool ApplyRecord(const SEditRecord& record, SSequence& marks, SSequence& pitches, bool redo);
