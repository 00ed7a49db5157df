#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class SSequence;

// The piano roll's geometry as plain arithmetic: pixels <-> frames and pitches, the
// placement of the window's parts, the keyboard strip's keys, the note bars, and the
// scroll rules. Pixel y grows downward; "div" truncates toward zero as C++ does.
namespace zuroka::roll {

inline constexpr int kCell =
    10;  // px: a row (one semitone) is this high, a column (frame) this wide

// Placement, px.
inline constexpr int kKeyPanelWidth = 100;   // Pnl
inline constexpr int kKeyStripWidth = 98;    // Img_Key
inline constexpr int kPanelBorder = 1;       // raised border of Pnl and Pnl2
inline constexpr int kStatusBarHeight = 15;  // StatusBar1
inline constexpr int kHorzBarHeight = 15;    // SBHorz
inline constexpr int kVertBarWidth = 16;     // SBVert
// The paint areas are this much lower than the window's client area.
inline constexpr int kPaintAreaInset = kHorzBarHeight + 2 * kPanelBorder;

// Scroll bars as created.
inline constexpr int kVertMaxCreated = 127;  // SBVert 0..127
inline constexpr int kVertSmallStep = 1;
inline constexpr int kVertLargeStep = 20;
inline constexpr int kHorzMaxCreated = 100;  // SBHorz 0..100
inline constexpr int kHorzSmallStep = 1;
inline constexpr int kHorzLargeStep = 10;
inline constexpr int kInitialVertOffset = 40;  // SBVert starts at its maximum minus this
inline constexpr int kTallWindow = 1024;       // px: a main window taller than this ...
inline constexpr int kTallVertMax = 37;        // ... gets this SBVert maximum

// frameCount as created; a roll holds notes only when its frame count is above this.
inline constexpr int kEmptyFrameCount = 10;

// Keyboard strip, px.
inline constexpr int kWhiteKeyWidth = 100;  // wider than the strip: the right outline is cut off
inline constexpr int kBlackKeyWidth = 56;
inline constexpr int kBlackKeyHeight = 11;  // its row and the grid line above
inline constexpr int kKeyNameX = 70;
inline constexpr int kKeyNamePixelSize = 11;  // 8 point at 96 dpi
inline constexpr int kKeyChannel = 0;
inline constexpr int kKeyVelocity = 112;

// Note bars are one pixel shorter than a row so that the grid line above stays visible.
inline constexpr int kBarHeight = kCell - 1;

struct Rgb {
  std::uint8_t r, g, b;
};

inline constexpr Rgb kGridColour{192, 192, 192};
inline constexpr Rgb kKeyNameColour{128, 128, 128};

// Bar colours by pitch class, C to B.
inline constexpr std::array<Rgb, 12> kKeyColours{{{255, 0, 0},
                                                  {255, 153, 0},
                                                  {255, 255, 0},
                                                  {102, 255, 0},
                                                  {0, 128, 0},
                                                  {0, 128, 128},
                                                  {102, 255, 255},
                                                  {0, 0, 255},
                                                  {0, 0, 128},
                                                  {153, 0, 255},
                                                  {255, 0, 255},
                                                  {128, 0, 0}}};

// White keys C, D, E, F, G, A, B: heights (px) and names.
inline constexpr std::array<int, 7> kWhiteKeyHeights{15, 20, 15, 15, 20, 20, 15};
inline constexpr std::array<const char*, 7> kWhiteKeyNames{"ド", "レ", "ミ", "ファ",
                                                           "ソ", "ラ", "シ"};
// Black keys C#, D#, F#, G#, A#: distance (px) from each one's lower edge to the next one's.
inline constexpr std::array<int, 5> kBlackKeySpacing{20, 30, 20, 20, 30};
// Names by pitch class for the status text.
inline constexpr std::array<const char*, 12> kNoteNames{" ド ",  " ド# ",  " レ ",    " レ# ",
                                                        " ミ ",  " ファ ", " ファ# ", " ソ ",
                                                        " ソ# ", " ラ ",   " ラ# ",   " シ "};

int PitchClass(int pitch);  // 0..11, also for negative pitches
bool IsBlackKey(int pitch);

// Pitch under the roll's pixel row y; height: the roll's height. Below the roll the
// pointer counts as the lowest row.
int PitchAt(int y, int height, int bottomPitch);
// Frame under the roll's pixel column x; position: SBHorz's position.
int FrameAt(int x, int position);
// Pitch under the keyboard strip's pixel row y: the key at the same height as the
// roll's row, with the boundaries one pixel lower.
int KeyPitchAt(int y, int height, int bottomPitch);
// Pointer height above the roll's bottom edge (negative below it).
inline int RiseAt(int y, int height) { return height - y; }

// Status text for the pitch under the pointer.
std::string StatusText(int pitch);

// A rectangle; right and bottom are exclusive.
struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const Box&) const = default;
};

