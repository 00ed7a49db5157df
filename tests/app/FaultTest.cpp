// Faults from outside the window while it works: a MIDI file that cannot be written
// (folder read-only or gone, disk full), a MIDI file held open by players, a WAV that
// disappears or changes between Open and Play, a second Open while a file plays, and
// the end of the program with a file playing.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "AppFixture.h"
#include "Main.h"
#include "SErrorText.h"
#include "SMediaPlayer.h"
#include "UpDownEdit.h"

class Faults : public AppTest {
 protected:
  // tune.wav in a folder of its own, opened and converted (Remake is on), with a new
  // tempo set so that any rewrite would change the MIDI file.
  void SetUp() override {
    AppTest::SetUp();
    ASSERT_TRUE(dir.mkdir(QStringLiteral("work")));
    folder = QDir(dir.absoluteFilePath(QStringLiteral("work")));
    wav = WriteWav(QStringLiteral("work/tune.wav"), ShortMelody());
    mid = folder.absoluteFilePath(QStringLiteral("tune.mid"));
    Open(wav);
    Run(MForm->MIConvert);
    old = ReadBytes(mid);
    ASSERT_FALSE(old.empty());
    MForm->UDTempo->setValue(97);
    ui->boxes.clear();
  }
  void ExpectWriteError(const Box& box, int cause) const {
    EXPECT_EQ(box.caption, Qs("エラー"));
    EXPECT_EQ(box.text, Qs("MIDIファイルを書き込むことができませんでした．\n") + mid +
                            QStringLiteral("\n") + QString::fromStdString(SErrorText(cause)));
  }
  // Convert, then Remake, each failing to write: the old file stays and nothing plays.
  void ExpectConvertAndRemakeFail(int cause) {
    Run(MForm->MIConvert);
    ASSERT_EQ(ui->boxes.size(), 2u);
    EXPECT_EQ(ui->boxes[0].caption, QStringLiteral("Message"));
    ExpectWriteError(ui->boxes[1], cause);
    Run(MForm->MIRemake);
    ASSERT_EQ(ui->boxes.size(), 3u);
    ExpectWriteError(ui->boxes[2], cause);
    EXPECT_FALSE(MForm->MIStop->isEnabled());
    ExpectButtonsFollowActions();
  }
  // Everything in the folder, temporary files included.
  QStringList Entries() const {
    return folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                            QDir::Name);
  }
  void ExitWhilePlaying(QAction* play) {
    Run(play);
    EXPECT_GT(Render(0.3), 0.001f);
    const std::shared_ptr<SAudioOutput> output = sink;
    Run(MForm->MIExit);
    DestroyForms();
    EXPECT_EQ(MForm, nullptr);
    // Nothing of the player is left on the output: the released notes fade within
    // half a second (a player left running would go on with the melody).
    const auto peak = [&output](double seconds) {
      std::vector<float> left(1024), right(1024);
      float p = 0;
      for (long done = 0; done < seconds * output->GetSampleRate(); done += 1024) {
        output->Render(left.data(), right.data(), 1024);
        for (int i = 0; i < 1024; ++i) p = std::max({p, std::abs(left[i]), std::abs(right[i])});
      }
      return p;
    };
    peak(0.6);
    EXPECT_LT(peak(1.5), 0.001f);
  }

  QDir folder;
  QString wav;
  QString mid;
  std::vector<std::uint8_t> old;
  const QStringList kBoth{QStringLiteral("tune.mid"), QStringLiteral("tune.wav")};
};

TEST_F(Faults, ReadOnlyFolderKeepsTheOldFile) {
  const QFile::Permissions rw = QFile::permissions(folder.path());
  ASSERT_TRUE(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner));
  QFile probe(folder.absoluteFilePath(QStringLiteral("probe")));
  if (probe.open(QIODevice::WriteOnly)) {
    probe.remove();
    QFile::setPermissions(folder.path(), rw);
    GTEST_SKIP() << "folder permissions do not bind this user (root)";
  }
  ExpectConvertAndRemakeFail(EACCES);
  QFile::setPermissions(folder.path(), rw);
  EXPECT_EQ(ReadBytes(mid), old);
  EXPECT_EQ(Entries(), kBoth);
}

