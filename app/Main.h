#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "ElidedLabel.h"
#include "SEngine.h"
#include "SEngineSeam.h"
#include "SMIDIIO.h"
#include "Tiling.h"

class QAction;
class QLabel;
class QLineEdit;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QStatusBar;
class QToolBar;
class QToolButton;
class SAudioOutput;
class SLiveNoteSink;
class SMediaPlayer;
class TPForm;
class UpDownEdit;

// The frame window: menus, toolbar with the progress and tempo controls, status bar,
// and the child-window area where the piano roll opens. It owns the engine objects
// for the life of the program, runs the conversion on the engine's frame loop, and
// feeds the engine the options of OForm and its message boxes. One instance, MForm.
class TMForm : public QMainWindow, public SEngineSeam {
  Q_OBJECT
 public:
  explicit TMForm(QWidget* parent = nullptr);
  ~TMForm() override;

  // 0 reader, 1 analyser, 2 mark grid, 3 pitch grid; any other index (or after
  // FormDestroy): null.
  SEngineObject* GetEngineObject(int index);
  // The engine context (valid until FormDestroy).
  SEngine& Engine() { return *engine; }
  // The child-window area, where the piano roll lives.
  QMdiArea* MdiArea() const { return mdiArea; }
  // The open dialog's file name: the current WAV file (absolute), empty before any Open.
  const QString& OdFileName() const { return odFileName; }
  // The name the last run gave the MIDI file, empty before any run.
  QString SdFileName() const;
  // The piano roll, null until the first conversion and after the user closed it.
  TPForm* PianoRoll() const;
  // The media player, null until the first Play.
  const SMediaPlayer* Player() const { return MP.get(); }
  // Where the player and the live notes sound: null (the default) is the program-wide
  // device output, opened at the first Play or note. Anything already open through
  // the old output is closed, and Stop goes off.
  void SetAudioOutput(std::shared_ptr<SAudioOutput> output);

  // The engine's options and messages: the ratios of OForm, the live position of
  // its UDBorder, and a modal box (an empty caption gives the application's name).
  double GetCPRatio() const override;
  double GetDBRatio() const override;
  int GetBorder() const override;
  void ShowMessage(const std::string& text, const std::string& caption) override;

  // The text colour of the shared label Lbl (black to show a text; ButtonFace hides it).
  void SetLblColour(const QColor& colour);
  // The colour that hides Lbl's text on the toolbar: the toolbar's, fully transparent.
  QColor ButtonFace() const;
  // Sets Lbl's text and sizes Lbl to it (FitLbl).
  void SetLblText(const QString& text);
  // Sizes Lbl to its text: at least its design width of 75 px, at most up to the tempo
  // controls. The piano roll's readout calls it after each pointer move.
  void FitLbl();

  // Open a file already chosen (command line, dropped file) exactly as Open does
  // after its dialog: same messages, same command states.
  void OpenWavFile(const QString& fileName);
  // The same once the event loop runs: for a file named at start or dropped, so the
  // window shows first and the program that dropped it is not kept waiting.
  void OpenWavFileLater(const QString& fileName);

  // Command handlers; each toolbar button's handler calls its menu item's handler.
  void MIOpenClick();
  void MIConvertClick();
  void MIExitClick();
  void MIPWavClick();
  void MIPMidiClick();
  void MIStopClick();
  void MIRemakeClick();
  void MIParamClick();
  void MIInfoClick();
  void MSIVertClick();
  void MSIHorzClick();
  void N1Click();
  void MIAppClick();
  void TBOpenClick();
  void TBConvertClick();
  void TBPWavClick();
  void TBPMidiClick();
  void TBStopClick();
  void TBRemakeClick();
  // Releases the child windows and then the engine objects they borrow.
  void FormDestroy();

