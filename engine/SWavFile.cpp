#include "SWavFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "SFileHandle.h"

namespace {

constexpr int kHeaderBytes = 36;             // RIFF header and the fixed part of the format chunk
constexpr int kChunkHeaderBytes = 8;         // identifier and size
constexpr std::size_t kReadBlock = 1 << 16;  // bytes per read of sample data

// Reads exactly n bytes at the absolute position pos; false when the file ends first.
bool ReadAt(int fd, std::int64_t pos, void* out, std::size_t n) {
  auto* p = static_cast<unsigned char*>(out);
  while (n > 0) {
    ssize_t got = ::pread(fd, p, n, static_cast<off_t>(pos));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    pos += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

std::uint32_t U32(const unsigned char* b) {
  return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}
std::int16_t S16(const unsigned char* b) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(b[0] | b[1] << 8));
}

}  // namespace

void SWavFile::Release() {
  source.reset();
  loaded = false;
}

void SWavFile::Clear() {
  Release();
  riffSize = 0;
  std::memset(formType, 0, sizeof formType);
  fmtSize = 0;
  channels = 0;
  samplesPerSec = 0;
  bytesPerSec = 0;
  bitsPerSample = 0;
  dataSize = 0;
  sampleCount = 0;
  formatTag = 0;
  storedCount = 0;
  padValue = 0;
  failure = Failure::None;
  failureErrno = 0;
}

std::int32_t SWavFile::Fail(Failure why, std::int32_t result) {
  failure = why;
  return result;
}

std::int32_t SWavFile::Open(const std::string& fileName) {
  Clear();
  SFileHandle file;
  std::int64_t fileSize = 0;
  if (const std::int32_t r = OpenLocked(fileName, file, fileSize); r < 0) return r;
  if (fileSize == 0) return Fail(Failure::Empty, kRefused);
  std::int64_t dataStart = 0;
  if (const std::int32_t r = ReadHeader(file.Get(), dataStart); r < 0) return r;
  if (bitsPerSample != 16) return Fail(Failure::NotSixteenBit, kRefused);
  if (dataSize < 0) return Fail(Failure::NegativeSize, kBadHeader);
  return KeepFile(file, fileSize, dataStart);
}

std::int32_t SWavFile::OpenLocked(const std::string& fileName, SFileHandle& file,
                                  std::int64_t& fileSize) {
  // Non-blocking so that a FIFO or device named by mistake cannot hang the open.
  file = SFileHandle(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.IsOpen()) {
    failureErrno = errno;
    return Fail(errno == ENOENT || errno == ENOTDIR ? Failure::Missing : Failure::NoAccess,
                kCannotOpen);
  }
  struct stat st {};
  if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return Fail(Failure::NotAFile, kCannotOpen);
  }
  // No sharing: a file that another holder has locked is refused.
  if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
    failureErrno = errno;
    return Fail(Failure::NoAccess, kCannotOpen);
  }
  fileSize = st.st_size;
  return kLoaded;
}

std::int32_t SWavFile::ReadHeader(int fd, std::int64_t& dataStart) {
  unsigned char h[kHeaderBytes];
  if (!ReadAt(fd, 0, h, sizeof h)) return Fail(Failure::TooShort, kRefused);
  riffSize = U32(h + 4);
  std::memcpy(formType, h + 8, 4);
  fmtSize = static_cast<std::int32_t>(U32(h + 16));
  formatTag = S16(h + 20);
  channels = S16(h + 22);
  samplesPerSec = U32(h + 24);
  bytesPerSec = U32(h + 28);
  bitsPerSample = S16(h + 34);
  if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) {
    return Fail(Failure::NotWave, kRefused);
  }

  // Chunk walk: the chunk after the format chunk is the data chunk unless it is a
  // foreign one, which is skipped once. No pad byte after odd sizes.
  std::int64_t p = 20 + static_cast<std::int64_t>(fmtSize);
  unsigned char ch[kChunkHeaderBytes];
  if (p < 0 || !ReadAt(fd, p, ch, sizeof ch)) return Fail(Failure::TooShort, kRefused);
  if (std::memcmp(ch, "data", 4) != 0) {
    p = p + kChunkHeaderBytes + static_cast<std::int64_t>(U32(ch + 4));
    if (!ReadAt(fd, p, ch, sizeof ch)) return Fail(Failure::TooShort, kRefused);
  }
  dataSize = static_cast<std::int32_t>(U32(ch + 4));
  dataStart = p + kChunkHeaderBytes;
  return kLoaded;
}

namespace {

// The first channel of a WAV file's 16-bit data, read from the file as a run needs it.
class SFileSamples final : public SSampleSource {
 public:
  // values: the 16-bit values the file holds, perFrame of them per sample frame.
  SFileSamples(SFileHandle file, std::int64_t dataStart, int perFrame, std::int64_t values)
      : file(std::move(file)), dataStart(dataStart), perFrame(perFrame), values(values) {}

  bool Rewind() override {
    done = 0;
    ended = false;
    return true;
  }

