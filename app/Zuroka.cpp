// zuroka: the desktop program. Opens the WAV file named on the command line, if any,
// as the Open command would.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <exception>
#include <memory>

#include "Main.h"
#include "StartUp.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SetUpApplication();

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Transcribes the melody of a 16-bit WAV file into a Standard MIDI File."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("FILE.wav"),
                               QStringLiteral("WAV file to open and convert at start."),
                               QStringLiteral("[FILE.wav]"));
  parser.process(app);

  std::unique_ptr<TForms> forms;
  try {
    forms = std::make_unique<TForms>();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QApplication::applicationName(),
                          QString::fromLocal8Bit(e.what()));
    return 1;
  }
  MForm->show();
  const QStringList files = parser.positionalArguments();
  if (!files.isEmpty()) MForm->OpenWavFileLater(files.constFirst());
  return app.exec();
}
