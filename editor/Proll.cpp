#include "Proll.h"

#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QWheelEvent>
#include <algorithm>

#include "RollGeometry.h"
#include "SEngine.h"
#include "SSequence.h"

namespace roll = zuroka::roll;

namespace {

constexpr int kWheelStep = 120;          // angle delta of one wheel notch
constexpr int kWheelColumnsPerStep = 3;  // frames per notch when scrolling sideways
constexpr QRgb kBandPen = qRgb(roll::kGridColour.r, roll::kGridColour.g, roll::kGridColour.b);

QColor ToColor(roll::Rgb c) { return QColor(c.r, c.g, c.b); }

QColor KeyColour(int pitch) {
  return ToColor(roll::kKeyColours[static_cast<std::size_t>(roll::PitchClass(pitch))]);
}

QRect ToRect(const roll::Box& b) { return QRect(b.left, b.top, b.Width(), b.Height()); }

SSequence& Grid(SEngine& engine, int index) {
  return EngineObjectAs<SSequence>(engine.GetEngineObject(index));
}

QFrame* MakePanel(QWidget* parent) {
  auto* panel = new QFrame(parent);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(roll::kPanelBorder);
  panel->setAutoFillBackground(true);
  QPalette pal = panel->palette();
  pal.setColor(QPalette::Window, Qt::white);
  panel->setPalette(pal);
  return panel;
}

}  // namespace

TPaintArea::TPaintArea(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::ArrowCursor);
}

void TPaintArea::FitCanvas() {
  if (canvas.size() == size()) return;
  canvas = QImage(size(), QImage::Format_RGB32);
  canvas.fill(Qt::white);
}

void TPaintArea::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, canvas);
}

void TPaintArea::mousePressEvent(QMouseEvent* event) {
  if (onPress) onPress(event->button(), event->position().toPoint());
}

void TPaintArea::mouseMoveEvent(QMouseEvent* event) {
  if (onMove) onMove(event->position().toPoint());
}

void TPaintArea::mouseReleaseEvent(QMouseEvent* event) {
  if (onRelease) onRelease(event->button(), event->position().toPoint());
}

void TPaintArea::wheelEvent(QWheelEvent* event) {
  if (onWheel) {
    onWheel(event);
  } else {
    QWidget::wheelEvent(event);
  }
}

TPForm::TPForm(SEngine& engine, QLabel* statusLabel, SShortMsgSink* liveNotes, QWidget* parent)
    : TPForm(Grid(engine, SEngine::kMarks), Grid(engine, SEngine::kPitches), statusLabel, liveNotes,
             parent) {}

