#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "SEditHistory.h"
#include "SMIDIIO.h"
#include "SNoteEdit.h"

class QFrame;
class QLabel;
class QScrollBar;
class QStatusBar;
class SEngine;
class SSequence;

// A paint area whose picture persists between repaints: the window draws into
// Canvas() and the area shows it. Pointer and wheel events go to the callbacks.
class TPaintArea : public QWidget {
 public:
  explicit TPaintArea(QWidget* parent);

  QImage& Canvas() { return canvas; }
  const QImage& Canvas() const { return canvas; }
  // Gives the canvas the area's size (white); the old picture is dropped.
  void FitCanvas();

  std::function<void(Qt::MouseButton, QPoint)> onPress;
  std::function<void(QPoint)> onMove;
  std::function<void(Qt::MouseButton, QPoint)> onRelease;
  std::function<void(QWheelEvent*)> onWheel;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  QImage canvas;
};

// The piano roll "メロディの修正": a keyboard strip that sounds notes on the left, and
// on the right the roll, one row per semitone and one column per frame, where a left
// drag writes a note and a right drag erases one, straight into the borrowed note grids.
// Usable as the widget of a QMdiSubWindow; closing it deletes it. Runs on the user
// interface thread only.
class TPForm : public QWidget {
  Q_OBJECT

 public:
  // marks, pitches: the engine's note grids (borrowed, must outlive the window).
  // statusLabel: the main window's label for the pitch readout (may be null).
  // liveNotes: where the strip's notes go (borrowed, may be null: silent; must
  // outlive the window).
  TPForm(SSequence& marks, SSequence& pitches, QLabel* statusLabel, SShortMsgSink* liveNotes,
         QWidget* parent = nullptr);
  // The same, with the grids fetched from the engine (GetEngineObject 2 and 3).
  TPForm(SEngine& engine, QLabel* statusLabel, SShortMsgSink* liveNotes, QWidget* parent = nullptr);
  ~TPForm() override;

  // Frames of the converted recording (sets SBHorz's maximum to n). Called after every
  // conversion, before DrawNotes; it also forgets the undo history of the old grids.
  void SetFrameCount(int n);
  // Shows the grids' notes. Repaints the whole view, so that nothing of an earlier
  // melody stays visible.
  void DrawNotes();
  // Repaints the keyboard strip and the roll, with the notes when the roll holds any.
  void PaintView();
  // The first view of a recording it did not show before: from frame 0, and scrolled
  // so that the lowest note is in view when no note lies in the visible rows.
  void ShowFromStart();

  // Undo and redo of gestures (Ctrl+Z; Ctrl+Y and Ctrl+Shift+Z). False when there is
  // nothing to undo or redo.
  bool Undo();
  bool Redo();
  bool CanUndo() const { return history.CanUndo(); }
  bool CanRedo() const { return history.CanRedo(); }

  SMIDIIO& MidiOut() { return midiOut; }

  int BottomPitch() const { return bottomPitch; }
  int FrameCount() const { return frameCount; }
  int MouseFrame() const { return mouseFrame; }
  int MousePitch() const { return mousePitch; }
  bool ScrollDown() const { return scrollDown != 0; }
  bool Dragging() const { return dragging != 0; }
  bool KeyDown() const { return keyDown != 0; }
  int KeyNote() const { return keyNote; }
  // The last gesture as applied to the grids (ordered and clipped).
  const SEditRecord& LastEdit() const { return lastEdit; }

  // Components, by their names in the window's resource.
  QFrame* Pnl;
  TPaintArea* Img_Key;
  QStatusBar* StatusBar1;
  QFrame* Pnl2;
  TPaintArea* Img;
  QScrollBar* SBHorz;
  QScrollBar* SBVert;

 signals:
  // The grids were changed by a gesture, an undo or a redo.
  void GridsEdited();
  // The pitch readout was written into the status label (after every pointer move
  // over the roll), so that its owner can fit the label to the text.
  void StatusTextShown();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void FormResize();
  void AdjustRanges();
  void SBVertScroll();
  void SBVertChange();
  void SBHorzChange();
  void DrawNoteBars();

  void TrackPointer(int x, int y);
  void ImgMouseDown(Qt::MouseButton button, int x, int y);
  void ImgMouseMove(int x, int y);
  void ImgMouseUp(Qt::MouseButton button, int x, int y);
  void XorBand(QPoint from, QPoint to);

  void Img_KeyMouseDown(Qt::MouseButton button, int x, int y);
  void Img_KeyMouseMove(int x, int y);
  void Img_KeyMouseUp(Qt::MouseButton button, int x, int y);

  SSequence& marks;
  SSequence& pitches;
  QPointer<QLabel> statusLabel;
  SMIDIIO midiOut;
  SNoteEdit edit;
  SEditHistory history;
  SEditRecord lastEdit;

  // View.
  int bottomPitch = 0;  // MIDI note of the lowest row, kept on a white key
  int frameCount = 0;
  int mouseFrame = 0;
  int mousePitch = 0;
  int mouseRise = 0;  // px above the roll's bottom edge of the last pointer move
  std::uint8_t scrollDown = 0;

  // Drag on the roll.
  std::uint8_t dragging = 0;
  Qt::MouseButton dragButton = Qt::NoButton;
  int startFrame = 0;
  int downPitch = 0;
  QPoint bandStart;
  QPoint bandEnd;

  // Keyboard strip.
  std::uint8_t keyDown = 0;
  int keyNote = 0;

  // Wheel rotation not yet turned into steps (1/8 degree).
  int wheelVertical = 0;
  int wheelHorizontal = 0;
};
