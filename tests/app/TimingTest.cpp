// The options menu's recording timing: off at start, shown as checked when on, and
// when on the conversion and Remake put every note at its time in the recording, the
// tempo control setting only the bar lines; an edit then moves no other note.
#include <QFile>
#include <QImage>
#include <QMenu>
#include <cmath>

#include "AppFixture.h"
#include "Converter.h"
#include "Main.h"
#include "MidiDump.h"
#include "SNoteEdit.h"
#include "UpDownEdit.h"

namespace {

constexpr double kFrameSeconds = 1024 / 44100.0;
constexpr double kAllowedError = 0.001;  // s

// A note event of the grids, in the order a file holds them: frame by frame, rows in order.
struct GridEvent {
  int frame;
  bool on;
  int key;
};
std::vector<GridEvent> GridEvents(const SEngine& e) {
  std::vector<GridEvent> events;
  for (int f = 0; f < e.marks.GetFrames(); ++f) {
    for (int r = 0; r <= e.marks.GetMaxRow(); ++r) {
      const int m = e.marks.Row(r)[f];
      if (m == 9 || m == 8) events.push_back({f, m == 9, e.pitches.Row(r)[f]});
    }
  }
  return events;
}

// The file holds the grids' events, each within 1 ms of its frame's real time.
void ExpectRecordingTiming(const std::vector<std::uint8_t>& file, const SEngine& e) {
  const std::vector<TimedNote> got = NoteTimes(file);
  const std::vector<GridEvent> want = GridEvents(e);
  ASSERT_EQ(got.size(), want.size());
  ASSERT_FALSE(got.empty());
  for (std::size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(got[k].on, want[k].on) << k;
    EXPECT_EQ(got[k].key, want[k].key) << k;
    EXPECT_NEAR(got[k].seconds, want[k].frame * kFrameSeconds, kAllowedError) << k;
  }
}

// The events of a file that are not of `key`.
std::vector<TimedNote> Without(const std::vector<TimedNote>& notes, int key) {
  std::vector<TimedNote> out;
  for (const TimedNote& n : notes) {
    if (n.key != key) out.push_back(n);
  }
  return out;
}

// The largest shift of any event between two files with the same events.
double LargestShift(const std::vector<TimedNote>& a, const std::vector<TimedNote>& b) {
  EXPECT_EQ(a.size(), b.size());
  double shift = 0;
  for (std::size_t k = 0; k < std::min(a.size(), b.size()); ++k) {
    EXPECT_EQ(a[k].key, b[k].key) << k;
    shift = std::max(shift, std::fabs(a[k].seconds - b[k].seconds));
  }
  return shift;
}

}  // namespace

class Timing : public AppTest {
 protected:
  // What zuroka-convert --timing exact [--tempo T] writes for the file.
  std::vector<std::uint8_t> ExactBytes(const QString& wav, std::optional<int> tempo = {}) {
    zuroka::ConvertOptions options;
    options.timing = SStandardMidi::Timing::Recording;
    options.tempo = tempo;
    const QString out = dir.absoluteFilePath(QStringLiteral("exact-reference.mid"));
    options.output = Local(out);
    EXPECT_TRUE(zuroka::ConvertFile(Local(wav), options, {}).ok);
    std::vector<std::uint8_t> bytes = ReadBytes(out);
    QFile::remove(out);
    return bytes;
  }
};

TEST_F(Timing, TheItemStartsOffAndShowsItsState) {
  QAction* item = MForm->MIRecordingTiming;
  EXPECT_EQ(item->text(), Qs("録音と同じタイミングで書き出す(&T)"));
  EXPECT_EQ(MForm->MMOption->actions(), (QList<QAction*>{MForm->MIParam, MForm->MIInfo, item}));
  EXPECT_TRUE(item->isEnabled());
  EXPECT_TRUE(item->isCheckable());
  EXPECT_FALSE(item->isChecked());
  EXPECT_TRUE(item->shortcut().isEmpty());

  // The menu draws a check mark when it is on, and none once it is off again.
  MForm->MMOption->popup(MForm->mapToGlobal(QPoint(0, 0)));
  const QImage off = MForm->MMOption->grab().toImage();
  Run(item);
  EXPECT_TRUE(item->isChecked());
  const QImage on = MForm->MMOption->grab().toImage();
  SaveScreenshot(MForm->MMOption, QStringLiteral("options-menu-recording-timing.png"));
  Run(item);
  EXPECT_FALSE(item->isChecked());
  EXPECT_NE(on, off);
  EXPECT_EQ(MForm->MMOption->grab().toImage(), off);
  MForm->MMOption->hide();
}

