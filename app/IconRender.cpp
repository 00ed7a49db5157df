// Build tool: renders the program's SVG icon into the PNG sizes of the icon theme.
// usage: zuroka-icon-render ICON.svg SIZE OUT.png
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: zuroka-icon-render ICON.svg SIZE OUT.png\n");
    return 2;
  }
  // The icon has no text, so rendering needs neither a display nor fonts: no
  // application object.
  const int size = std::atoi(argv[2]);
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  if (!renderer.isValid() || size <= 0 || size > 1024) {
    std::fprintf(stderr, "zuroka-icon-render: %s: not a readable SVG or bad size\n", argv[1]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter);
  painter.end();
  if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "zuroka-icon-render: %s: cannot write\n", argv[3]);
    return 1;
  }
  return 0;
}
