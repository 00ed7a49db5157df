#include "StartUp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "About.h"
#include "Appearance.h"
#include "Main.h"
#include "Option.h"

namespace {

constexpr int kFontHeight = 12;  // pixels

}  // namespace

void LoadQtTranslation() {
  // Qt's own dialogs and buttons (the file dialog, OK, Cancel) speak the interface's
  // language whatever the locale. Without the translation they stay in English.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (translator->load(QStringLiteral("qtbase_ja"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(translator);
  } else {
    delete translator;
  }
}

void SetUpApplication() {
  LoadQtTranslation();
  QApplication::setApplicationName(QStringLiteral("Zuroka"));
  QApplication::setApplicationVersion(QStringLiteral(ZUROKA_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("zuroka"));
  QApplication::setFont(InterfaceFont(kFontHeight));
  QApplication::setWindowIcon(SvgIcon(QStringLiteral(":/zuroka/images/zuroka.svg")));
}

TForms::TForms() {
  mainForm = std::make_unique<TMForm>();
  MForm = mainForm.get();
  // The dialogs belong to the main window and are destroyed after its engine objects.
  OForm = new TOForm(MForm);
  AForm = new TAForm(MForm);
}

TForms::~TForms() {
  mainForm.reset();
  AForm = nullptr;
  OForm = nullptr;
  MForm = nullptr;
}
