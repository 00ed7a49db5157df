// The main window: its texts, the command states through Open, Convert, Play, Remake
// and Stop, failed and cancelled Opens, help, file information, files given at start
// or dropped, and window arrangement.
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "AppFixture.h"
#include "Main.h"
#include "Option.h"
#include "Proll.h"
#include "SMediaPlayer.h"
#include "UpDownEdit.h"

namespace {

struct CommandStates {
  bool convert, playWav, playMidi, stop, remake;
};

void ExpectStates(const CommandStates& want) {
  // The commands that are always available.
  for (QAction* a : {MForm->MIOpen, MForm->MIExit, MForm->MIParam, MForm->MIInfo, MForm->MSIVert,
                     MForm->MSIHorz, MForm->N1, MForm->MIApp}) {
    EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
  }
  EXPECT_TRUE(MForm->MITile->isEnabled());
  EXPECT_EQ(MForm->MIConvert->isEnabled(), want.convert);
  EXPECT_EQ(MForm->MIPWav->isEnabled(), want.playWav);
  EXPECT_EQ(MForm->MIPMidi->isEnabled(), want.playMidi);
  EXPECT_EQ(MForm->MIStop->isEnabled(), want.stop);
  EXPECT_EQ(MForm->MIRemake->isEnabled(), want.remake);
}

// The window's picture where Lbl lies is the same as with no text at all.
void ExpectLblShowsNothing() {
  const QRect area(MForm->Lbl->mapTo(MForm, QPoint(0, 0)), MForm->Lbl->size());
  const QImage shown = MForm->grab(area).toImage();
  const QString text = MForm->Lbl->text();
  MForm->Lbl->setText(QString());
  const QImage empty = MForm->grab(area).toImage();
  MForm->Lbl->setText(text);
  EXPECT_TRUE(shown == empty) << text.toStdString();
}

}  // namespace

TEST_F(AppTest, MenusCarryTheirCaptionsShortcutsAndHints) {
  EXPECT_EQ(MForm->windowTitle(), Qs("Zuroka　Ver 1.0.1"));
  struct Item {
    QAction* action;
    const char* caption;
    const char* shortcut;
  };
  const Item items[] = {
      {MForm->MMFile->menuAction(), "ファイル(&F)", ""},
      {MForm->MIOpen, "開く(&O)", "Ctrl+O"},
      {MForm->MIConvert, "MIDIファイルへ変換(&C)", "Ctrl+C"},
      {MForm->MIExit, "終了(&X)", "Ctrl+X"},
      {MForm->P1->menuAction(), "演奏データ(&P)", ""},
      {MForm->MIPWav, "Waveデータを演奏する(&P)", "Ctrl+P"},
      {MForm->MIPMidi, "MIDIデータを演奏する(&M)", "Ctrl+M"},
      {MForm->MIStop, "演奏をとめる(&S)", "Ctrl+S"},
      {MForm->MIRemake, "MIDIデータを作り直す(&R)", "Ctrl+R"},
      {MForm->MMOption->menuAction(), "オプション(&O)", ""},
      {MForm->MIParam, "パラメータ変更(&P)", ""},
      {MForm->MIInfo, "ファイル情報表示(&I)", ""},
      {MForm->MMWindow->menuAction(), "ウィンドウ(&W)", ""},
      {MForm->MITile->menuAction(), "整列", ""},
      {MForm->MSIVert, "縦方向", ""},
      {MForm->MSIHorz, "横方向", ""},
      {MForm->MMHelp->menuAction(), "ヘルプ(&H)", ""},
      {MForm->N1, "Zurokaヘルプ(&H)", ""},
      {MForm->MIApp, "Zurokaについて(&A)", "Ctrl+A"},
  };
  for (const Item& item : items) {
    EXPECT_EQ(item.action->text(), Qs(item.caption));
    EXPECT_EQ(item.action->shortcut().toString(), Qs(item.shortcut)) << item.caption;
  }
  EXPECT_EQ(MForm->MITile->actions(), (QList<QAction*>{MForm->MSIVert, MForm->MSIHorz}));

  const std::pair<QToolButton*, const char*> hints[] = {
      {MForm->TBOpen, "waveファイルを開く"},     {MForm->TBConvert, "MIDIファイルに変換する"},
      {MForm->TBPWav, "waveファイルを再生する"}, {MForm->TBPMidi, "MIDIファイルを再生する"},
      {MForm->TBStop, "演奏データを停止する"},   {MForm->TBRemake, "MIDIファイルを作り直す"},
  };
  for (const auto& [button, hint] : hints) {
    EXPECT_EQ(button->toolTip(), Qs(hint));
    EXPECT_FALSE(button->icon().isNull()) << hint;
  }
  EXPECT_EQ(MForm->UDTempo->toolTip(), Qs("テンポ：曲の速さを変更できます．"));
  EXPECT_EQ(MForm->EdtTempo->toolTip(), Qs("テンポ：曲の速さを変更できます．"));
}