TPForm::TPForm(SSequence& marks, SSequence& pitches, QLabel* statusLabel, SShortMsgSink* liveNotes,
               QWidget* parent)
    : QWidget(parent),
      marks(marks),
      pitches(pitches),
      statusLabel(statusLabel),
      midiOut(liveNotes),
      edit(marks, pitches) {
  setWindowTitle(QStringLiteral("メロディの修正"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFocusPolicy(Qt::StrongFocus);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);

  Pnl = MakePanel(this);
  Img_Key = new TPaintArea(Pnl);
  StatusBar1 = new QStatusBar(Pnl);
  StatusBar1->setSizeGripEnabled(false);
  Pnl2 = MakePanel(this);
  Img = new TPaintArea(Pnl2);
  SBHorz = new QScrollBar(Qt::Horizontal, Pnl2);
  SBHorz->setRange(0, roll::kHorzMaxCreated);
  SBHorz->setSingleStep(roll::kHorzSmallStep);
  SBHorz->setPageStep(roll::kHorzLargeStep);
  SBVert = new QScrollBar(Qt::Vertical, Pnl2);
  SBVert->setRange(0, roll::kVertMaxCreated);
  SBVert->setSingleStep(roll::kVertSmallStep);
  SBVert->setPageStep(roll::kVertLargeStep);

  connect(SBVert, &QAbstractSlider::actionTriggered, this, [this](int) { SBVertScroll(); });
  connect(SBVert, &QAbstractSlider::valueChanged, this, [this](int) { SBVertChange(); });
  connect(SBHorz, &QAbstractSlider::valueChanged, this, [this](int) { SBHorzChange(); });

  Img->onPress = [this](Qt::MouseButton b, QPoint p) { ImgMouseDown(b, p.x(), p.y()); };
  Img->onMove = [this](QPoint p) { ImgMouseMove(p.x(), p.y()); };
  Img->onRelease = [this](Qt::MouseButton b, QPoint p) { ImgMouseUp(b, p.x(), p.y()); };
  Img->onWheel = [this](QWheelEvent* e) { wheelEvent(e); };
  Img_Key->onWheel = [this](QWheelEvent* e) { wheelEvent(e); };
  Img_Key->onPress = [this](Qt::MouseButton b, QPoint p) { Img_KeyMouseDown(b, p.x(), p.y()); };
  Img_Key->onMove = [this](QPoint p) { Img_KeyMouseMove(p.x(), p.y()); };
  Img_Key->onRelease = [this](Qt::MouseButton b, QPoint p) { Img_KeyMouseUp(b, p.x(), p.y()); };

  FormResize();
  SBVert->setValue(SBVert->maximum() - roll::kInitialVertOffset);
  bottomPitch = 0;
  frameCount = roll::kEmptyFrameCount;
}

TPForm::~TPForm() {
  // A strip note still sounding would hang on the synthesizer.
  if (keyDown) midiOut.NoteOff(roll::kKeyChannel, keyNote, roll::kKeyVelocity);
}

void TPForm::SetFrameCount(int n) {
  frameCount = n;
  SBHorz->setMaximum(std::max(n, 0));
  // The grids were made anew: the recorded cells belong to the old ones.
  history.Clear();
  lastEdit = SEditRecord{};
}

void TPForm::DrawNotes() { PaintView(); }

void TPForm::PaintView() {
  QImage& key = Img_Key->Canvas();
  QImage& rollImage = Img->Canvas();
  key.fill(Qt::white);
  rollImage.fill(Qt::white);

  if (!key.isNull()) {
    QPainter p(&key);
    QFont font;
    font.setFamilies({QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic")});
    font.setPixelSize(roll::kKeyNamePixelSize);
    p.setFont(font);
    const int k = key.height();
    for (const roll::KeyShape& shape : roll::KeyLayout(bottomPitch, k)) {
      const QRect r = ToRect(shape.box);
      if (shape.black) {
        p.fillRect(r, Qt::black);
        continue;
      }
      p.fillRect(r, Qt::white);
      p.fillRect(QRect(r.left(), r.top(), r.width(), 1), Qt::black);
      p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), Qt::black);
      p.fillRect(QRect(r.left(), r.top(), 1, r.height()), Qt::black);
      p.fillRect(QRect(r.right(), r.top(), 1, r.height()), Qt::black);
      p.setPen(ToColor(roll::kKeyNameColour));
      p.drawText(QRect(roll::kKeyNameX, shape.nameTop, key.width(), roll::kCell * 2),
                 Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(shape.name));
    }
  }

  if (!rollImage.isNull()) {
    QPainter p(&rollImage);
    const QColor grid = ToColor(roll::kGridColour);
    const int h = rollImage.height();
    const int w = rollImage.width();
    for (int d = roll::kCell; d < h; d += roll::kCell) p.fillRect(0, h - d, w, 1, grid);
    for (int x = 0; x < w; x += roll::kCell) p.fillRect(x, 0, 1, h, grid);
  }
  setCursor(Qt::ArrowCursor);
  if (frameCount > roll::kEmptyFrameCount) DrawNoteBars();
  Img_Key->update();
  Img->update();
}

void TPForm::ShowFromStart() {
  SBHorz->setValue(0);
  // Only the rows that show whole count as visible.
  const int bottom = roll::FirstViewBottomPitch(pitches, frameCount, bottomPitch,
                                                Img->height() / roll::kCell, SBVert->maximum());
  // A white key: the change handler keeps it as it is.
  if (bottom != bottomPitch) SBVert->setValue(roll::BottomPitchAt(SBVert->maximum(), bottom));
}

void TPForm::DrawNoteBars() {
  QImage& rollImage = Img->Canvas();
  if (rollImage.isNull()) return;
  QPainter p(&rollImage);
  for (const roll::NoteBar& bar : roll::NoteBars(marks, pitches, SBHorz->value(), frameCount,
                                                 bottomPitch, rollImage.height())) {
    p.fillRect(ToRect(bar.box), KeyColour(bar.pitch));
  }
  Img->update();
}

void TPForm::resizeEvent(QResizeEvent*) { FormResize(); }

void TPForm::FormResize() {
  const roll::Layout l = roll::ComputeLayout(width(), height());
  Pnl->setGeometry(ToRect(l.pnl));
  Img_Key->setGeometry(ToRect(l.imgKey));
  StatusBar1->setGeometry(ToRect(l.statusBar));
  Pnl2->setGeometry(ToRect(l.pnl2));
  Img->setGeometry(ToRect(l.img));
  SBHorz->setGeometry(ToRect(l.sbHorz));
  SBVert->setGeometry(ToRect(l.sbVert));
  Img_Key->FitCanvas();
  Img->FitCanvas();
  if (frameCount > roll::kEmptyFrameCount) AdjustRanges();
  {
    // Every resize re-centres the vertical view; the change handler below runs even
    // when the position stays, since the maximum (and so the lowest row) may have moved.
    const QSignalBlocker block(SBVert);
    SBVert->setValue(SBVert->maximum() / 2);
  }
  SBVertChange();
}

void TPForm::AdjustRanges() {
  const roll::Ranges r = roll::AdjustRanges(window()->frameGeometry().height(), Img->height(),
                                            Img->width(), frameCount, bottomPitch);
  bottomPitch = r.bottomPitch;
  SBVert->setMaximum(r.vertMax);
  SBHorz->setMaximum(r.horzMax);
}

void TPForm::SBVertScroll() {
  scrollDown = roll::ScrollsDown(SBVert->value(), SBVert->sliderPosition()) ? 1 : 0;
}

void TPForm::SBVertChange() {
  const int snapped = roll::SnapVertPosition(SBVert->maximum(), SBVert->value(), scrollDown != 0);
  if (snapped != SBVert->value()) {
    const QSignalBlocker block(SBVert);
    SBVert->setValue(snapped);
  }
  bottomPitch = roll::BottomPitchAt(SBVert->maximum(), SBVert->value());
  PaintView();
}

void TPForm::SBHorzChange() { PaintView(); }

void TPForm::closeEvent(QCloseEvent* event) {
  // WA_DeleteOnClose frees the window; the grids stay with their owner.
  event->accept();
}

void TPForm::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  if (mods & Qt::ControlModifier) {
    if (event->key() == Qt::Key_Z) {
      if (mods & Qt::ShiftModifier) {
        Redo();
      } else {
        Undo();
      }
      return;
    }
    if (event->key() == Qt::Key_Y) {
      Redo();
      return;
    }
  }
  QWidget::keyPressEvent(event);
}

