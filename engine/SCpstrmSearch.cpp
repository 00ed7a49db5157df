#include "SCpstrmSearch.h"

#include "EngineConstants.h"
#include "SEngine.h"
#include "SEngineSeam.h"
#include "SFFT.h"
#include "SSequence.h"

namespace {
// A rise of the whole frame by more than this many dB is a fresh attack.
constexpr int kAttackJump = 5;
// A fresh attack ends only tracks longer than this many frames.
constexpr int kAttackMinLength = 3;
}  // namespace

SCpstrmSearch::SCpstrmSearch(SEngine& engine, int startFrame, int note, int bin, int level,
                             double peak)
    : startFrame(startFrame),
      initialPeak(peak),
      note(note),
      levels{level},
      bin(bin),
      row(-1),
      fft(EngineObjectAs<SFFT>(engine.GetEngineObject(SEngine::kFFT))),
      marks(EngineObjectAs<SSequence>(engine.GetEngineObject(SEngine::kMarks))),
      pitches(EngineObjectAs<SSequence>(engine.GetEngineObject(SEngine::kPitches))),
      seam(engine.Seam()) {
  row = marks.ReserveRow();
}

SCpstrmSearch::~SCpstrmSearch() {
  const int border = seam.GetBorder();
  if (row >= 0 && length > border) {
    marks.SetSequence(row, startFrame, zuroka::kNoteOnMark);
    marks.SetSequence(row, startFrame + length - 1, zuroka::kNoteOffMark);
    pitches.FillSequence(row, startFrame, startFrame + length, static_cast<std::uint8_t>(note));
  }
  if (row >= 0) marks.SetRowFlag(row, 0);
}

bool SCpstrmSearch::Follow() {
  const int level = fft.GetDB(bin);
  const double peak = fft.GetCepstrum()[fft.QuefrencyOfNote(note)];
  if (initialPeak * seam.GetCPRatio() > peak) return false;
  const int frameLevel = fft.GetLevel();
  // The track ends when its level falls to the dB share of its first frame, or at a
  // new attack (a jump of the frame's level above a louder bin) once it is long enough.
  const bool fallen = levels[0] * seam.GetDBRatio() >= level;
  const bool attack = frameLevel - previousFrameLevel > kAttackJump && level > levels[length - 1] &&
                      length > kAttackMinLength;
  const bool goesOn = !fallen && !attack;
  if (goesOn) {
    levels.push_back(level);
    ++length;
  }
  previousFrameLevel = frameLevel;
  return goesOn;
}

bool SList::IsTracked(int note) const {
  bool found = false;
  for (const auto& t : items) {
    if (t->GetNote() == note) found = true;
  }
  return found;
}

void SList::FinishAll() {
  while (!items.empty()) items.erase(items.begin());
}