TEST_F(AppTest, ToolbarAndStatusBarStartAsDesigned) {
  EXPECT_EQ(MForm->Lbl->text(), Qs("　処理中です　"));
  EXPECT_EQ(MForm->Lbl->width(), 75);
  // Invisible: the text has the toolbar's own colour.
  EXPECT_EQ(DarkPixels(MForm->Lbl), 0);
  EXPECT_FALSE(MForm->PB->isVisible());
  EXPECT_EQ(MForm->PB->width(), 150);
  EXPECT_EQ(MForm->Lbl2->text(), Qs("　テンポ　"));
  EXPECT_FALSE(MForm->Lbl2->isVisible());
  EXPECT_FALSE(MForm->UDTempo->isVisible());
  EXPECT_EQ(MForm->EdtTempo->text(), Qs("10"));
  EXPECT_TRUE(MForm->EdtTempo->isReadOnly());
  EXPECT_EQ(MForm->UDTempo->minimum(), 10);
  EXPECT_EQ(MForm->UDTempo->maximum(), 240);
  EXPECT_FALSE(MForm->UDTempo->wrapping());

  // A window wide enough for every panel at its designed width.
  MForm->showNormal();
  MForm->resize(1200, 700);
  QCoreApplication::processEvents();
  const std::pair<const char*, int> panels[] = {
      {"区間", 40},
      {"", 110},
      {"区間内の位置", 90},
      {"", 50},
      {"周波数(Hz)", 70},
      {"", 50},
      {"MIDI", 40},
      {"", 60},
      {"音量", 40},
      {"", 50},
      {"全体の音量", 70},
      {"", 50},
      {"ケプストラム", 70},
      {"", 80},
      {"", 50},
  };
  for (int i = 0; i < TMForm::kPanels; ++i) {
    EXPECT_EQ(MForm->SBPanels[i]->text(), Qs(panels[i].first)) << i;
    EXPECT_EQ(MForm->SBPanels[i]->width(), panels[i].second) << i;
    EXPECT_EQ(MForm->SBPanels[i]->alignment() & Qt::AlignHorizontal_Mask,
              i == 14 ? Qt::AlignLeft : Qt::AlignHCenter);
  }
}

TEST_F(AppTest, HiddenLabelLeavesNoTraceOnTheToolbar) {
  ExpectLblShowsNothing();  // "処理中です" at start
  Open(WriteWav(QStringLiteral("tune.wav"), ShortMelody()));
  EXPECT_EQ(MForm->Lbl->text(), Qs("　　　完了　　　"));
  ExpectLblShowsNothing();
}