void TPForm::wheelEvent(QWheelEvent* event) {
  QPoint delta = event->angleDelta();
  if (event->modifiers() & Qt::ShiftModifier) delta = QPoint(delta.y() ? delta.y() : delta.x(), 0);
  wheelVertical += delta.y();
  wheelHorizontal += delta.x();
  // Vertically one white key per notch: the change handler steps over a black key the
  // way the wheel turned.
  while (wheelVertical >= kWheelStep || wheelVertical <= -kWheelStep) {
    const bool up = wheelVertical > 0;
    wheelVertical += up ? -kWheelStep : kWheelStep;
    scrollDown = up ? 0 : 1;
    SBVert->setValue(SBVert->value() + (up ? -1 : 1));
  }
  while (wheelHorizontal >= kWheelStep || wheelHorizontal <= -kWheelStep) {
    const bool back = wheelHorizontal > 0;
    wheelHorizontal += back ? -kWheelStep : kWheelStep;
    SBHorz->setValue(SBHorz->value() + (back ? -kWheelColumnsPerStep : kWheelColumnsPerStep));
  }
  event->accept();
}

bool TPForm::Undo() {
  if (dragging || !history.Undo(marks, pitches)) return false;
  PaintView();
  emit GridsEdited();
  return true;
}

bool TPForm::Redo() {
  if (dragging || !history.Redo(marks, pitches)) return false;
  PaintView();
  emit GridsEdited();
  return true;
}

