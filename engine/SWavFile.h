#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SEngineObject.h"
#include "SSampleSource.h"

class SFileHandle;

// Read-only view of samples as the analyser reads a frame, 16-bit values widened where
// they are read; past the stored ones every sample has the pad value.
struct SSampleView {
  const std::int16_t* data = nullptr;  // the samples actually read
  std::int32_t stored = 0;             // samples in data
  std::int32_t count = 0;              // samples per channel, padding included
  std::int32_t pad = 0;                // value of every sample at index >= stored

  std::int32_t operator[](std::int32_t i) const { return i < stored ? data[i] : pad; }
};

// Opens one RIFF/WAVE file of 16-bit samples: reads and checks its header, the fields
// of the information text, and keeps the file open so that a run reads the first
// channel, the only one analysed, as the frames need it (Samples); no run holds the
// whole recording. Samples made elsewhere (resampled, imported) are taken over instead.
class SWavFile : public SEngineObject {
 public:
  // Results of Open.
  static constexpr std::int32_t kLoaded = 1;
  static constexpr std::int32_t kCannotOpen = -1;
  static constexpr std::int32_t kNoMemory = -2;
  static constexpr std::int32_t kRefused = -3;    // not 16-bit, too short, not RIFF/WAVE
  static constexpr std::int32_t kBadHeader = -4;  // a negative data size

  // Why the last Open failed, for messages that name the cause.
  enum class Failure {
    None,
    Missing,        // no such file
    NotAFile,       // a directory or a device
    NoAccess,       // permission denied or held by another program
    Empty,          // zero bytes
    TooShort,       // ends before the 44-byte header
    NotWave,        // no RIFF/WAVE identifiers
    NotSixteenBit,  // bitsPerSample other than 16 (8, 24, 32-bit, float)
    NegativeSize,   // the data chunk's size field is negative
    NoMemory,
  };

  SWavFile() = default;

  // Opens the file. Returns 1 when loaded, -1 when it cannot be opened, -2 when there
  // is no memory for the reader, -3 when it is refused (not 16 bits per sample,
  // shorter than its header, no RIFF/WAVE identifiers), -4 for a negative data size.
  // The file is locked for exclusive use while its header is read; it stays open,
  // unlocked, so that runs read it even once it is deleted. A file cut short later
  // reads as padding from where it ends.
  std::int32_t Open(const std::string& fileName);

  // "FileSize : ...", six lines each ending with a line feed.
  std::string GetInfoText() const;
  std::int32_t GetSampleCount() const { return sampleCount; }  // samples per channel
  // The first channel's stored samples, for one run at a time: Rewind, then Read until
  // it gives 0. Null when nothing is loaded.
  SSampleSource* Samples() { return source.get(); }
  // The value of every sample past the stored ones, up to GetSampleCount.
  std::int16_t GetPadValue() const { return static_cast<std::int16_t>(padValue); }
  // All the stored samples, read from the start (tests, and resampling a whole file).
  // False (out empty) when they cannot be read.
  bool ReadAll(std::vector<std::int16_t>& out);

  Failure GetFailure() const { return failure; }
  int GetFailureErrno() const { return failureErrno; }
  // Samples per channel that the data size promised but the file did not hold.
  std::int32_t GetMissingSamples() const { return sampleCount - storedCount; }
  bool IsLoaded() const { return loaded; }
  std::int16_t GetChannels() const { return channels; }
  std::int16_t GetBitsPerSample() const { return bitsPerSample; }
  std::int16_t GetFormatTag() const { return formatTag; }
  // The header's samples per second (0 before a header was read).
  std::int32_t GetSamplesPerSec() const { return static_cast<std::int32_t>(samplesPerSec); }

  // Takes over samples made elsewhere (resampled from the file read, or imported from
  // another format), moved in, not copied: the first channel at 44100 Hz. count is the
  // samples per channel with padding (at least samples.size(); -1: none), the padding
  // keeping the pad value of the file read. A reader that holds a file keeps its header
  // fields, which then describe the source; otherwise they describe the samples taken
  // over (one channel, 44100 Hz, 16-bit PCM). The reader is loaded afterwards.
  void Adopt(std::vector<std::int16_t> samples, std::int32_t count = -1);
  // The same for samples that a source makes as they are read (an import streamed
  // into the run): count samples per channel, with padding of 0 past the source's end
  // and anything past count left unread.
  void Adopt(std::unique_ptr<SSampleSource> samples, std::int32_t count);

 private:
  void Release();
  void Clear();
  std::int32_t Fail(Failure why, std::int32_t result);
  // The steps of Open, each returning a negative result of Open on failure.
  std::int32_t OpenLocked(const std::string& fileName, SFileHandle& file, std::int64_t& fileSize);
  std::int32_t ReadHeader(int fd, std::int64_t& dataStart);
  std::int32_t KeepFile(SFileHandle& file, std::int64_t fileSize, std::int64_t dataStart);
  void DescribeAdopted(std::int64_t samples);

  std::uint32_t riffSize = 0;
  char formType[5] = {0, 0, 0, 0, 0};
  std::int32_t fmtSize = 0;
  std::int16_t channels = 0;
  std::uint32_t samplesPerSec = 0;
  std::uint32_t bytesPerSec = 0;
  std::int16_t bitsPerSample = 0;
  std::int32_t dataSize = 0;
  std::int32_t sampleCount = 0;
  std::unique_ptr<SSampleSource> source;
  bool loaded = false;

  std::int16_t formatTag = 0;
  std::int32_t storedCount = 0;  // sample frames the file holds
  std::int32_t padValue = 0;
  Failure failure = Failure::None;
  int failureErrno = 0;
};