// Where the window's parts go for a client area of the given size. Pnl and Pnl2 are
// placed in the window; Img_Key and StatusBar1 inside Pnl; Img, SBHorz, SBVert inside Pnl2.
struct Layout {
  Box pnl, imgKey, statusBar, pnl2, img, sbHorz, sbVert;
};
Layout ComputeLayout(int clientWidth, int clientHeight);

// One key of the strip. A white key is outlined in black (its outline rows are top
// and bottom - 1) and carries its name with the text's top at nameTop.
struct KeyShape {
  bool black = false;
  Box box;
  int nameTop = 0;
  const char* name = nullptr;  // white keys only
};
// The keys of a strip of the given height, white keys bottom-up then black keys
// bottom-up, starting from the keys that the lowest row's pitch puts first.
std::vector<KeyShape> KeyLayout(int bottomPitch, int stripHeight);

// First white key (0 = C .. 6 = B) and black key (0 = C# .. 4 = A#) of the strip and
// their lower edges, px above the strip's bottom edge.
struct KeyStart {
  int white = 0, whiteEdge = 0, black = 0, blackEdge = 0;
};
KeyStart KeyStartFor(int bottomPitch);

// The bars DrawNotes fills, in the roll's pixels, with the pitch that colours them.
struct NoteBar {
  Box box;
  int pitch = 0;
};
// View: SBHorz position, frameCount, bottomPitch, and the roll's height. Every row is
// scanned from the first visible frame to the last frame of the recording; bars may
// reach past the roll's right edge (they are clipped when drawn).
std::vector<NoteBar> NoteBars(const SSequence& marks, const SSequence& pitches, int position,
                              int frameCount, int bottomPitch, int height);

// Scroll ranges for the window's size and frame count.
struct Ranges {
  int vertMax = 0;
  int horzMax = 0;
  int bottomPitch = 0;
};
Ranges AdjustRanges(int mainWindowHeight, int rollHeight, int rollWidth, int frameCount,
                    int bottomPitch);

// The lowest row for the first view of a newly converted recording: bottomPitch as it
// is when a note of the grids lies in the `rows` rows from it up (or when there are no
// notes); otherwise the white key at or below the lowest note, so that the
// melody comes into view from the bottom. Kept within 0 .. vertMax.
int FirstViewBottomPitch(const SSequence& pitches, int frameCount, int bottomPitch, int rows,
                         int vertMax);

// SBVert runs upside down: its top position shows the highest range.
inline int BottomPitchAt(int vertMax, int position) { return vertMax - position; }
// SBVertScroll: whether a user's move of SBVert from current to next goes toward lower
// pitches (or stays), which decides the way a black lowest row is left.
inline bool ScrollsDown(int current, int next) { return next >= current; }
// SBVertChange: the position that keeps the lowest row on a white key: one step
// further the way the user went when it would show a black key.
int SnapVertPosition(int vertMax, int position, bool scrollDown);

}  // namespace zuroka::roll