TEST_F(AppTest, NarrowWindowKeepsEachStatusTextInsideItsPanel) {
  MForm->showNormal();
  for (int width : {887, 700, 400}) {
    MForm->resize(width, 600);
    QCoreApplication::processEvents();
    bool elided = false;
    for (int i = 0; i < TMForm::kPanels; ++i) {
      const TElidedLabel& panel = *MForm->SBPanels[i];
      const QString shown = panel.ShownText();
      EXPECT_LE(panel.fontMetrics().horizontalAdvance(shown), panel.contentsRect().width())
          << width << " " << i;
      EXPECT_EQ(shown.isEmpty(), panel.text().isEmpty()) << width << " " << i;
      if (shown != panel.text()) {
        elided = true;
        EXPECT_EQ(panel.toolTip(), panel.text());
      }
      if (i + 1 < TMForm::kPanels) {
        EXPECT_LT(panel.geometry().right(), MForm->SBPanels[i + 1]->geometry().left())
            << width << " " << i;
      }
    }
    EXPECT_TRUE(elided) << width;
    EXPECT_LE(MForm->SBPanels[TMForm::kPanels - 1]->geometry().right(), MForm->SB->width());
  }
  SaveScreenshot(MForm, QStringLiteral("narrow-window.png"));
}

TEST_F(AppTest, CommandStatesFollowOpenConvertPlayRemakeAndStop) {
  ExpectStates({false, false, false, false, false});
  ExpectButtonsFollowActions();

  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  Open(wav);
  ExpectStates({true, true, true, false, true});
  ExpectButtonsFollowActions();

  MForm->MIConvertClick();
  ExpectStates({true, true, true, false, true});

  MForm->MIPMidiClick();
  ExpectStates({true, true, true, true, true});
  // The MIDI file exists now, so a conversion closes the player first: Stop goes off.
  MForm->MIConvertClick();
  ExpectStates({true, true, true, false, true});

  MForm->MIRemakeClick();
  ExpectStates({true, true, true, true, true});
  ExpectButtonsFollowActions();
  MForm->MIStopClick();
  ExpectStates({true, true, true, false, true});
}

TEST_F(AppTest, FailedOpenShowsTheErrorAndChangesNoCommand) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  Open(wav);
  MForm->MIConvertClick();
  ui->boxes.clear();
  ui->cursors.clear();

  QFile text(dir.absoluteFilePath(QStringLiteral("notes.wav")));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("these are not samples");
  text.close();
  Open(text.fileName());

  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].text, Qs("ファイルを開くことができませんでした．\n"
                                  "他のアプリケーションで使用しているか確認してください．"));
  EXPECT_EQ(ui->boxes[0].caption, Qs("エラー"));
  // The hourglass is up while the box is, and gone afterwards.
  EXPECT_EQ(ui->boxes[0].cursor, Qt::WaitCursor);
  EXPECT_EQ(MForm->cursor().shape(), Qt::ArrowCursor);
  ExpectStates({true, true, true, false, true});
  ExpectButtonsFollowActions();
}

TEST_F(AppTest, AfterAFailedOpenEveryCommandWorksOnThePreviousFile) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  const QString mid = dir.absoluteFilePath(QStringLiteral("tune.mid"));
  Open(wav);
  SEngine& e = MForm->Engine();
  const auto gridCells = [&e] {
    std::vector<std::uint8_t> cells;
    for (const SSequence* grid : {&e.marks, &e.pitches}) {
      for (int row = 0; row < grid->GetRows(); ++row) {
        cells.insert(cells.end(), grid->Row(row), grid->Row(row) + grid->GetFrames());
      }
    }
    return cells;
  };
  const std::vector<std::uint8_t> grids = gridCells();
  ASSERT_GT(e.CountNotes(), 0);
  MForm->MIInfoClick();
  const QString info = ui->boxes.back().text;
  const TPForm* roll = MForm->PianoRoll();

  QFile text(dir.absoluteFilePath(QStringLiteral("notwav.wav")));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("these are not samples");
  text.close();
  ui->boxes.clear();
  Open(text.fileName());
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].caption, Qs("エラー"));
  EXPECT_EQ(MForm->OdFileName(), wav);
  EXPECT_EQ(gridCells(), grids);
  EXPECT_EQ(MForm->PianoRoll(), roll);
  MForm->MIInfoClick();
  EXPECT_EQ(ui->boxes.back().text, info);

  Run(MForm->MIPWav);
  ExpectPlaying(SMediaPlayer::Device::Wave, wav);
  Run(MForm->MIStop);
  QFile::remove(mid);
  Run(MForm->MIConvert);
  EXPECT_EQ(MForm->SdFileName(), mid);
  EXPECT_EQ(ReadBytes(mid), ConverterBytes(wav));
  EXPECT_FALSE(QFile::exists(dir.absoluteFilePath(QStringLiteral("notwav.mid"))));
  EXPECT_EQ(gridCells(), grids);
}

