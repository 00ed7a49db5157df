// zuroka: the desktop program. Opens the WAV file named on the command line, if any,
// as the Open command would.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <memory>
#include <string_view>

#include "Main.h"
#include "StartUp.h"

namespace {

constexpr const char* kUsage =
    "Usage: zuroka [FILE.wav]\n"
    "Transcribes the melody of a 16-bit WAV file into a Standard MIDI File.\n"
    "A FILE.wav given here is opened and converted at start.\n"
    "\n"
    "  -h, --help     show this text\n"
    "  -v, --version  show the version\n";

}  // namespace

int main(int argc, char** argv) {
  // Help and version need no display, so they are answered before the window system starts.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "-v" || arg == "--version") {
      std::printf("zuroka %s\n", ZUROKA_VERSION);
      return 0;
    }
  }

  QApplication app(argc, argv);  // takes out the window system's own options
  const QStringList args = QApplication::arguments().mid(1);
  for (const QString& arg : args) {
    if (arg.startsWith(QLatin1Char('-')) || args.size() > 1) {
      std::fprintf(stderr, "zuroka: unexpected argument '%s'\n%s", qPrintable(arg), kUsage);
      return 2;
    }
  }
  SetUpApplication();
  std::unique_ptr<TForms> forms;
  try {
    forms = std::make_unique<TForms>();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QApplication::applicationName(),
                          QString::fromLocal8Bit(e.what()));
    return 1;
  }
  MForm->show();
  if (!args.isEmpty()) MForm->OpenWavFileLater(args.constFirst());
  return app.exec();
}
