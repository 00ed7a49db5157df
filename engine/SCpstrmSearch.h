#pragma once

#include <memory>
#include <vector>

class SEngine;
class SFFT;
class SSequence;
class SEngineSeam;

// One live pitch track: follows a note's cepstrum peak and spectrum level from frame
// to frame. When it is destroyed it is finished: if it lasted longer than the length
// border, it becomes one note in the row of the grids that it reserved.
class SCpstrmSearch {
 public:
  // startFrame: frame index of creation; note: MIDI note (> 29); bin: the note's
  // spectrum bin in the start frame; level: dB at that bin; peak: the note's cepstrum
  // value in the start frame. Reserves the lowest free row of the mark grid (-1 when
  // all 40 are held, and then the track writes nothing when it is finished).
  SCpstrmSearch(SEngine& engine, int startFrame, int note, int bin, int level, double peak);
  ~SCpstrmSearch();
  SCpstrmSearch(const SCpstrmSearch&) = delete;
  SCpstrmSearch& operator=(const SCpstrmSearch&) = delete;

  // Called once per analysed frame. True: the track covers this frame too.
  bool Follow();
  int GetNote() const { return note; }
  int GetRow() const { return row; }
  int GetLength() const { return length; }
  int GetStartFrame() const { return startFrame; }

 private:
  int startFrame;
  double initialPeak;
  int note;
  std::vector<int> levels;  // dB at the bin, one per covered frame
  int length = 1;
  int bin;
  int row;
  int previousFrameLevel = 0;  // dB
  SFFT& fft;
  SSequence& marks;
  SSequence& pitches;
  SEngineSeam& seam;
};

// The live tracks in creation order. Removing a track destroys (finishes) it.
class SList {
 public:
  void Add(std::unique_ptr<SCpstrmSearch> track) { items.push_back(std::move(track)); }
  SCpstrmSearch* Get(int index) const { return items[static_cast<std::size_t>(index)].get(); }
  // Finishes the track at index; later entries move up by one.
  void Delete(int index) { items.erase(items.begin() + index); }
  int Count() const { return static_cast<int>(items.size()); }
  bool IsTracked(int note) const;
  // Finishes every track, front first; the list ends empty.
  void FinishAll();

 private:
  std::vector<std::unique_ptr<SCpstrmSearch>> items;
};