TEST_F(AppTest, CancelledOpenDoesNothing) {
  MForm->MIOpenClick();  // no file to pick: the dialog is cancelled
  ASSERT_EQ(ui->dialogFolders.size(), 1);
  EXPECT_EQ(ui->dialogFolders[0], QDir::currentPath());
  // The WAV filter first, then one for every format read.
  EXPECT_EQ(ui->lastFilter,
            Qs("wavファイル (*.wav);;音声ファイル (*.wav *.wave *.aif *.aiff *.aifc *.flac *.ogg "
               "*.oga *.opus *.mp3)"));
  EXPECT_EQ(ui->lastSuffix, Qs("wav"));
  EXPECT_TRUE(ui->boxes.empty());
  EXPECT_TRUE(ui->cursors.empty());
  ExpectStates({false, false, false, false, false});
  EXPECT_TRUE(MForm->OdFileName().isEmpty());

  // A failed first Open leaves the start states too.
  Open(dir.absoluteFilePath(QStringLiteral("missing.wav")));
  ASSERT_EQ(ui->boxes.size(), 1u);
  ExpectStates({false, false, false, false, false});
}

TEST_F(AppTest, OpenMovesTheWorkingDirectoryAndHelpFollowsIt) {
  // No page in the working directory: the installed manual.
  MForm->N1Click();
  ASSERT_EQ(ui->urls.size(), 1u);
  EXPECT_TRUE(ui->urls[0].toLocalFile().endsWith(QStringLiteral("share/doc/zuroka/index.html")));

  ASSERT_TRUE(dir.mkdir(QStringLiteral("other")));
  QDir other(dir.absoluteFilePath(QStringLiteral("other")));
  QFile page(other.absoluteFilePath(QStringLiteral("index.html")));
  ASSERT_TRUE(page.open(QIODevice::WriteOnly));
  page.close();
  const QString wav = WriteWav(QStringLiteral("other/tune.wav"), ShortMelody());
  Open(wav);
  EXPECT_EQ(QDir::currentPath(), other.absolutePath());

  MForm->N1Click();
  ASSERT_EQ(ui->urls.size(), 2u);
  EXPECT_EQ(ui->urls[1], QUrl::fromLocalFile(page.fileName()));
  // The next Open starts in that folder.
  MForm->MIOpenClick();
  EXPECT_EQ(ui->dialogFolders.back(), other.absolutePath());

  // No viewer to show it: one box says so and names the page.
  ui->boxes.clear();
  ui->urlsOpen = false;
  MForm->N1Click();
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].caption, Qs("エラー"));
  EXPECT_TRUE(ui->boxes[0].text.startsWith(Qs("ヘルプを開くことができませんでした．\n") +
                                           page.fileName() + QStringLiteral("\n")))
      << ui->boxes[0].text.toStdString();
}

TEST_F(AppTest, FileInformationShowsTheReadersText) {
  MForm->MIInfoClick();  // before any file: what the empty reader reports
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].caption, Qs("ファイル情報"));
  EXPECT_TRUE(ui->boxes[0].text.startsWith(QStringLiteral("FileSize : ")));

  Open(WriteWav(QStringLiteral("tune.wav"), ShortMelody()));
  ui->boxes.clear();
  MForm->MIInfoClick();
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_TRUE(ui->boxes[0].text.contains(QStringLiteral("Channel : 1\n")));
  EXPECT_TRUE(ui->boxes[0].text.contains(QStringLiteral("BitsPerSample : 16\n")));
  EXPECT_TRUE(ui->boxes[0].text.contains(QStringLiteral("SamplesPerSec : 44100\n")));
}

