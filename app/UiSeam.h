#pragma once

#include <QMessageBox>
#include <QString>
#include <memory>

class QDialog;
class QUrl;
class QWidget;

// Every point where the program waits for a person or hands something to the
// desktop: message boxes, the open dialog, modal dialogs, the cursor and the
// desktop's "open" of a page. The program uses the real ones; the widget tests
// install their own, which answer at once and record what was asked.
class UiSeam {
 public:
  virtual ~UiSeam() = default;

  // A modal box with an OK button only; returns when it is dismissed.
  virtual void MessageBox(QWidget* parent, const QString& text, const QString& caption,
                          QMessageBox::Icon icon);
  // The open dialog, starting in folder, with one filter ("name (*.ext)") and the
  // suffix added to a name typed without one. The chosen file, or empty when cancelled.
  virtual QString GetOpenFileName(QWidget* parent, const QString& folder, const QString& filter,
                                  const QString& defaultSuffix);
  // Shows a dialog modally; its result.
  virtual int ExecDialog(QDialog* dialog);
  // Sets a window's own cursor.
  virtual void SetCursor(QWidget* window, Qt::CursorShape shape);
  // Opens a local file or an address with the user's default viewer. False when no
  // viewer could be started (no browser, no xdg-open).
  virtual bool OpenUrl(const QUrl& url);
};

// The seam in use (the real one until another is installed).
UiSeam& Ui();
// Installs a seam for the rest of the process (null: back to the real one); returns the old one.
std::unique_ptr<UiSeam> InstallUi(std::unique_ptr<UiSeam> seam);
