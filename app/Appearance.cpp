#include "Appearance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {

// Families in order of preference; the first one installed is used.
constexpr const char* kGothicFamilies[] = {"IPAPGothic", "IPA Pゴシック", "IPAGothic",
                                           "IPAゴシック"};
constexpr int kIconSizes[] = {16, 24, 32};  // pixels

}  // namespace

QFont InterfaceFont(int pixelHeight) {
  QFont font = QGuiApplication::font();
  const QStringList installed = QFontDatabase::families();
  for (const char* family : kGothicFamilies) {
    if (installed.contains(QString::fromUtf8(family))) {
      font.setFamily(QString::fromUtf8(family));
      break;
    }
  }
  font.setPixelSize(pixelHeight);
  return font;
}

QIcon SvgIcon(const QString& path) {
  QSvgRenderer renderer(path);
  QIcon icon;
  if (!renderer.isValid()) return icon;
  for (int size : kIconSizes) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QString ManualPath() {
  return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/../share/doc/zuroka/index.html"));
}
