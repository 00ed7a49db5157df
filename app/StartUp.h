#pragma once

#include <memory>

class TMForm;

// Application-wide settings of the program: Qt's Japanese translation, its name and
// version, the interface font, the window icon. Call once after the QApplication exists.
void SetUpApplication();
// Installs Qt's own Japanese texts (qtbase_ja, Debian package qt6-translations-l10n),
// owned by the application; without the file nothing changes.
void LoadQtTranslation();

// The three forms of one session: creates the main window MForm, the options dialog
// OForm and the about box AForm, in this order, and sets the globals; destroying it
// destroys the main window (which releases the engine objects while the dialogs still
// exist), then the dialogs, and clears the globals.
class TForms {
 public:
  TForms();
  ~TForms();
  TForms(const TForms&) = delete;
  TForms& operator=(const TForms&) = delete;

 private:
  std::unique_ptr<TMForm> mainForm;
};