  std::int32_t Read(std::int16_t* out, std::int32_t n) override {
    if (ended) return 0;
    const std::int64_t want = std::min<std::int64_t>(values - done, std::int64_t{n} * perFrame);
    block.resize(static_cast<std::size_t>(std::min<std::int64_t>(want, kReadBlock / 2)) * 2);
    const std::int64_t got = ReadSome(dataStart + done * 2, block.size()) / 2;
    // A file that shrank since it was opened ends here: the rest is padding.
    if (got < static_cast<std::int64_t>(block.size() / 2)) ended = true;
    if (got == 0) return 0;
    // Reads start on a frame, so the first value of each frame is the first channel's;
    // a last frame cut short still has it. One loop per layout: a division per value
    // would cost as much as the rest of the read.
    const unsigned char* in = block.data();
    std::int32_t k = 0;
    if (perFrame == 2) {
      for (std::int64_t v = 0; v < got; v += 2) out[k++] = S16(in + v * 2);
    } else {
      for (std::int64_t v = 0; v < got; ++v) out[k++] = S16(in + v * 2);
    }
    done += got;
    return k;
  }

 private:
  // Reads up to bytes at pos: the count read, short only where the file ends or fails.
  std::int64_t ReadSome(std::int64_t pos, std::size_t bytes) {
    std::size_t have = 0;
    while (have < bytes) {
      const ssize_t r = ::pread(file.Get(), block.data() + have, bytes - have,
                                static_cast<off_t>(pos + static_cast<std::int64_t>(have)));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      have += static_cast<std::size_t>(r);
    }
    return static_cast<std::int64_t>(have & ~std::size_t{1});
  }

  SFileHandle file;
  const std::int64_t dataStart;
  const int perFrame;
  const std::int64_t values;
  std::int64_t done = 0;  // values read
  bool ended = false;
  std::vector<unsigned char> block;
};

}  // namespace

std::int32_t SWavFile::KeepFile(SFileHandle& file, std::int64_t fileSize, std::int64_t dataStart) {
  const bool stereo = channels == 2;
  const int perFrame = stereo ? 2 : 1;  // 16-bit values per sample frame
  sampleCount = stereo ? dataSize / 4 : dataSize / 2;

  // Only what the file holds is read; the rest is padding.
  const std::int64_t wanted = static_cast<std::int64_t>(sampleCount) * perFrame;
  const std::int64_t available = std::max<std::int64_t>(0, (fileSize - dataStart) / 2);
  const std::int64_t values = std::min(wanted, available);
  storedCount = static_cast<std::int32_t>((values + perFrame - 1) / perFrame);
  // A value the file does not hold repeats its last one, of either channel.
  unsigned char last[2] = {0, 0};
  if (values > 0 && ReadAt(file.Get(), dataStart + (values - 1) * 2, last, 2)) {
    padValue = S16(last);
  }
  try {
    // Unlocked from here: the player and other programs may open it while it is held.
    ::flock(file.Get(), LOCK_UN);
    source = std::make_unique<SFileSamples>(std::move(file), dataStart, perFrame, values);
  } catch (const std::bad_alloc&) {
    Release();
    sampleCount = 0;
    storedCount = 0;
    return Fail(Failure::NoMemory, kNoMemory);
  }
  loaded = true;
  return kLoaded;
}

void SWavFile::DescribeAdopted(std::int64_t samples) {
  constexpr std::int32_t kRate = 44100;
  if (loaded) return;  // a file read keeps its header fields: they describe the source
  Clear();
  std::memcpy(formType, "WAVE", 4);
  fmtSize = 16;
  formatTag = 1;
  channels = 1;
  samplesPerSec = kRate;
  bytesPerSec = kRate * 2;
  bitsPerSample = 16;
  const std::int64_t bytes = samples * 2;
  dataSize = static_cast<std::int32_t>(std::min<std::int64_t>(bytes, INT32_MAX));
  riffSize = static_cast<std::uint32_t>(std::min<std::int64_t>(bytes + kHeaderBytes, UINT32_MAX));
}

void SWavFile::Adopt(std::vector<std::int16_t> samples, std::int32_t count) {
  const auto held = static_cast<std::int32_t>(
      std::min<std::size_t>(samples.size(), static_cast<std::size_t>(INT32_MAX)));
  samples.resize(static_cast<std::size_t>(held));
  DescribeAdopted(held);
  source = std::make_unique<SMemorySamples>(std::move(samples));
  storedCount = held;
  sampleCount = std::max(count, held);
  failure = Failure::None;
  failureErrno = 0;
  loaded = true;
}

void SWavFile::Adopt(std::unique_ptr<SSampleSource> samples, std::int32_t count) {
  count = std::max(count, 0);
  DescribeAdopted(count);
  source = std::move(samples);
  storedCount = count;
  sampleCount = count;
  padValue = 0;
  failure = Failure::None;
  failureErrno = 0;
  loaded = source != nullptr;
}

bool SWavFile::ReadAll(std::vector<std::int16_t>& out) {
  out.clear();
  if (!source || !source->Rewind()) return false;
  constexpr std::int32_t kBlock = 1 << 15;
  for (;;) {
    const std::size_t at = out.size();
    out.resize(at + kBlock);
    const std::int32_t got = source->Read(out.data() + at, kBlock);
    out.resize(at + static_cast<std::size_t>(std::max(got, 0)));
    if (got == 0) return true;
    if (got < 0) {
      out.clear();
      return false;
    }
  }
}

std::string SWavFile::GetInfoText() const {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "FileSize : %dbytes\nFileType : %sfile\nChannel : %d\nSamplesPerSec : %d\n"
                "BytesPerSec : %d\nBitsPerSample : %d\n",
                static_cast<std::int32_t>(riffSize), formType, channels,
                static_cast<std::int32_t>(samplesPerSec), static_cast<std::int32_t>(bytesPerSec),
                bitsPerSample);
  return buf;
}
