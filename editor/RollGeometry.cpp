#include "RollGeometry.h"

#include <algorithm>

#include "EngineConstants.h"
#include "SSequence.h"

namespace zuroka::roll {

namespace {

// The keys the strip starts with, by the pitch class of the lowest row (white classes
// only: the scroll rules keep the lowest row on a white key).
struct StartRow {
  int pitchClass;
  KeyStart start;
};
constexpr std::array<StartRow, 7> kKeyStarts{{{0, {0, 0, 0, 10}},
                                              {2, {1, -5, 1, 10}},
                                              {4, {2, -5, 2, 20}},
                                              {5, {3, 0, 2, 10}},
                                              {7, {4, -5, 3, 10}},
                                              {9, {5, -5, 4, 10}},
                                              {11, {6, -5, 0, 20}}}};

constexpr int kTallKeyHeight = 20;  // D, G and A
constexpr int kTallKeyNameDrop = 5;
constexpr int kShortKeyNameDrop = 3;

}  // namespace

int PitchClass(int pitch) { return ((pitch % 12) + 12) % 12; }

bool IsBlackKey(int pitch) {
  switch (PitchClass(pitch)) {
    case 1:
    case 3:
    case 6:
    case 8:
    case 10:
      return true;
    default:
      return false;
  }
}

int PitchAt(int y, int height, int bottomPitch) {
  return std::max(0, height - y) / kCell + bottomPitch;
}

int FrameAt(int x, int position) { return x / kCell + position; }

int KeyPitchAt(int y, int height, int bottomPitch) {
  // The strip's own formula works on Pnl2's client height, kPaintAreaInset more than
  // the paint area's: (P - y - 18) div 10 is (height - 1 - y) div 10.
  const int panelHeight = height + kPaintAreaInset;
  return (panelHeight - y - kPaintAreaInset - 1) / kCell + bottomPitch;
}

std::string StatusText(int pitch) {
  return std::string("  音階 : ") + kNoteNames[static_cast<std::size_t>(PitchClass(pitch))] +
         " ** オクターブ : " + std::to_string(pitch / 12);
}

Layout ComputeLayout(int clientWidth, int clientHeight) {
  const int h = std::max(clientHeight, 0);
  const int w2 = std::max(clientWidth - kKeyPanelWidth, 0);
  const int paintHeight = std::max(h - kPaintAreaInset, 0);
  const int rollWidth = std::max(w2 - 2 * kPanelBorder - kVertBarWidth, 0);
  Layout l;
  l.pnl = {0, 0, kKeyPanelWidth, h};
  l.imgKey = {kPanelBorder, kPanelBorder, kPanelBorder + kKeyStripWidth,
              kPanelBorder + paintHeight};
  l.statusBar = {kPanelBorder, l.imgKey.bottom, kPanelBorder + kKeyStripWidth,
                 l.imgKey.bottom + kStatusBarHeight};
  l.pnl2 = {kKeyPanelWidth, 0, kKeyPanelWidth + w2, h};
  l.img = {kPanelBorder, kPanelBorder, kPanelBorder + rollWidth, kPanelBorder + paintHeight};
  l.sbVert = {l.img.right, kPanelBorder, l.img.right + kVertBarWidth, l.img.bottom};
  l.sbHorz = {kPanelBorder, l.img.bottom, l.img.right, l.img.bottom + kHorzBarHeight};
  return l;
}

KeyStart KeyStartFor(int bottomPitch) {
  const int pc = PitchClass(bottomPitch);
  // A black lowest row starts like the white key below it, one row lower.
  const int white = IsBlackKey(pc) ? pc - 1 : pc;
  for (const StartRow& row : kKeyStarts) {
    if (row.pitchClass != white) continue;
    KeyStart k = row.start;
    if (white != pc) {
      k.whiteEdge -= kCell;
      k.blackEdge -= kCell;
    }
    return k;
  }
  return kKeyStarts[0].start;
}

std::vector<KeyShape> KeyLayout(int bottomPitch, int stripHeight) {
  const int k = stripHeight;
  const KeyStart start = KeyStartFor(bottomPitch);
  std::vector<KeyShape> keys;
  int y0 = start.whiteEdge;
  for (int i = start.white; y0 < k; i = (i + 1) % 7) {
    const int h = kWhiteKeyHeights[static_cast<std::size_t>(i)];
    KeyShape key;
    key.box = {0, k - y0 - h - 1, kWhiteKeyWidth, k - y0};
    y0 += h;
    key.nameTop = k - y0 + (h == kTallKeyHeight ? kTallKeyNameDrop : kShortKeyNameDrop);
    key.name = kWhiteKeyNames[static_cast<std::size_t>(i)];
    keys.push_back(key);
  }
  int y1 = start.blackEdge;
  for (int i = start.black; y1 < k; i = (i + 1) % 5) {
    KeyShape key;
    key.black = true;
    key.box = {0, k - y1 - kBlackKeyHeight, kBlackKeyWidth, k - y1};
    keys.push_back(key);
    y1 += kBlackKeySpacing[static_cast<std::size_t>(i)];
  }
  return keys;
}

std::vector<NoteBar> NoteBars(const SSequence& marks, const SSequence& pitches, int position,
                              int frameCount, int bottomPitch, int height) {
  std::vector<NoteBar> bars;
  const int lo = bottomPitch;
  const int hi = lo + height / kCell;
  const int rows = std::min(marks.GetRows(), pitches.GetRows());
  // Never past the grids: after a conversion into an open roll they may already have
  // their new size while the frame count is still the old one.
  const int last = std::min({frameCount, marks.GetFrames(), pitches.GetFrames()});
  for (int i = 0; i < rows; ++i) {
    const std::uint8_t* m = marks.Row(i);
    const std::uint8_t* p = pitches.Row(i);
    bool open = false;
    int xs = 0;
    int ys = 0;
    for (int f = std::max(position, 0); f < last; ++f) {
      const int c = f - position;
      const int pitch = p[f];
      if (pitch < lo || pitch > hi) continue;
      if (!open && m[f] == kNoteOnMark) {
        xs = kCell * c + 1;
        ys = height - kCell * (pitch - lo);
        open = true;
      } else if (open && m[f] == kNoteOffMark) {
        bars.push_back({{xs, ys - kBarHeight, kCell * c + kCell, ys}, pitch});
        open = false;
      } else if (!open && m[f] == kNoteOffMark) {
        // A note that began left of the view.
        const int y = height - kCell * (pitch - lo);
        bars.push_back({{0, y - kBarHeight, kCell * c + kBarHeight, y}, pitch});
      }
    }
  }
  return bars;
}

Ranges AdjustRanges(int mainWindowHeight, int rollHeight, int rollWidth, int frameCount,
                    int bottomPitch) {
  Ranges r;
  r.vertMax = mainWindowHeight > kTallWindow ? kTallVertMax : kVertMaxCreated - rollHeight / kCell;
  r.vertMax = std::max(r.vertMax, 0);
  if (IsBlackKey(r.vertMax)) --r.vertMax;
  r.bottomPitch = std::min(bottomPitch, r.vertMax);
  // Fewer frames than columns: the whole recording fits, nothing to scroll.
  r.horzMax = std::max(frameCount - rollWidth / kCell, 0);
  return r;
}

int FirstViewBottomPitch(const SSequence& pitches, int frameCount, int bottomPitch, int rows,
                         int vertMax) {
  const int frames = std::min(frameCount, pitches.GetFrames());
  int lowest = -1;
  for (int i = 0; i < pitches.GetRows(); ++i) {
    const std::uint8_t* p = pitches.Row(i);
    for (int f = 0; f < frames; ++f) {
      if (p[f] == 0) continue;
      if (p[f] >= bottomPitch && p[f] < bottomPitch + rows) return bottomPitch;
      if (lowest < 0 || p[f] < lowest) lowest = p[f];
    }
  }
  if (lowest < 0) return bottomPitch;
  const int white = IsBlackKey(lowest) ? lowest - 1 : lowest;
  return std::clamp(white, 0, std::max(vertMax, 0));
}

int SnapVertPosition(int vertMax, int position, bool scrollDown) {
  if (!IsBlackKey(BottomPitchAt(vertMax, position))) return position;
  return std::clamp(position + (scrollDown ? 1 : -1), 0, std::max(vertMax, 0));
}

}  // namespace zuroka::roll
