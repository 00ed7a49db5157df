#include "SMediaPlayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "SAudioOutput.h"
#include "SErrorText.h"
#include "SFileHandle.h"
#include "SMidiSource.h"
#include "SWavSource.h"

namespace {

std::string OpenErrorCause(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return "the file does not exist";
    case EACCES:
    case EPERM:
      return "permission to read the file is denied";
    case EISDIR:
      return "it is a folder, not a file";
    default:
      return SErrorText(err);
  }
}

// Reads the whole file from its start; false with errno set on a read error.
bool ReadAll(int fd, std::vector<std::uint8_t>& out) {
  std::uint8_t block[65536];
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, block, sizeof block, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    out.insert(out.end(), block, block + n);
    at += n;
  }
}

}  // namespace

SMediaPlayer::SMediaPlayer() = default;

SMediaPlayer::SMediaPlayer(std::shared_ptr<SAudioOutput> output) : output(std::move(output)) {}

SMediaPlayer::~SMediaPlayer() { Close(); }

void SMediaPlayer::SetFileName(const std::string& name) { fileName = name; }

bool SMediaPlayer::Fail(const std::string& cause) {
  errorText = (fileName.empty() ? std::string("(no file name)") : fileName) + ": " + cause;
  if (errorText.back() != '.') errorText += '.';
  return false;
}

bool SMediaPlayer::Open() {
  Close();
  errorText.clear();
  if (fileName.empty()) return Fail("no file was given");
  if (!output) output = SAudioOutput::Shared();

  // Non-blocking so that a FIFO named by mistake cannot hang the interface thread.
  SFileHandle file(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.IsOpen()) return Fail(OpenErrorCause(errno));
  struct stat st {};
  if (::fstat(file.Get(), &st) != 0) return Fail(OpenErrorCause(errno));
  if (S_ISDIR(st.st_mode)) return Fail(OpenErrorCause(EISDIR));
  if (!S_ISREG(st.st_mode)) return Fail("it is not a regular file");
  unsigned char magic[4] = {0, 0, 0, 0};
  const ssize_t n = ::pread(file.Get(), magic, sizeof magic, 0);
  if (n < 0) return Fail(OpenErrorCause(errno));
  if (n == 0) return Fail("the file is empty");

  if (n == 4 && std::memcmp(magic, "MThd", 4) == 0) {
    std::vector<std::uint8_t> bytes;
    try {
      bytes.reserve(static_cast<std::size_t>(st.st_size));
      if (!ReadAll(file.Get(), bytes)) return Fail(OpenErrorCause(errno));
    } catch (const std::bad_alloc&) {
      return Fail("there is not enough memory to load the file");
    }
    auto source = std::make_unique<SMidiSource>(*output);
    std::string cause;
    if (!source->Load(std::move(bytes), cause)) return Fail(cause);
    if (!output->Start()) return Fail(output->GetErrorText());
    if (!output->LoadSoundFont()) return Fail(output->GetSoundFontError());
    midi = std::move(source);
    device = Device::Sequencer;
    return true;
  }

  // The device first: a file that cannot sound need not be looked at.
  if (!output->Start()) return Fail(output->GetErrorText());
  auto source = std::make_unique<SWavSource>();
  std::string cause;
  if (!source->Open(std::move(file), output->GetSampleRate(), cause)) return Fail(cause);
  wav = std::move(source);
  device = Device::Wave;
  return true;
}

void SMediaPlayer::Play() {
  switch (device) {
    case Device::Wave:
      output->SetWavSource(nullptr);
      wav->Rewind();
      output->SetWavSource(wav.get());
      output->Wake();
      wavPlaying = true;
      break;
    case Device::Sequencer:
      midi->Play();
      break;
    case Device::None:
      break;
  }
}

void SMediaPlayer::Stop() {
  switch (device) {
    case Device::Wave:
      output->SetWavSource(nullptr);
      wav->Pause();
      wavPlaying = false;
      break;
    case Device::Sequencer:
      midi->Stop();
      break;
    case Device::None:
      break;
  }
}

void SMediaPlayer::Close() {
  if (device == Device::None) return;
  Stop();
  wav.reset();
  midi.reset();
  device = Device::None;
}

bool SMediaPlayer::IsPlaying() const {
  switch (device) {
    case Device::Wave:
      return wavPlaying && !wav->IsFinished();
    case Device::Sequencer:
      return midi->IsPlaying();
    case Device::None:
      break;
  }
  return false;
}
