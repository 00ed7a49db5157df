#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ExampleMelody.h"
#include "SAudioOutput.h"
#include "SMediaPlayer.h"
#include "SNoteEdit.h"
#include "StartUp.h"
#include "UiSeam.h"

// One message box as the program asked for it, with the cursor the main window
// had at that moment.
struct Box {
  QString text;
  QString caption;
  QMessageBox::Icon icon;
  Qt::CursorShape cursor;
};

// Answers every modal question at once and records what was asked.
class FakeUi : public UiSeam {
 public:
  void MessageBox(QWidget* parent, const QString& text, const QString& caption,
                  QMessageBox::Icon icon) override;
  QString GetOpenFileName(QWidget* parent, const QString& folder, const QString& filter,
                          const QString& defaultSuffix) override;
  int ExecDialog(QDialog* dialog) override;
  void SetCursor(QWidget* window, Qt::CursorShape shape) override;
  bool OpenUrl(const QUrl& url) override;

  std::deque<QString> filesToPick;  // answers of the open dialog; none left: cancel
  std::vector<Box> boxes;
  std::vector<Qt::CursorShape> cursors;
  std::vector<QUrl> urls;
  bool urlsOpen = true;  // the answer of OpenUrl: whether a viewer started
  std::vector<QDialog*> dialogs;
  QStringList dialogFolders;  // the folder each open dialog started in
  QString lastFilter;
  QString lastSuffix;
  std::function<void(const Box&)> onBox;  // runs while the box would be up
  std::function<int(QDialog*)> onDialog;  // runs while the dialog would be up
};

// A fresh set of forms per test, a scratch folder as the working directory, and the
// fake seam installed; everything is put back afterwards. The window plays into
// `sink`, an output without a sound device that the test renders by hand.
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A melody written as a 16-bit mono WAV in the scratch folder; its absolute name.
  QString WriteWav(const QString& name, const std::vector<zuroka::MelodyNote>& notes);
  QString WriteSamples(const QString& name, const std::vector<std::int16_t>& samples);
  // Opens a file through the menu command, the fake dialog picking it.
  void Open(const QString& file);
  // The MIDI file the converter writes for the WAV file with these options.
  // (With edits: the converter's scripted gestures, written as Remake writes.)
  std::vector<std::uint8_t> ConverterBytes(const QString& wav, int cp = 60, int db = 70,
                                           int border = 3, std::optional<int> tempo = {},
                                           const std::vector<SGesture>& edits = {});
  // Each command's toolbar button is enabled exactly when its action is.
  void ExpectButtonsFollowActions();
  // Pulls up to `seconds` of audio from the sink; stops early once the player is
  // silent. The peak sample level seen.
  float Render(double seconds);
  // Destroys the forms as the program's end does (TearDown then has nothing to do).
  void DestroyForms();
  // Lets windows that were closed be deleted, as the event loop would.
  static void ProcessDeferredDeletes();
  // Runs a command through its action (it must be enabled), so that an error
  // escaping it reaches the error box as it does for the user.
  static void Run(QAction* command);
  // The player is open on this file with this device, sounding, and Stop is on.
  void ExpectPlaying(SMediaPlayer::Device device, const QString& file);

  std::shared_ptr<SAudioOutput> sink;

  QTemporaryDir scratch;
  QDir dir;
  FakeUi* ui = nullptr;  // owned by the installed seam

 private:
  QString oldCurrent;
  std::unique_ptr<TForms> forms;
};

std::vector<std::uint8_t> ReadBytes(const QString& file);
// A text of the program, from its UTF-8 literal.
inline QString Qs(const char* utf8) { return QString::fromUtf8(utf8); }
// A file name as the engine and the player hold it.
std::string Local(const QString& file);
// The tempo of the file's Set Tempo event, in microseconds per quarter note; -1 if none.
int TempoMicros(const std::vector<std::uint8_t>& midi);
// Pixels of a widget's picture darker than mid-grey: text drawn in black shows up
// here, text in the background's own colour does not.
int DarkPixels(QWidget* widget);
// Saves a picture of a widget when ZUROKA_SCREENSHOT_DIR is set.
void SaveScreenshot(QWidget* widget, const QString& name);

// A short melody of five clear notes.
std::vector<zuroka::MelodyNote> ShortMelody();
