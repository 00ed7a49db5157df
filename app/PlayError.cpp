#include "PlayError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "AudioConstants.h"
#include "SAudioOutput.h"
#include "Texts.h"

namespace {

bool IsMidiFile(const QString& file) {
  QFile f(file);
  return f.open(QIODevice::ReadOnly) && f.read(4) == "MThd";
}

QString Cause(const QString& file, const SAudioOutput& output) {
  const QFileInfo info(file);
  if (!info.exists()) return text::kPlayMissing;
  if (info.isDir()) return text::kPlayFolder;
  if (!info.isFile()) return text::kPlayNotAFile;
  if (!info.isReadable()) return text::kPlayNoAccess;
  if (info.size() == 0) return text::kPlayEmpty;
  // An error text without a running stream: the output was tried and did not open.
  if (!output.IsRunning() && !output.GetErrorText().empty()) return text::kPlayNoDevice;
  if (IsMidiFile(file) && !output.HasSoundFont() && !output.GetSoundFontError().empty()) {
    return text::kPlayNoSoundFont.arg(QString::fromLatin1(zuroka::audio::kSoundFontPackage));
  }
  return text::kPlayBadFormat;
}

}  // namespace

QString PlayErrorText(const QString& file, const SAudioOutput& output) {
  return text::kPlayErrorText.arg(QDir::toNativeSeparators(file), Cause(file, output));
}