TEST_F(Faults, FolderRemovedMeanwhileIsReportedAndNotMadeAgain) {
  ASSERT_TRUE(folder.removeRecursively());  // the reader holds the samples already
  ExpectConvertAndRemakeFail(ENOENT);
  EXPECT_FALSE(folder.exists());
  EXPECT_TRUE(dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

// The window itself runs in a child whose file size limit stands for a disk that fills
// up in the middle of the write; the child sends back the boxes it was shown.
TEST_F(Faults, FullDiskKeepsTheOldFile) {
  int channel[2];
  ASSERT_EQ(::pipe(channel), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(channel[0]);
    // Nothing is painted here: the parent's painting threads were not forked with it.
    MForm->hide();
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    MForm->MIConvertClick();
    MForm->MIRemakeClick();
    QByteArray report;
    for (const Box& box : ui->boxes)
      report += box.caption.toUtf8() + '\x1f' + box.text.toUtf8() + '\x1e';
    const bool sent = ::write(channel[1], report.constData(), report.size()) == report.size();
    ::_exit(sent && !MForm->MIStop->isEnabled() ? 0 : 1);
  }
  ::close(channel[1]);
  QByteArray report;
  char block[4096];
  for (ssize_t n; (n = ::read(channel[0], block, sizeof block)) > 0;) report.append(block, n);
  ::close(channel[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  for (const QByteArray& record : report.split('\x1e')) {
    if (record.isEmpty()) continue;
    const QList<QByteArray> parts = record.split('\x1f');
    ASSERT_EQ(parts.size(), 2);
    ui->boxes.push_back({QString::fromUtf8(parts[1]), QString::fromUtf8(parts[0]),
                         QMessageBox::Critical, Qt::ArrowCursor});
  }
  ASSERT_EQ(ui->boxes.size(), 3u);
  EXPECT_EQ(ui->boxes[0].caption, QStringLiteral("Message"));
  ExpectWriteError(ui->boxes[1], EFBIG);
  ExpectWriteError(ui->boxes[2], EFBIG);
  EXPECT_EQ(ReadBytes(mid), old);
  EXPECT_EQ(Entries(), kBoth);
}

TEST_F(Faults, RemakeReplacesAFileHeldByThePlayerAndAnotherReader) {
  const std::vector<std::uint8_t> expected = ConverterBytes(wav, 60, 70, 3, 97);
  ASSERT_NE(expected, old);
  Run(MForm->MIPMidi);
  Render(0.2);
  // Another program reading the file, with the shared lock a player takes.
  const int other = ::open(Local(mid).c_str(), O_RDONLY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_SH | LOCK_NB), 0);

  Run(MForm->MIRemake);
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].caption, Qs("完了"));
  EXPECT_EQ(ReadBytes(mid), expected);
  ExpectPlaying(SMediaPlayer::Device::Sequencer, mid);
  EXPECT_GT(Render(0.5), 0.001f);
  std::vector<std::uint8_t> held(old.size() + 1);
  EXPECT_EQ(::pread(other, held.data(), held.size(), 0), static_cast<ssize_t>(old.size()));
  held.pop_back();
  EXPECT_EQ(held, old);  // the other reader keeps the file it opened
  ::close(other);
  EXPECT_EQ(Entries(), kBoth);
}

TEST_F(Faults, WavRemovedBeforePlayGivesOneBoxAndKeepsTheCommands) {
  ASSERT_TRUE(QFile::remove(wav));
  Run(MForm->MIPWav);
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(ui->boxes[0].text.contains(wav)) << ui->boxes[0].text.toStdString();
  EXPECT_FALSE(MForm->Player()->IsOpen());
  EXPECT_FALSE(MForm->MIStop->isEnabled());
  for (QAction* a :
       {MForm->MIOpen, MForm->MIConvert, MForm->MIPWav, MForm->MIPMidi, MForm->MIRemake}) {
    EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
  }
  ExpectButtonsFollowActions();
  // The MIDI file is still there to play.
  Run(MForm->MIPMidi);
  ExpectPlaying(SMediaPlayer::Device::Sequencer, mid);
  EXPECT_EQ(ui->boxes.size(), 1u);
}

TEST_F(Faults, WavChangedBeforePlayIsPlayedAsItNowIs) {
  // Silent when opened, a melody when played: only the file as it now is sounds.
  const QString quiet =
      WriteSamples(QStringLiteral("work/quiet.wav"), std::vector<std::int16_t>(44100, 0));
  Open(quiet);
  ui->boxes.clear();
  WriteWav(QStringLiteral("work/quiet.wav"), ShortMelody());
  Run(MForm->MIPWav);
  ExpectPlaying(SMediaPlayer::Device::Wave, quiet);
  EXPECT_GT(Render(0.5), 0.01f);
  EXPECT_TRUE(ui->boxes.empty());
  EXPECT_TRUE(MForm->MIRemake->isEnabled());  // as Open left it
  ExpectButtonsFollowActions();
}

TEST_F(Faults, SecondOpenWhilePlayingRefusesTheHeldFileAndTakesAnother) {
  Run(MForm->MIPWav);
  Render(0.1);
  const int notes = MForm->Engine().CountNotes();
  const TPForm* roll = MForm->PianoRoll();
  ui->cursors.clear();

  Open(wav);  // the player holds it locked
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].caption, Qs("エラー"));
  EXPECT_EQ(ui->boxes[0].text, Qs("ファイルを開くことができませんでした．\n"
                                  "他のアプリケーションで使用しているか確認してください．"));
  EXPECT_EQ(ui->cursors.back(), Qt::ArrowCursor);
  EXPECT_EQ(MForm->Engine().CountNotes(), notes);
  EXPECT_EQ(MForm->PianoRoll(), roll);
  EXPECT_TRUE(MForm->MIRemake->isEnabled());
  ExpectPlaying(SMediaPlayer::Device::Wave, wav);
  EXPECT_GT(Render(0.2), 0.01f);

  // Another file opens and converts while the first goes on playing.
  const QString other = WriteWav(QStringLiteral("work/other.wav"), {{69, 1.0}});
  ui->boxes.clear();
  Open(other);
  ASSERT_EQ(ui->boxes.size(), 1u);
  EXPECT_EQ(ui->boxes[0].caption, QStringLiteral("Message"));
  EXPECT_FALSE(ReadBytes(folder.absoluteFilePath(QStringLiteral("other.mid"))).empty());
  ExpectPlaying(SMediaPlayer::Device::Wave, wav);
  Run(MForm->MIPWav);
  ExpectPlaying(SMediaPlayer::Device::Wave, other);
  ExpectButtonsFollowActions();
}

TEST_F(Faults, ExitWhilePlayingWavEndsCleanly) { ExitWhilePlaying(MForm->MIPWav); }

TEST_F(Faults, ExitWhilePlayingMidiEndsCleanly) { ExitWhilePlaying(MForm->MIPMidi); }
