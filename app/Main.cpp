#include "Main.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <exception>

#include "About.h"
#include "Appearance.h"
#include "ElidedLabel.h"
#include "EngineConstants.h"
#include "Option.h"
#include "PlayError.h"
#include "Proll.h"
#include "SAudioOutput.h"
#include "SLiveNoteSink.h"
#include "SMediaPlayer.h"
#include "SOpenRecording.h"
#include "Texts.h"
#include "UiSeam.h"
#include "UpDownEdit.h"

TMForm* MForm = nullptr;

namespace {

constexpr int kFontHeight = 12;  // pixels
constexpr int kDesignWidth = 887;
constexpr int kDesignHeight = 605;
constexpr int kDesignLeft = 165;
constexpr int kDesignTop = 99;

constexpr int kToolBarHeight = 29;
constexpr int kImageSize = 16;
constexpr int kButtonWidth = 23;
constexpr int kButtonHeight = 22;
constexpr int kLblWidth = 75;
constexpr int kPBWidth = 150;
constexpr int kLbl2Width = 48;
constexpr int kEdtTempoWidth = 40;
constexpr int kUpDownWidth = 16;
constexpr int kStatusBarHeight = 19;

struct Panel {
  const QString* text;  // null: empty
  int width;            // pixels
};

// The status bar's panels, left to right.
const std::array<Panel, TMForm::kPanels> kStatusPanels = {{
    {&text::kPanelSection, 40},
    {nullptr, 110},
    {&text::kPanelPosition, 90},
    {nullptr, 50},
    {&text::kPanelFrequency, 70},
    {nullptr, 50},
    {&text::kPanelMidi, 40},
    {nullptr, 60},
    {&text::kPanelVolume, 40},
    {nullptr, 50},
    {&text::kPanelOverallVolume, 70},
    {nullptr, 50},
    {&text::kPanelCepstrum, 70},
    {nullptr, 80},
    {nullptr, 50},
}};

QAction* AddCommand(QMenu* menu, const QString& caption, int shortcutKey, bool enabled) {
  QAction* action = menu->addAction(caption);
  if (shortcutKey) action->setShortcut(QKeySequence(Qt::CTRL | shortcutKey));
  action->setEnabled(enabled);
  return action;
}

// The timing of the MIDI file: with the item on, every note at the recording's time
// and the tempo control setting only the bar lines.
SStandardMidi::Timing TimingOf(const QAction* recordingTiming) {
  return recordingTiming->isChecked() ? SStandardMidi::Timing::Recording
                                      : SStandardMidi::Timing::Default;
}

QString ImagePath(const char* name) {
  return QStringLiteral(":/zuroka/images/%1.svg").arg(QString::fromLatin1(name));
}

// The one local WAV file among dropped data, or empty.
// The suffixes of every format read, from the open dialog's patterns ("*.wav *.flac ...").
bool IsAudioSuffix(const QString& suffix) {
  const QStringList patterns = QString::fromLatin1(SAudioImport::kFilePatterns).split(' ');
  return patterns.contains(QStringLiteral("*.") + suffix.toLower());
}

QString DroppedWav(const QMimeData* data) {
  if (!data || !data->hasUrls() || data->urls().size() != 1) return QString();
  const QUrl url = data->urls().constFirst();
  if (!url.isLocalFile()) return QString();
  const QString file = url.toLocalFile();
  return IsAudioSuffix(QFileInfo(file).suffix()) ? file : QString();
}

// The source format as the file information shows it.
QString SourceInfoText(const SSourceFormat& f) {
  QString sampleFormat = QString::fromStdString(f.sampleFormat);
  if (f.bits > 0) sampleFormat = (f.isFloat ? text::kBitsFloat : text::kBitsPcm).arg(f.bits);
  return text::kSourceFormatText.arg(QString::fromStdString(f.container), sampleFormat)
      .arg(f.sampleRate)
      .arg(f.channels)
      .arg(f.Seconds(), 0, 'f', 2);
}

// The piano roll's live-note port: the sink behind it is made at the first note.
class WindowLiveNotes : public SShortMsgSink {
 public:
  explicit WindowLiveNotes(std::function<SLiveNoteSink&()> sink) : sink(std::move(sink)) {}
  void ShortMsg(std::uint32_t message) override { sink().ShortMsg(message); }

