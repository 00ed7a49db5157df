#pragma once

#include <QFont>
#include <QIcon>
#include <QString>

// The interface's gothic font at a character height in pixels: the IPA proportional
// gothic when installed, else the application's default family.
QFont InterfaceFont(int pixelHeight);

// An icon drawn from an SVG file or resource at 16, 24 and 32 pixels (the toolbar's
// 16 x 16 images and their high-density versions). A null icon when the file is unreadable.
QIcon SvgIcon(const QString& path);

// The manual installed with the program: share/doc/zuroka/index.html beside the
// program's bin folder (the build tree holds a copy at the same place).
QString ManualPath();
