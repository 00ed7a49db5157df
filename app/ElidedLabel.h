#pragma once

#include <QLabel>

// A one-line label that draws as much of its text as its width allows, elided where
// the rest does not fit; while its text is cut, the whole text is its tooltip. text()
// stays the whole text.
class TElidedLabel : public QLabel {
 public:
  TElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent = nullptr);

  // The width the label asks for and never exceeds (pixels); 0, the default: its text's.
  void SetPreferredWidth(int width);
  // The text as drawn: whole, or elided to the space inside the frame.
  QString ShownText() const;

  QSize sizeHint() const override;
  // Room for the ellipsis alone, so that a layout can squeeze the label that far.
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void UpdateToolTip();

  Qt::TextElideMode mode;
  int preferredWidth = 0;
};
