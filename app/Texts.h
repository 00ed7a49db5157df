#pragma once

#include <QString>

// The interface's fixed texts, in one place. Full-width punctuation and ideographic
// spaces are part of the texts.
namespace text {

// Main window.
inline const QString kMainCaption = QStringLiteral("Zuroka　Ver " ZUROKA_VERSION);
inline const QString kFileMenu = QStringLiteral("ファイル(&F)");
inline const QString kOpen = QStringLiteral("開く(&O)");
inline const QString kConvert = QStringLiteral("MIDIファイルへ変換(&C)");
inline const QString kExit = QStringLiteral("終了(&X)");
inline const QString kPlayMenu = QStringLiteral("演奏データ(&P)");
inline const QString kPlayWav = QStringLiteral("Waveデータを演奏する(&P)");
inline const QString kPlayMidi = QStringLiteral("MIDIデータを演奏する(&M)");
inline const QString kStop = QStringLiteral("演奏をとめる(&S)");
inline const QString kRemake = QStringLiteral("MIDIデータを作り直す(&R)");
inline const QString kOptionMenu = QStringLiteral("オプション(&O)");
inline const QString kParam = QStringLiteral("パラメータ変更(&P)");
inline const QString kInfo = QStringLiteral("ファイル情報表示(&I)");
inline const QString kRecordingTiming = QStringLiteral("録音と同じタイミングで書き出す(&T)");
inline const QString kWindowMenu = QStringLiteral("ウィンドウ(&W)");
inline const QString kTile = QStringLiteral("整列");
inline const QString kTileVertical = QStringLiteral("縦方向");
inline const QString kTileHorizontal = QStringLiteral("横方向");
inline const QString kHelpMenu = QStringLiteral("ヘルプ(&H)");
inline const QString kHelp = QStringLiteral("Zurokaヘルプ(&H)");
inline const QString kAbout = QStringLiteral("Zurokaについて(&A)");

inline const QString kHintOpen = QStringLiteral("waveファイルを開く");
inline const QString kHintConvert = QStringLiteral("MIDIファイルに変換する");
inline const QString kHintPlayWav = QStringLiteral("waveファイルを再生する");
inline const QString kHintPlayMidi = QStringLiteral("MIDIファイルを再生する");
inline const QString kHintStop = QStringLiteral("演奏データを停止する");
inline const QString kHintRemake = QStringLiteral("MIDIファイルを作り直す");
inline const QString kHintTempo = QStringLiteral("テンポ：曲の速さを変更できます．");

inline const QString kLblIdle = QStringLiteral("　処理中です　");
inline const QString kLblWorking = QStringLiteral("　　処理中…　　");
inline const QString kLblDone = QStringLiteral("　　　完了　　　");
inline const QString kLblTempo = QStringLiteral("　テンポ　");

inline const QString kPanelSection = QStringLiteral("区間");
inline const QString kPanelPosition = QStringLiteral("区間内の位置");
inline const QString kPanelFrequency = QStringLiteral("周波数(Hz)");
inline const QString kPanelMidi = QStringLiteral("MIDI");
inline const QString kPanelVolume = QStringLiteral("音量");
inline const QString kPanelOverallVolume = QStringLiteral("全体の音量");
inline const QString kPanelCepstrum = QStringLiteral("ケプストラム");

inline const QString kWavFilter = QStringLiteral("wavファイル (*.wav)");
inline const QString kWavSuffix = QStringLiteral("wav");
// %1: the file-name patterns of every format read.
inline const QString kAudioFilter = QStringLiteral("音声ファイル (%1)");
inline const QString kHelpPage = QStringLiteral("index.html");

// Message boxes.
inline const QString kConvertedText = QStringLiteral("ファイル変換が終了しました．");
inline const QString kConvertedCaption = QStringLiteral("Message");
inline const QString kOpenErrorText = QStringLiteral(
    "ファイルを開くことができませんでした．\n他のアプリケーションで使用しているか確認してください"
    "．");
// %1: the formats read.
inline const QString kMpegFourErrorText =
    QStringLiteral("AAC・M4A形式のファイルは読み込めません．\n読み込める形式 : %1");
inline const QString kErrorCaption = QStringLiteral("エラー");
// The source format in the file information. %1 container, %2 sample format, %3 rate,
// %4 channels, %5 seconds.
inline const QString kSourceFormatText =
    QStringLiteral("形式 : %1, %2, %3 Hz, %4チャンネル, %5秒\n");
inline const QString kBitsPcm = QStringLiteral("%1ビット PCM");
inline const QString kBitsFloat = QStringLiteral("%1ビット 浮動小数点");
inline const QString kRemadeText =
    QStringLiteral("演奏データを作成しました．\nデータを再生します．");
inline const QString kRemadeCaption = QStringLiteral("完了");
inline const QString kInfoCaption = QStringLiteral("ファイル情報");
// %1: the MIDI file, %2: the system's reason.
inline const QString kWriteErrorText =
    QStringLiteral("MIDIファイルを書き込むことができませんでした．\n%1\n%2");
// A file that cannot be played. %1: the file, %2: one of the causes below.
inline const QString kPlayErrorText =
    QStringLiteral("ファイルを再生することができませんでした．\n%1\n%2");
inline const QString kPlayMissing = QStringLiteral("ファイルが見つかりません．");
inline const QString kPlayFolder = QStringLiteral("ファイルではなくフォルダです．");
inline const QString kPlayNotAFile = QStringLiteral("通常のファイルではありません．");
inline const QString kPlayNoAccess = QStringLiteral("ファイルを読む権限がありません．");
inline const QString kPlayEmpty = QStringLiteral("ファイルが空です．");
inline const QString kPlayBadFormat =
    QStringLiteral("再生できない形式のファイルか，ファイルが壊れています．");
inline const QString kPlayNoDevice = QStringLiteral(
    "音を出す装置が見つかりません．\nサウンドカードとサウンドサーバ（pipewire-pulse または "
    "pulseaudio）が動いているか確認してください．");
// %1: the Debian package that brings one.
inline const QString kPlayNoSoundFont = QStringLiteral(
    "MIDIデータを鳴らす音色（General MIDI の SoundFont）が見つかりません．\nパッケージ %1 "
    "をインストールしてください．");
// %1: the help page.
inline const QString kHelpErrorText = QStringLiteral(
    "ヘルプを開くことができませんでした．\n%1\nページを表示するブラウザと xdg-open（パッケージ "
    "xdg-utils）がインストールされているか確認してください．");
inline const QString kNoMemoryText = QStringLiteral(
    "メモリが足りないため変換できませんでした．\n他のアプリケーションを終了してください．");

// Options dialog.
inline const QString kOptionCaption = QStringLiteral("オプション");
inline const QString kTrackingGroup = QStringLiteral("旋律追跡");
inline const QString kOfMaxCepstrum = QStringLiteral("最大ケプストラムの");
inline const QString kPercent = QStringLiteral("％");
inline const QString kOfMaxDB = QStringLiteral("最大dBの");
inline const QString kAreCandidates = QStringLiteral("を旋律候補とする");
inline const QString kLengthGroup = QStringLiteral("音長の閾値");
inline const QString kLength = QStringLiteral("長さ");
inline const QString kOrShorter = QStringLiteral("以下のシーケンスは");
inline const QString kRejected = QStringLiteral("棄却する");
inline const QString kWindowGroup = QStringLiteral("窓の種類");
inline const QString kHanning = QStringLiteral("Hanning");
inline const QString kHamming = QStringLiteral("Hamming");
inline const QString kBlackman = QStringLiteral("Blackman");
inline const QString kGauss = QStringLiteral("Gauss");
inline const QString kRectangular = QStringLiteral("方形");
inline const QString kClose = QStringLiteral("Close");

// About box.
inline const QString kAboutCaption = QStringLiteral("Zurokaについて");
inline const QString kMaker = QStringLiteral("Zuroka project");
inline const QString kAboutClose = QStringLiteral("とじる");

}  // namespace text
