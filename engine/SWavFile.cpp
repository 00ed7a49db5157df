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
  std::vector<std::int16_t>().swap(left);
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
  return ReadSamples(file.Get(), fileSize, dataStart);
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

std::int32_t SWavFile::ReadSamples(int fd, std::int64_t fileSize, std::int64_t dataStart) {
  const bool stereo = channels == 2;
  const int perFrame = stereo ? 2 : 1;  // 16-bit values per sample frame
  sampleCount = stereo ? dataSize / 4 : dataSize / 2;

  // Only what the file holds is read and stored; the rest is padding.
  const std::int64_t wanted = static_cast<std::int64_t>(sampleCount) * perFrame;
  const std::int64_t available = std::max<std::int64_t>(0, (fileSize - dataStart) / 2);
  const std::int64_t values = std::min(wanted, available);
  storedCount = static_cast<std::int32_t>((values + perFrame - 1) / perFrame);
  try {
    left.resize(static_cast<std::size_t>(storedCount));
  } catch (const std::bad_alloc&) {
    Release();
    sampleCount = 0;
    storedCount = 0;
    return Fail(Failure::NoMemory, kNoMemory);
  }

  std::vector<unsigned char> block(std::min<std::size_t>(kReadBlock, values * 2 + 2));
  std::int64_t done = 0;
  std::int16_t last = 0;
  while (done < values) {
    const std::int64_t n = std::min<std::int64_t>(values - done, block.size() / 2);
    if (!ReadAt(fd, dataStart + done * 2, block.data(), static_cast<std::size_t>(n * 2))) {
      break;  // the file shrank while it was read: pad from here
    }
    // Blocks hold whole sample frames (an even count of values), except a last one
    // cut short: the first value of each frame is the first channel's. One loop per
    // layout: a division per value would cost as much as the rest of the read.
    std::int16_t* out = left.data() + done / perFrame;
    const unsigned char* in = block.data();
    if (stereo) {
      for (std::int64_t k = 0; k < n; k += 2) out[k / 2] = S16(in + k * 2);
    } else {
      for (std::int64_t k = 0; k < n; ++k) out[k] = S16(in + k * 2);
    }
    last = S16(block.data() + (n - 1) * 2);
    done += n;
  }
  // A value that could not be read repeats the last one read, of either channel.
  padValue = last;
  storedCount = static_cast<std::int32_t>((done + perFrame - 1) / perFrame);
  left.resize(static_cast<std::size_t>(storedCount));
  loaded = true;
  return kLoaded;
}

void SWavFile::Adopt(std::vector<std::int16_t> samples, std::int32_t count) {
  constexpr std::int32_t kRate = 44100;
  const auto held = static_cast<std::int32_t>(
      std::min<std::size_t>(samples.size(), static_cast<std::size_t>(INT32_MAX)));
  samples.resize(static_cast<std::size_t>(held));
  if (!loaded) {
    // Nothing read from a file: the header says what the samples are.
    Clear();
    std::memcpy(formType, "WAVE", 4);
    fmtSize = 16;
    formatTag = 1;
    channels = 1;
    samplesPerSec = kRate;
    bytesPerSec = kRate * 2;
    bitsPerSample = 16;
    const std::int64_t bytes = static_cast<std::int64_t>(held) * 2;
    dataSize = static_cast<std::int32_t>(std::min<std::int64_t>(bytes, INT32_MAX));
    riffSize = static_cast<std::uint32_t>(std::min<std::int64_t>(bytes + kHeaderBytes, UINT32_MAX));
  }
  left = std::move(samples);
  storedCount = held;
  sampleCount = std::max(count, held);
  failure = Failure::None;
  failureErrno = 0;
  loaded = true;
}

SSampleView SWavFile::GetSamples() const {
  SSampleView v;
  v.data = left.data();
  v.stored = static_cast<std::int32_t>(left.size());
  v.count = sampleCount;
  v.pad = padValue;
  return v;
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