  // Menus and commands. A command is one QAction: its menu item and its toolbar
  // button are enabled and disabled together.
  QMenu* MMFile;
  QAction* MIOpen;
  QAction* MIConvert;
  QAction* MIExit;
  QMenu* P1;
  QAction* MIPWav;
  QAction* MIPMidi;
  QAction* MIStop;
  QAction* MIRemake;
  QMenu* MMOption;
  QAction* MIParam;
  QAction* MIInfo;
  QAction* MIRecordingTiming;  // checkable, off at start: write the recording's timing
  QMenu* MMWindow;
  QMenu* MITile;
  QAction* MSIVert;
  QAction* MSIHorz;
  QMenu* MMHelp;
  QAction* N1;
  QAction* MIApp;

  // Toolbar. Lbl is shared: the run writes its progress texts there and the piano
  // roll its pitch readout.
  QToolBar* TB;
  QToolButton* TBOpen;
  QToolButton* TBConvert;
  QToolButton* TBPWav;
  QToolButton* TBPMidi;
  QToolButton* TBStop;
  QToolButton* TBRemake;
  QLabel* Lbl;
  QProgressBar* PB;
  QLabel* Lbl2;
  QLineEdit* EdtTempo;
  UpDownEdit* UDTempo;  // bpm, 10..240, no wrap

  // Status bar with its panels, at their designed widths where the window is wide
  // enough, squeezed with their texts elided where it is not.
  static constexpr int kPanels = 15;
  QStatusBar* SB;
  std::array<TElidedLabel*, kPanels> SBPanels{};

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  QMenu* createPopupMenu() override;

 private:
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  QToolButton* AddToolButton(QAction* command, const QString& image, const QString& hint,
                             void (TMForm::*handler)());
  // Runs a command; an error that escapes it is shown in one box and the program goes on.
  void Guarded(const std::function<void()>& command);
  void ShowBox(const QString& text, const QString& caption, QMessageBox::Icon icon);
  void ShowWriteError();
  // Reads the file into a fresh reader and keeps it, as the current WAV file, only
  // when it loads: a failed Open leaves the file that Convert, Play WAV, the file
  // information and Remake work on, and its grids, as they were.
  bool LoadWavFile(const QString& fileName);
  void SetTempoControlsVisible(bool visible);
  void TileSubWindows(TileMode mode);
  void UpdateWindowList();
  bool MidiFileExists() const;

  // The piano roll's part of a run: creates it when no child window is open, gives
  // it the run's frame count and draws the notes, from the start of the recording when
  // it showed another file.
  void ShowPianoRoll();
  // The first time the piano roll's window is restored from maximised, it takes the
  // child-window area less a margin.
  void GiveRestoredSize(QMdiSubWindow* window);
  // Before the MIDI file is rewritten: the player may hold it open, so it is closed,
  // and Stop goes off. Closing the player itself joins here with the playback.
  void ClosePlayerBeforeRewrite();
  // After Remake: the new MIDI file plays, and Stop comes on. Playing itself joins
  // here with the playback.
  void PlayMidiAfterRemake();
  // Sets the player's file name, opens and plays it, and turns Stop on; when the file
  // cannot be opened, Stop goes off and one error box names the file and the cause.
  void PlayFile(const std::string& fileName);
  SMediaPlayer& MediaPlayer();
  SLiveNoteSink& LiveNoteSink();

  QMdiArea* mdiArea;
  QPointer<TPForm> pianoRoll;
  QString rollFile;  // the WAV file whose conversion the piano roll shows
  QString odFileName;
  QString sourceInfo;  // the current file's source format, for the file information
  QString openError;   // the last failed Open's error box text
  std::vector<QAction*> windowListActions;
  std::unique_ptr<SEngine> engine;

  // Playback and the piano roll's live notes. Both are made at their first use, so
  // that start-up never touches the sound device; the roll borrows liveNotesPort,
  // which reaches the sink through this window.
  std::shared_ptr<SAudioOutput> audioOutput;
  std::unique_ptr<SMediaPlayer> MP;
  std::unique_ptr<SLiveNoteSink> liveNotes;
  std::unique_ptr<SShortMsgSink> liveNotesPort;
};

// The one main window, created first at start-up.
extern TMForm* MForm;
