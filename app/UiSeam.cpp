#include "UiSeam.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QUrl>
#include <QWidget>

void UiSeam::MessageBox(QWidget* parent, const QString& text, const QString& caption,
                        QMessageBox::Icon icon) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);  // file names may hold '<' or '&'
  box.exec();
}

QString UiSeam::GetOpenFileName(QWidget* parent, const QString& folder, const QString& filter,
                                const QString& defaultSuffix) {
  QFileDialog dialog(parent, QString(), folder, filter);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setDefaultSuffix(defaultSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().constFirst();
}

int UiSeam::ExecDialog(QDialog* dialog) { return dialog->exec(); }

void UiSeam::SetCursor(QWidget* window, Qt::CursorShape shape) { window->setCursor(shape); }

bool UiSeam::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

namespace {

std::unique_ptr<UiSeam>& Installed() {
  static std::unique_ptr<UiSeam> seam = std::make_unique<UiSeam>();
  return seam;
}

}  // namespace

UiSeam& Ui() { return *Installed(); }

std::unique_ptr<UiSeam> InstallUi(std::unique_ptr<UiSeam> seam) {
  std::unique_ptr<UiSeam> old = std::move(Installed());
  Installed() = seam ? std::move(seam) : std::make_unique<UiSeam>();
  return old;
}
