#include "ElidedLabel.h"

#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace {

const QString kEllipsis = QStringLiteral("…");

}  // namespace

TElidedLabel::TElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(text, parent), mode(mode) {}

void TElidedLabel::SetPreferredWidth(int width) {
  preferredWidth = width;
  setMaximumWidth(width > 0 ? width : QWIDGETSIZE_MAX);
  updateGeometry();
}

QString TElidedLabel::ShownText() const {
  return fontMetrics().elidedText(text(), mode, contentsRect().width());
}

QSize TElidedLabel::sizeHint() const {
  const QSize natural = QLabel::sizeHint();
  return preferredWidth > 0 ? QSize(preferredWidth, natural.height()) : natural;
}

QSize TElidedLabel::minimumSizeHint() const {
  const int frame = 2 * frameWidth() + 2 * margin();
  return QSize(std::min(frame + fontMetrics().horizontalAdvance(kEllipsis), sizeHint().width()),
               QLabel::minimumSizeHint().height());
}

void TElidedLabel::paintEvent(QPaintEvent* event) {
  // The frame only: the label's own text painting is replaced by the elided text.
  QFrame::paintEvent(event);  // NOLINT(bugprone-parent-virtual-call)
  QPainter painter(this);
  style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                        isEnabled(), ShownText(), foregroundRole());
}

void TElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  UpdateToolTip();
}

void TElidedLabel::UpdateToolTip() { setToolTip(ShownText() == text() ? QString() : text()); }
