#include "AppFixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "Converter.h"
#include "Main.h"
#include "SMediaPlayer.h"

void FakeUi::MessageBox(QWidget*, const QString& text, const QString& caption,
                        QMessageBox::Icon icon) {
  const Box box{text, caption, icon, MForm ? MForm->cursor().shape() : Qt::ArrowCursor};
  boxes.push_back(box);
  if (onBox) onBox(box);
}

QString FakeUi::GetOpenFileName(QWidget*, const QString& folder, const QString& filter,
                                const QString& defaultSuffix) {
  dialogFolders << folder;
  lastFilter = filter;
  lastSuffix = defaultSuffix;
  if (filesToPick.empty()) return QString();
  QString file = filesToPick.front();
  filesToPick.pop_front();
  return file;
}

int FakeUi::ExecDialog(QDialog* dialog) {
  dialogs.push_back(dialog);
  return onDialog ? onDialog(dialog) : 0;
}

void FakeUi::SetCursor(QWidget* window, Qt::CursorShape shape) {
  cursors.push_back(shape);
  UiSeam::SetCursor(window, shape);
}

bool FakeUi::OpenUrl(const QUrl& url) {
  urls.push_back(url);
  return urlsOpen;
}

void AppTest::SetUp() {
  ASSERT_TRUE(scratch.isValid());
  dir = QDir(scratch.path());
  oldCurrent = QDir::currentPath();
  QDir::setCurrent(scratch.path());
  auto fake = std::make_unique<FakeUi>();
  ui = fake.get();
  InstallUi(std::move(fake));
  forms = std::make_unique<TForms>();
  sink = std::make_shared<SAudioOutput>(SAudioOutput::Mode::Sink);
  MForm->SetAudioOutput(sink);
  MForm->show();
  // The maximised size arrives through the event loop; a user meets the window after it.
  QCoreApplication::processEvents();
}

void AppTest::TearDown() {
  DestroyForms();
  InstallUi(nullptr);
  ui = nullptr;
  QDir::setCurrent(oldCurrent);
}

QString AppTest::WriteWav(const QString& name, const std::vector<zuroka::MelodyNote>& notes) {
  return WriteSamples(name, zuroka::SynthesizeMelody(notes));
}

QString AppTest::WriteSamples(const QString& name, const std::vector<std::int16_t>& samples) {
  QString path = dir.absoluteFilePath(name);
  EXPECT_TRUE(zuroka::WriteWav(QFile::encodeName(path).toStdString(), samples));
  return path;
}

void AppTest::Open(const QString& file) {
  ui->filesToPick.push_back(file);
  MForm->MIOpenClick();
}

std::vector<std::uint8_t> AppTest::ConverterBytes(const QString& wav, int cp, int db, int border,
                                                  std::optional<int> tempo,
                                                  const std::vector<SGesture>& edits) {
  zuroka::ConvertOptions options;
  options.cpPercent = cp;
  options.dbPercent = db;
  options.border = border;
  options.tempo = tempo;
  options.edits = edits;
  const QString out = dir.absoluteFilePath(QStringLiteral("reference.mid"));
  options.output = QFile::encodeName(out).toStdString();
  const zuroka::ConvertResult result =
      zuroka::ConvertFile(QFile::encodeName(wav).toStdString(), options, {});
  EXPECT_TRUE(result.ok);
  std::vector<std::uint8_t> bytes = ReadBytes(out);
  QFile::remove(out);
  return bytes;
}

void AppTest::ExpectButtonsFollowActions() {
  EXPECT_EQ(MForm->TBOpen->isEnabled(), MForm->MIOpen->isEnabled());
  EXPECT_EQ(MForm->TBConvert->isEnabled(), MForm->MIConvert->isEnabled());
  EXPECT_EQ(MForm->TBPWav->isEnabled(), MForm->MIPWav->isEnabled());
  EXPECT_EQ(MForm->TBPMidi->isEnabled(), MForm->MIPMidi->isEnabled());
  EXPECT_EQ(MForm->TBStop->isEnabled(), MForm->MIStop->isEnabled());
  EXPECT_EQ(MForm->TBRemake->isEnabled(), MForm->MIRemake->isEnabled());
}

void AppTest::DestroyForms() {
  forms.reset();
  sink.reset();
}

float AppTest::Render(double seconds) {
  constexpr int kBlock = 1024;
  std::vector<float> left(kBlock), right(kBlock);
  float peak = 0;
  const long total = static_cast<long>(seconds * sink->GetSampleRate());
  for (long done = 0; done < total; done += kBlock) {
    sink->Render(left.data(), right.data(), kBlock);
    for (int i = 0; i < kBlock; ++i) peak = std::max({peak, std::abs(left[i]), std::abs(right[i])});
    if (!MForm->Player() || !MForm->Player()->IsPlaying()) break;
  }
  return peak;
}

void AppTest::ProcessDeferredDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::vector<std::uint8_t> ReadBytes(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QByteArray data = f.readAll();
  return std::vector<std::uint8_t>(data.begin(), data.end());
}

int TempoMicros(const std::vector<std::uint8_t>& midi) {
  for (std::size_t i = 0; i + 5 < midi.size(); ++i) {
    if (midi[i] == 0xFF && midi[i + 1] == 0x51 && midi[i + 2] == 0x03) {
      return (midi[i + 3] << 16) | (midi[i + 4] << 8) | midi[i + 5];
    }
  }
  return -1;
}

int DarkPixels(QWidget* widget) {
  const QImage image = widget->grab().toImage();
  int dark = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (QColor(image.pixel(x, y)).lightness() < 128) ++dark;
    }
  }
  return dark;
}

void SaveScreenshot(QWidget* widget, const QString& name) {
  const QString folder = qEnvironmentVariable("ZUROKA_SCREENSHOT_DIR");
  if (folder.isEmpty()) return;
  QDir().mkpath(folder);
  EXPECT_TRUE(widget->grab().save(QDir(folder).filePath(name)));
}

std::vector<zuroka::MelodyNote> ShortMelody() {
  return {{60, 0.5}, {0, 0.1}, {64, 0.5}, {0, 0.1}, {67, 0.5}, {0, 0.1}, {72, 1.0}, {0, 0.2}};
}

void AppTest::Run(QAction* command) {
  ASSERT_TRUE(command->isEnabled()) << command->text().toStdString();
  command->trigger();
}

void AppTest::ExpectPlaying(SMediaPlayer::Device device, const QString& file) {
  ASSERT_NE(MForm->Player(), nullptr);
  EXPECT_EQ(MForm->Player()->GetDevice(), device);
  EXPECT_EQ(MForm->Player()->GetFileName(), Local(file));
  EXPECT_TRUE(MForm->Player()->IsPlaying());
  EXPECT_TRUE(MForm->MIStop->isEnabled());
  ExpectButtonsFollowActions();
}

std::string Local(const QString& file) { return QFile::encodeName(file).toStdString(); }