TEST_F(AppTest, ToolbarButtonsRunTheirCommands) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  ui->filesToPick.push_back(wav);
  QTest::mouseClick(MForm->TBOpen, Qt::LeftButton);
  EXPECT_EQ(MForm->OdFileName(), wav);
  ExpectStates({true, true, true, false, true});

  // A disabled button does nothing.
  QTest::mouseClick(MForm->TBStop, Qt::LeftButton);
  EXPECT_EQ(ui->boxes.size(), 1u);  // only the conversion message
  EXPECT_FALSE(MForm->MIStop->isEnabled());

  QTest::mouseClick(MForm->TBConvert, Qt::LeftButton);
  EXPECT_EQ(ui->boxes.size(), 2u);
  QTest::mouseClick(MForm->TBRemake, Qt::LeftButton);
  ASSERT_EQ(ui->boxes.size(), 3u);
  EXPECT_EQ(ui->boxes[2].caption, Qs("完了"));
  EXPECT_TRUE(MForm->MIStop->isEnabled());
  QTest::mouseClick(MForm->TBStop, Qt::LeftButton);
  EXPECT_FALSE(MForm->MIStop->isEnabled());
}

TEST_F(AppTest, EngineMessagesAndOptionsGoThroughTheWindow) {
  MForm->ShowMessage("Sequence[40][0]", "");
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].caption, QStringLiteral("Zuroka"));
  EXPECT_EQ(ui->boxes[0].text, QStringLiteral("Sequence[40][0]"));

  // The border is read live, without the dialog's Close.
  OForm->UDBorder->setValue(7);
  EXPECT_EQ(MForm->GetBorder(), 7);
}

TEST_F(AppTest, FileGivenAtStartOrDroppedOpensLikeOpen) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  MForm->OpenWavFileLater(QStringLiteral("tune.wav"));  // relative, as typed
  EXPECT_TRUE(ui->boxes.empty());                       // not before the event loop runs
  QCoreApplication::processEvents();
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].text, Qs("ファイル変換が終了しました．"));
  EXPECT_EQ(MForm->OdFileName(), wav);
  ExpectStates({true, true, true, false, true});

  QMimeData text;
  text.setUrls({QUrl::fromLocalFile(dir.absoluteFilePath(QStringLiteral("notes.txt")))});
  QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(MForm, &refused);
  EXPECT_FALSE(refused.isAccepted());

  const QString other = WriteWav(QStringLiteral("Other.WAV"), ShortMelody());
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(other)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(MForm, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(MForm, &drop);
  QCoreApplication::processEvents();
  EXPECT_EQ(MForm->OdFileName(), other);
  EXPECT_TRUE(QFile::exists(dir.absoluteFilePath(QStringLiteral("Other.mid"))));
  EXPECT_EQ(ui->boxes.size(), 2u);
}

TEST_F(AppTest, ArrangeTilesChildWindowsAndListsThem) {
  MForm->MSIVertClick();  // nothing to tile: nothing happens
  auto* a = MForm->MdiArea()->addSubWindow(new QWidget);
  auto* b = MForm->MdiArea()->addSubWindow(new QWidget);
  a->setWindowTitle(QStringLiteral("A"));
  b->setWindowTitle(QStringLiteral("B"));
  a->show();
  b->show();
  const QSize area = MForm->MdiArea()->viewport()->size();

  MForm->MSIVertClick();
  EXPECT_EQ(a->geometry(), QRect(0, 0, area.width() / 2, area.height()));
  EXPECT_EQ(b->geometry().left(), area.width() / 2);
  MForm->MSIHorzClick();
  EXPECT_EQ(a->geometry(), QRect(0, 0, area.width(), area.height() / 2));
  EXPECT_EQ(b->geometry().top(), area.height() / 2);

  emit MForm->MMWindow->aboutToShow();
  QStringList entries;
  for (QAction* action : MForm->MMWindow->actions()) {
    if (!action->isSeparator() && action->menu() == nullptr) entries << action->text();
  }
  EXPECT_EQ(entries, (QStringList{QStringLiteral("&1 A"), QStringLiteral("&2 B")}));
}