void TPForm::TrackPointer(int x, int y) {
  const int h = Img->height();
  mouseFrame = roll::FrameAt(x, SBHorz->value());
  mousePitch = roll::PitchAt(y, h, bottomPitch);
  mouseRise = roll::RiseAt(y, h);
  if (statusLabel) {
    QPalette pal = statusLabel->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    statusLabel->setPalette(pal);
    statusLabel->setText(QString::fromStdString(roll::StatusText(mousePitch)));
    emit StatusTextShown();
  }
}

void TPForm::ImgMouseDown(Qt::MouseButton button, int x, int y) {
  // A second button during a drag does not start another gesture.
  if (dragging) return;
  TrackPointer(x, y);
  dragging = 1;
  dragButton = button;
  const int h = Img->height();
  const int x1 = (x / roll::kCell) * roll::kCell + 1;
  const int y1 = h - (mouseRise / roll::kCell) * roll::kCell - roll::kBarHeight;
  bandStart = bandEnd = QPoint(x1 + 3, y1 + 3);
  startFrame = mouseFrame;
  downPitch = mousePitch;
}

void TPForm::ImgMouseMove(int x, int y) {
  TrackPointer(x, y);
  if (!dragging) return;
  // The band stays on the row where the drag began.
  XorBand(bandStart, bandEnd);
  bandEnd = QPoint(x, bandStart.y());
  XorBand(bandStart, bandEnd);
  Img->update();
}

void TPForm::ImgMouseUp(Qt::MouseButton button, int x, int y) {
  if (!dragging || button != dragButton) return;
  TrackPointer(x, y);

  SGesture g;
  g.button = button == Qt::LeftButton    ? SButton::Left
             : button == Qt::RightButton ? SButton::Right
                                         : SButton::Middle;
  g.startFrame = startFrame;
  g.endFrame = mouseFrame;
  g.downPitch = downPitch;
  g.newPitch = mousePitch;
  lastEdit = edit.Apply(g);
  dragging = 0;
  dragButton = Qt::NoButton;
  // The note goes to the pitch under the release and its neighbours may change too:
  // the roll is drawn again from the grids (which also takes the band away), so that
  // it shows what Remake writes.
  PaintView();
  if (lastEdit.Changed()) {
    history.Push(lastEdit);
    emit GridsEdited();
  }
}

// Inverts the pixels of a horizontal line from `from` up to, not including, `to`, each
// becoming the inverse of itself XOR the grid pen, so that drawing it twice restores
// the picture.
void TPForm::XorBand(QPoint from, QPoint to) {
  QImage& canvas = Img->Canvas();
  const int y = from.y();
  if (from.x() == to.x() || y < 0 || y >= canvas.height()) return;
  const int step = to.x() > from.x() ? 1 : -1;
  auto* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
  for (int x = from.x(); x != to.x(); x += step) {
    if (x < 0 || x >= canvas.width()) continue;
    line[x] = ~(kBandPen ^ line[x]) | 0xFF000000u;
  }
}

void TPForm::Img_KeyMouseMove(int /*x*/, int y) {
  mousePitch = roll::KeyPitchAt(y, Img_Key->height(), bottomPitch);
}

void TPForm::Img_KeyMouseDown(Qt::MouseButton /*button*/, int x, int y) {
  Img_KeyMouseMove(x, y);
  // A second press while a note sounds: stop that note first, so none is left hanging.
  if (keyDown) midiOut.NoteOff(roll::kKeyChannel, keyNote, roll::kKeyVelocity);
  keyDown = 1;
  keyNote = std::clamp(mousePitch, 0, SNoteEdit::kHighestNote);
  midiOut.NoteOn(roll::kKeyChannel, keyNote, roll::kKeyVelocity);
}

void TPForm::Img_KeyMouseUp(Qt::MouseButton /*button*/, int /*x*/, int /*y*/) {
  if (!keyDown) return;
  midiOut.NoteOff(roll::kKeyChannel, keyNote, roll::kKeyVelocity);
  keyDown = 0;
}