TEST_F(Timing, TheItemChangesWhatConvertAndRemakeWrite) {
  const QString wav = WriteWav(QStringLiteral("tune.wav"), ShortMelody());
  const QString mid = dir.absoluteFilePath(QStringLiteral("tune.mid"));
  Open(wav);
  const std::vector<std::uint8_t> plain = ReadBytes(mid);
  EXPECT_EQ(plain, ConverterBytes(wav));  // off: the default file

  Run(MForm->MIRecordingTiming);
  Run(MForm->MIConvert);
  const std::vector<std::uint8_t> converted = ReadBytes(mid);
  EXPECT_NE(converted, plain);
  EXPECT_EQ(converted, ExactBytes(wav));
  // The tempo control's value, the estimate, now sets only the bar lines.
  EXPECT_EQ(TempoMicros(converted), 60000000 / MForm->UDTempo->value());
  EXPECT_EQ(TempoMicros(converted), TempoMicros(plain));
  ExpectRecordingTiming(converted, MForm->Engine());

  // Another tempo: the Set Tempo event changes, the notes' times do not.
  MForm->UDTempo->setValue(97);
  Run(MForm->MIRemake);
  const std::vector<std::uint8_t> remade = ReadBytes(mid);
  EXPECT_EQ(remade, ExactBytes(wav, 97));
  EXPECT_EQ(TempoMicros(remade), 60000000 / 97);
  ExpectRecordingTiming(remade, MForm->Engine());

  // Off again: Remake writes the default file at the control's tempo.
  Run(MForm->MIRecordingTiming);
  Run(MForm->MIRemake);
  EXPECT_EQ(ReadBytes(mid), ConverterBytes(wav, 60, 70, 3, 97));
}

TEST_F(Timing, AnEditMovesNoOtherNoteInTheRecordingTiming) {
  // The tune, then silence where the new notes go.
  std::vector<zuroka::MelodyNote> tune = ShortMelody();
  tune.push_back({0, 2.5});
  const QString wav = WriteWav(QStringLiteral("tune.wav"), tune);
  const QString mid = dir.absoluteFilePath(QStringLiteral("tune.mid"));
  Open(wav);
  const std::vector<TimedNote> plainBefore = NoteTimes(ReadBytes(mid));
  Run(MForm->MIRecordingTiming);
  Run(MForm->MIConvert);
  SEngine& e = MForm->Engine();
  const std::vector<TimedNote> before = NoteTimes(ReadBytes(mid));
  constexpr int kAdded = 50;
  ASSERT_EQ(Without(before, kAdded).size(), before.size());
  const int beatFrames = e.BeatFrames();

  // Short notes of a pitch the tune does not have, drawn as the piano roll draws them:
  // enough of them to become the most frequent length.
  SNoteEdit editor(e.marks, e.pitches);
  ASSERT_LT(GridEvents(e).back().frame, 135);
  for (int start : {135, 150, 165, 180, 195}) {
    editor.Apply({SButton::Left, start, start + 6, kAdded, kAdded});
  }
  Run(MForm->MIRemake);
  ASSERT_NE(e.BeatFrames(), beatFrames);  // the edit changed the most frequent length
  const std::vector<std::uint8_t> remade = ReadBytes(mid);
  ExpectRecordingTiming(remade, e);
  const std::vector<TimedNote> after = NoteTimes(remade);
  EXPECT_EQ(after.size(), before.size() + 10);
  EXPECT_EQ(LargestShift(Without(after, kAdded), before), 0.0);

  // In the default timing the same edit changes the speed of the whole file.
  Run(MForm->MIRecordingTiming);
  Run(MForm->MIRemake);
  const std::vector<TimedNote> drifted = Without(NoteTimes(ReadBytes(mid)), kAdded);
  EXPECT_GT(LargestShift(drifted, plainBefore), 0.1);
}