 private:
  std::function<SLiveNoteSink&()> sink;
};

}  // namespace

TMForm::TMForm(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(text::kMainCaption);
  setFont(InterfaceFont(kFontHeight));
  setGeometry(kDesignLeft, kDesignTop, kDesignWidth, kDesignHeight);
  setWindowState(windowState() | Qt::WindowMaximized);
  setAcceptDrops(true);

  mdiArea = new QMdiArea(this);
  setCentralWidget(mdiArea);
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();

  engine = std::make_unique<SEngine>(*this);
  liveNotesPort =
      std::make_unique<WindowLiveNotes>([this]() -> SLiveNoteSink& { return LiveNoteSink(); });
  // Invisible on the toolbar until a run shows its texts.
  SetLblColour(ButtonFace());
}

TMForm::~TMForm() { FormDestroy(); }

void TMForm::CreateMenus() {
  QMenuBar* bar = menuBar();
  MMFile = bar->addMenu(text::kFileMenu);
  MIOpen = AddCommand(MMFile, text::kOpen, Qt::Key_O, true);
  MIConvert = AddCommand(MMFile, text::kConvert, Qt::Key_C, false);
  MIExit = AddCommand(MMFile, text::kExit, Qt::Key_X, true);

  P1 = bar->addMenu(text::kPlayMenu);
  MIPWav = AddCommand(P1, text::kPlayWav, Qt::Key_P, false);
  MIPMidi = AddCommand(P1, text::kPlayMidi, Qt::Key_M, false);
  MIStop = AddCommand(P1, text::kStop, Qt::Key_S, false);
  MIRemake = AddCommand(P1, text::kRemake, Qt::Key_R, false);

  MMOption = bar->addMenu(text::kOptionMenu);
  MIParam = AddCommand(MMOption, text::kParam, 0, true);
  MIInfo = AddCommand(MMOption, text::kInfo, 0, true);
  MIRecordingTiming = AddCommand(MMOption, text::kRecordingTiming, 0, true);
  MIRecordingTiming->setCheckable(true);

  MMWindow = bar->addMenu(text::kWindowMenu);
  MITile = MMWindow->addMenu(text::kTile);
  MSIVert = AddCommand(MITile, text::kTileVertical, 0, true);
  MSIHorz = AddCommand(MITile, text::kTileHorizontal, 0, true);

  MMHelp = bar->addMenu(text::kHelpMenu);
  N1 = AddCommand(MMHelp, text::kHelp, 0, true);
  MIApp = AddCommand(MMHelp, text::kAbout, Qt::Key_A, true);

  const std::pair<QAction*, void (TMForm::*)()> handlers[] = {
      {MIOpen, &TMForm::MIOpenClick},     {MIConvert, &TMForm::MIConvertClick},
      {MIExit, &TMForm::MIExitClick},     {MIPWav, &TMForm::MIPWavClick},
      {MIPMidi, &TMForm::MIPMidiClick},   {MIStop, &TMForm::MIStopClick},
      {MIRemake, &TMForm::MIRemakeClick}, {MIParam, &TMForm::MIParamClick},
      {MIInfo, &TMForm::MIInfoClick},     {MSIVert, &TMForm::MSIVertClick},
      {MSIHorz, &TMForm::MSIHorzClick},   {N1, &TMForm::N1Click},
      {MIApp, &TMForm::MIAppClick},
  };
  for (const auto& entry : handlers) {
    const auto handler = entry.second;  // a structured binding cannot be captured in C++20
    connect(entry.first, &QAction::triggered, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  }
  connect(MMWindow, &QMenu::aboutToShow, this, &TMForm::UpdateWindowList);
}

QToolButton* TMForm::AddToolButton(QAction* command, const QString& image, const QString& hint,
                                   void (TMForm::*handler)()) {
  auto* button = new QToolButton(TB);
  button->setIcon(SvgIcon(image));
  button->setIconSize(QSize(kImageSize, kImageSize));
  button->setToolTip(hint);
  button->setAutoRaise(true);
  button->setFixedSize(kButtonWidth, kButtonHeight);
  button->setEnabled(command->isEnabled());
  connect(command, &QAction::enabledChanged, button, &QWidget::setEnabled);
  connect(button, &QToolButton::clicked, this,
          [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  TB->addWidget(button);
  return button;
}

void TMForm::CreateToolBar() {
  TB = new QToolBar(this);
  TB->setMovable(false);
  TB->setFloatable(false);
  TB->setFixedHeight(kToolBarHeight);
  TB->setIconSize(QSize(kImageSize, kImageSize));
  addToolBar(Qt::TopToolBarArea, TB);

  TBOpen = AddToolButton(MIOpen, ImagePath("open"), text::kHintOpen, &TMForm::TBOpenClick);
  TBConvert =
      AddToolButton(MIConvert, ImagePath("convert"), text::kHintConvert, &TMForm::TBConvertClick);
  TBPWav = AddToolButton(MIPWav, ImagePath("playwav"), text::kHintPlayWav, &TMForm::TBPWavClick);
  TBPMidi =
      AddToolButton(MIPMidi, ImagePath("playmidi"), text::kHintPlayMidi, &TMForm::TBPMidiClick);
  TBStop = AddToolButton(MIStop, ImagePath("stop"), text::kHintStop, &TMForm::TBStopClick);
  TBRemake =
      AddToolButton(MIRemake, ImagePath("remake"), text::kHintRemake, &TMForm::TBRemakeClick);

  // The progress and tempo controls keep fixed places, so showing and hiding them
  // during a run needs no layout pass (the run does not return to the event loop).
  auto* panel = new QWidget(TB);
  const int height = kButtonHeight;
  int x = 0;
  Lbl = new QLabel(text::kLblIdle, panel);
  Lbl->setGeometry(x, 0, kLblWidth, height);
  Lbl->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  // The piano roll shows its readout by making the window text black: the label must
  // draw with that role, whatever the style would pick on a toolbar.
  Lbl->setForegroundRole(QPalette::WindowText);
  x += kLblWidth;
  PB = new QProgressBar(panel);
  PB->setGeometry(x, 0, kPBWidth, height);
  PB->setRange(0, 100);
  PB->setTextVisible(false);  // a smooth bar
  PB->hide();
  x += kPBWidth;
  Lbl2 = new QLabel(text::kLblTempo, panel);
  Lbl2->setGeometry(x, 0, kLbl2Width, height);
  Lbl2->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  Lbl2->hide();
  x += kLbl2Width;
  UDTempo = new UpDownEdit(zuroka::kMinTempo, zuroka::kMaxTempo, 1, zuroka::kMinTempo, panel);
  UDTempo->setGeometry(x, 0, kEdtTempoWidth + kUpDownWidth, height);
  EdtTempo = UDTempo->Edit();
  QPalette white = EdtTempo->palette();
  white.setColor(QPalette::Base, Qt::white);
  EdtTempo->setPalette(white);
  UDTempo->setToolTip(text::kHintTempo);
  EdtTempo->setToolTip(text::kHintTempo);
  UDTempo->hide();
  x += kEdtTempoWidth + kUpDownWidth;
  panel->setFixedSize(x, height);
  TB->addWidget(panel);
}

void TMForm::CreateStatusBar() {
  SB = statusBar();
  SB->setFixedHeight(kStatusBarHeight);
  // Each panel draws its own sunken frame; the bar adds none around it.
  SB->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
  for (int i = 0; i < kPanels; ++i) {
    const Panel& p = kStatusPanels[i];
    // Narrower than the panels' designed widths, the bar squeezes them and each one
    // elides its text instead of running into the next.
    auto* panel = new TElidedLabel(p.text ? *p.text : QString(), Qt::ElideRight, SB);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->SetPreferredWidth(p.width);
    panel->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    panel->setAlignment((i == kPanels - 1 ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter);
    SB->addWidget(panel);
    SBPanels[i] = panel;
  }
}

QMenu* TMForm::createPopupMenu() { return nullptr; }  // the toolbar cannot be hidden

SEngineObject* TMForm::GetEngineObject(int index) {
  return engine ? engine->GetEngineObject(index) : nullptr;
}

QString TMForm::SdFileName() const {
  return engine ? QFile::decodeName(QByteArray::fromStdString(engine->MidiFileName())) : QString();
}

double TMForm::GetCPRatio() const { return OForm->CPRatio; }

double TMForm::GetDBRatio() const { return OForm->DBRatio; }

int TMForm::GetBorder() const { return OForm->UDBorder->value(); }

void TMForm::ShowMessage(const std::string& text, const std::string& caption) {
  ShowBox(QString::fromStdString(text),
          caption.empty() ? QApplication::applicationName() : QString::fromStdString(caption),
          QMessageBox::NoIcon);
}

void TMForm::ShowBox(const QString& text, const QString& caption, QMessageBox::Icon icon) {
  Ui().MessageBox(this, text, caption, icon);
}

void TMForm::Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& e) {
    ShowBox(QString::fromLocal8Bit(e.what()), QApplication::applicationName(),
            QMessageBox::Critical);
  }
}

void TMForm::SetLblColour(const QColor& colour) {
  QPalette palette = Lbl->palette();
  palette.setColor(Lbl->foregroundRole(), colour);
  Lbl->setPalette(palette);
}

QColor TMForm::ButtonFace() const {
  // Fully transparent: styles paint the toolbar with shades of its colour, on which
  // text in the plain colour would still show faintly.
  QColor face = TB->palette().color(TB->backgroundRole());
  face.setAlpha(0);
  return face;
}

void TMForm::SetLblText(const QString& text) {
  Lbl->setText(text);
  FitLbl();
}

void TMForm::FitLbl() {
  // Sized to its text as the platform's labels size themselves, from its design width
  // up to the tempo controls, which keep their place; the progress bar beside it is
  // hidden whenever a text longer than the run's shows.
  const int room = Lbl2->x() - Lbl->x();
  Lbl->resize(std::clamp(Lbl->sizeHint().width(), kLblWidth, room), Lbl->height());
}

void TMForm::SetTempoControlsVisible(bool visible) {
  Lbl2->setVisible(visible);
  UDTempo->setVisible(visible);  // EdtTempo is its edit part
}

bool TMForm::MidiFileExists() const {
  return !engine->MidiFileName().empty() && QFileInfo::exists(SdFileName());
}

void TMForm::MIOpenClick() {
  const QString chosen = Ui().GetOpenFileName(
      this, QDir::currentPath(),
      text::kWavFilter + QStringLiteral(";;") +
          text::kAudioFilter.arg(QString::fromLatin1(SAudioImport::kFilePatterns)),
      text::kWavSuffix);
  if (chosen.isEmpty()) return;
  OpenWavFile(chosen);
}

void TMForm::OpenWavFile(const QString& fileName) {
  const QFileInfo chosen(fileName);
  // The chosen file's folder becomes the working directory, as the platform's open
  // dialog leaves it: the next Open starts there, and Help looks there for its page.
  QDir::setCurrent(chosen.absolutePath());
  Ui().SetCursor(this, Qt::WaitCursor);
  if (LoadWavFile(chosen.absoluteFilePath())) {
    // The run leaves Remake on: the grids are a finished conversion, and edits made
    // in the piano roll can be written without converting the file again.
    MIConvertClick();
    MIConvert->setEnabled(true);
    MIPWav->setEnabled(true);
  } else {
    ShowBox(openError, text::kErrorCaption, QMessageBox::Critical);
    Ui().SetCursor(this, Qt::ArrowCursor);
  }
}

bool TMForm::LoadWavFile(const QString& fileName) {
  // Any format read: a 16-bit WAV by the engine's reader (resampled when its rate is
  // not 44100), everything else imported.
  SWavFile fresh;
  const SRecording rec = OpenRecording(fresh, QFile::encodeName(fileName).toStdString());
  if (!rec.Opened()) {
    openError =
        rec.importFailure == SAudioImport::Failure::MpegFour
            ? text::kMpegFourErrorText.arg(QString::fromLatin1(SAudioImport::kSupportedFormats))
            : text::kOpenErrorText;
    return false;
  }
  engine->wavFile = std::move(fresh);
  odFileName = fileName;
  sourceInfo = SourceInfoText(rec.format);
  return true;
}

void TMForm::OpenWavFileLater(const QString& fileName) {
  QTimer::singleShot(0, this,
                     [this, fileName] { Guarded([this, fileName] { OpenWavFile(fileName); }); });
}

void TMForm::MIConvertClick() {
  SEngine& e = *engine;
  SConvertRequest request;
  request.midiFileName = ReplaceExt(QFile::encodeName(odFileName).toStdString(), "mid");
  request.timing = TimingOf(MIRecordingTiming);
  SConvertHooks& hooks = request.hooks;
  // No events are processed until the run ends: each control is repainted here.
  hooks.onStart = [this](int frames) {
    PB->setVisible(true);
    // A range of 0..0 would turn the bar into a busy indicator.
    PB->setRange(0, std::max(frames, 1));
    PB->setValue(0);
    PB->repaint();
    SetLblText(text::kLblWorking);
    SetLblColour(Qt::black);
    Lbl->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    Lbl->repaint();
    SetTempoControlsVisible(false);
  };
  // The bar repaints itself at once whenever a step changes what it shows.
  hooks.onFrame = [this](int) { PB->setValue(PB->value() + 1); };
  hooks.afterFrames = [this] {
    Ui().SetCursor(this, Qt::ArrowCursor);
    SetLblText(text::kLblDone);
    Lbl->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    ShowBox(text::kConvertedText, text::kConvertedCaption, QMessageBox::Information);
    repaint();
    PB->hide();
    SetLblColour(ButtonFace());
    Lbl->repaint();
  };
  hooks.afterTracks = [this] { ShowPianoRoll(); };
  hooks.chooseTempo = [this](int estimated) {
    if (MidiFileExists()) ClosePlayerBeforeRewrite();
    UDTempo->setValue(estimated);  // the control's range clamps it
    SetTempoControlsVisible(true);
    return UDTempo->value();
  };

  const SConversion run = e.Convert(request);
  if (run.status == SConversion::Status::NoMemory) {
    Ui().SetCursor(this, Qt::ArrowCursor);
    ShowBox(text::kNoMemoryText, text::kErrorCaption, QMessageBox::Critical);
    return;
  }
  if (run.status == SConversion::Status::ReadFailed) {
    // The recording could no longer be read: as a failed Open says.
    Ui().SetCursor(this, Qt::ArrowCursor);
    PB->hide();
    ShowBox(text::kOpenErrorText, text::kErrorCaption, QMessageBox::Critical);
    return;
  }
  if (run.status == SConversion::Status::WriteFailed) ShowWriteError();

  MIPMidi->setEnabled(true);
  MIRemake->setEnabled(true);
}

void TMForm::MIRemakeClick() {
  SEngine& e = *engine;
  if (MidiFileExists()) ClosePlayerBeforeRewrite();
  if (!e.Remake(UDTempo->value(), TimingOf(MIRecordingTiming))) {
    ShowWriteError();
    return;
  }
  ShowBox(text::kRemadeText, text::kRemadeCaption, QMessageBox::Information);
  PlayMidiAfterRemake();
}

void TMForm::ShowWriteError() {
  ShowBox(text::kWriteErrorText.arg(QDir::toNativeSeparators(SdFileName()),
                                    QString::fromLocal8Bit(engine->midi.GetError())),
          text::kErrorCaption, QMessageBox::Critical);
}

TPForm* TMForm::PianoRoll() const { return pianoRoll; }

void TMForm::ShowPianoRoll() {
  // The roll is gone once the user has closed it (it deletes itself); a roll still
  // open is reused, so its place and scroll position stay.
  const bool created = !pianoRoll;
  if (created) {
    pianoRoll = new TPForm(*engine, Lbl, liveNotesPort.get());
    connect(pianoRoll, &TPForm::StatusTextShown, this, &TMForm::FitLbl);
    auto* window = new QMdiSubWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWidget(pianoRoll);
    window->setWindowTitle(pianoRoll->windowTitle());
    window->setWindowIcon(windowIcon());
    mdiArea->addSubWindow(window);
    window->showMaximized();
    GiveRestoredSize(window);
  }
  pianoRoll->SetFrameCount(engine->Frames());
  pianoRoll->DrawNotes();
  // Another file starts at its beginning with its melody in sight; the same file again
  // keeps the place the user was working at.
  if (created || rollFile != odFileName) pianoRoll->ShowFromStart();
  rollFile = odFileName;
}

void TMForm::GiveRestoredSize(QMdiSubWindow* window) {
  // Opened maximised, the window has no normal size of its own yet: restored, it would
  // shrink to its title bar.
  auto first = std::make_shared<bool>(true);
  connect(window, &QMdiSubWindow::windowStateChanged, this,
          [this, window, first](Qt::WindowStates before, Qt::WindowStates now) {
            const Qt::WindowStates large = Qt::WindowMaximized | Qt::WindowFullScreen;
            if (!*first || !(before & large) || (now & (large | Qt::WindowMinimized))) return;
            *first = false;
            window->setGeometry(RestoredRect(mdiArea->viewport()->size()));
          });
}

SMediaPlayer& TMForm::MediaPlayer() {
  if (!MP)
    MP = audioOutput ? std::make_unique<SMediaPlayer>(audioOutput)
                     : std::make_unique<SMediaPlayer>();
  return *MP;
}

SLiveNoteSink& TMForm::LiveNoteSink() {
  // The tests' output has no sequencer port: the notes stay inside the process.
  if (!liveNotes)
    liveNotes = audioOutput ? std::make_unique<SLiveNoteSink>(audioOutput, false)
                            : std::make_unique<SLiveNoteSink>();
  return *liveNotes;
}

void TMForm::SetAudioOutput(std::shared_ptr<SAudioOutput> output) {
  MP.reset();  // closes its file
  liveNotes.reset();
  MIStop->setEnabled(false);
  audioOutput = std::move(output);
}

void TMForm::ClosePlayerBeforeRewrite() {
  if (MP) MP->Close();
  MIStop->setEnabled(false);
}

void TMForm::PlayMidiAfterRemake() { PlayFile(engine->MidiFileName()); }

void TMForm::PlayFile(const std::string& fileName) {
  SMediaPlayer& player = MediaPlayer();
  player.SetFileName(fileName);
  if (!player.Open()) {
    MIStop->setEnabled(false);
    // Without an output of the window's own, the player took the program-wide one.
    const std::shared_ptr<SAudioOutput> output = audioOutput ? audioOutput : SAudioOutput::Shared();
    ShowBox(PlayErrorText(QFile::decodeName(QByteArray::fromStdString(fileName)), *output),
            text::kErrorCaption, QMessageBox::Critical);
    return;
  }
  player.Play();
  MIStop->setEnabled(true);
}

void TMForm::MIPWavClick() { PlayFile(QFile::encodeName(odFileName).toStdString()); }

void TMForm::MIPMidiClick() { PlayFile(engine->MidiFileName()); }

void TMForm::MIStopClick() {
  if (MP) {
    MP->Stop();
    MP->Close();
  }
  MIStop->setEnabled(false);
}

void TMForm::MIExitClick() { close(); }

void TMForm::MIParamClick() { Ui().ExecDialog(OForm); }

void TMForm::MIInfoClick() {
  ShowBox(QString::fromStdString(engine->wavFile.GetInfoText()) + sourceInfo, text::kInfoCaption,
          QMessageBox::NoIcon);
}

void TMForm::MSIVertClick() { TileSubWindows(TileMode::Vertical); }

void TMForm::MSIHorzClick() { TileSubWindows(TileMode::Horizontal); }

void TMForm::TileSubWindows(TileMode mode) {
  std::vector<QMdiSubWindow*> windows;
  for (QMdiSubWindow* w : mdiArea->subWindowList()) {
    if (w->isVisible() && !w->isMinimized()) windows.push_back(w);
  }
  const std::vector<QRect> places =
      TileRects(static_cast<int>(windows.size()), mdiArea->viewport()->size(), mode);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (windows[i]->isMaximized()) windows[i]->showNormal();
    windows[i]->setGeometry(places[i]);
  }
}

void TMForm::UpdateWindowList() {
  for (QAction* action : windowListActions) {
    MMWindow->removeAction(action);
    delete action;
  }
  windowListActions.clear();
  const QList<QMdiSubWindow*> windows = mdiArea->subWindowList();
  if (windows.isEmpty()) return;
  windowListActions.push_back(MMWindow->addSeparator());
  int number = 1;
  for (QMdiSubWindow* window : windows) {
    QAction* action =
        MMWindow->addAction(QStringLiteral("&%1 %2").arg(number++).arg(window->windowTitle()));
    action->setCheckable(true);
    action->setChecked(window == mdiArea->activeSubWindow());
    connect(action, &QAction::triggered, this,
            [this, window] { mdiArea->setActiveSubWindow(window); });
    windowListActions.push_back(action);
  }
}

void TMForm::N1Click() {
  // The working directory's page when there is one (it follows the last Open), else
  // the manual installed with the program, so Help always shows something.
  const QFileInfo page(text::kHelpPage);
  const QString file = page.exists() ? page.absoluteFilePath() : ManualPath();
  if (!Ui().OpenUrl(QUrl::fromLocalFile(file))) {
    ShowBox(text::kHelpErrorText.arg(QDir::toNativeSeparators(file)), text::kErrorCaption,
            QMessageBox::Warning);
  }
}

void TMForm::MIAppClick() { Ui().ExecDialog(AForm); }

void TMForm::TBOpenClick() { MIOpenClick(); }

void TMForm::TBConvertClick() { MIConvertClick(); }

void TMForm::TBPWavClick() { MIPWavClick(); }

void TMForm::TBPMidiClick() { MIPMidiClick(); }

void TMForm::TBStopClick() { MIStopClick(); }

void TMForm::TBRemakeClick() { MIRemakeClick(); }

void TMForm::FormDestroy() {
  // Child windows borrow the grids and the live-note port: they go first. The player
  // closes its file as it goes.
  qDeleteAll(mdiArea->subWindowList());
  liveNotes.reset();
  MP.reset();
  engine.reset();
}

void TMForm::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedWav(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TMForm::dropEvent(QDropEvent* event) {
  const QString file = DroppedWav(event->mimeData());
  if (file.isEmpty()) return;
  event->acceptProposedAction();
  OpenWavFileLater(file);
}
