#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ImportConstants.h"
#include "SDecodeAhead.h"
#include "SFileHandle.h"
#include "SSampleSource.h"
#include "SSourceFormat.h"

struct sf_private_tag;
class SDecodeAhead;
class SImportStream;
class SResampler;

// Reads any file libsndfile decodes (WAV of every sample width and float, WAV
// extensible, AIFF, FLAC, Ogg Vorbis, Opus, MP3, and the rarer containers it knows)
// and turns it into what the engine's WAV reader hands on: the first channel as
// 16-bit values at 44100 samples per second, rounded and clipped without dither, so
// the same file always gives the same samples. Other rates go through SResampler.
//
// Decoding is streamed in blocks, on a thread of its own (SDecodeAhead), and other
// rates are resampled on a second one; the calling thread only copies the 16-bit
// blocks. The only large allocation is the output,
// reserved once from the header's frame count when the file's size makes that count
// plausible, and otherwise grown as samples really arrive: a header's claim never
// allocates more than the file can hold.
//
// Not thread-safe; one importer per thread. Importers on different threads are
// independent.
class SAudioImport {
 public:
  // Results of Open and Read.
  static constexpr std::int32_t kImported = 1;
  static constexpr std::int32_t kCannotOpen = -1;  // Missing, NotAFile, NoAccess
  static constexpr std::int32_t kNoMemory = -2;
  static constexpr std::int32_t kRefused = -3;  // Empty, Unsupported, MpegFour,
                                                // Malformed, BadEncoding, BadRate
  static constexpr std::int32_t kNoAudio = -4;
  static constexpr std::int32_t kDecodeError = -5;  // DecodeError, Resampler
  static constexpr std::int32_t kTooLong = -6;

  // Why the last Open or Read failed.
  enum class Failure {
    None,
    Missing,      // no such file
    NotAFile,     // a directory, a device, a pipe
    NoAccess,     // permission denied, or locked by another program
    Empty,        // zero bytes
    Unsupported,  // no container libsndfile reads
    MpegFour,     // AAC or MP4/M4A audio, which libsndfile does not read
    Malformed,    // a known container whose header is damaged or incomplete
    BadEncoding,  // a known container holding an encoding libsndfile does not decode
    BadRate,      // sample rate outside 1000..768000 Hz, or no channels
    NoAudio,      // no sample frames
    DecodeError,  // the audio stops decoding part-way (damaged or truncated)
    Resampler,    // the resampler failed
    TooLong,      // more than 2^31 - 1 samples at 44100 Hz
    NoMemory,
  };

  // The formats named to the user when a file is refused.
  static constexpr const char* kSupportedFormats =
      "WAV (8, 16, 24 and 32-bit PCM, 32 and 64-bit float, extensible), AIFF, FLAC, "
      "Ogg Vorbis, Opus, MP3";
  // File-name patterns of those formats, for open dialogs.
  static constexpr const char* kFilePatterns =
      "*.wav *.wave *.aif *.aiff *.aifc *.flac *.ogg *.oga *.opus *.mp3";

  SAudioImport();
  ~SAudioImport();
  SAudioImport(const SAudioImport&) = delete;
  SAudioImport& operator=(const SAudioImport&) = delete;

  // Opens the file and reads its header into GetSourceFormat (frames as the header
  // says). The file stays open, locked for exclusive use, until Read or the next Open.
  // Returns kImported when it can be decoded, otherwise kCannotOpen, kRefused or
  // kTooLong (a header whose length the file's size confirms).
  std::int32_t Open(const std::string& fileName);
  // Decodes the opened file whole into GetSamples and closes it; GetSourceFormat's
  // frames becomes the decoded count. onSamples, when given, is called on this thread
  // after each block with the count of samples now in GetSamples: those never change
  // afterwards, so a caller may analyse them while the rest is decoded (the vector may
  // still move; index it, do not keep pointers). A failure later withdraws them all;
  // an exception from onSamples abandons the import and passes on. Returns kImported,
  // kNoAudio, kDecodeError, kTooLong or kNoMemory; kRefused when no file is open (a
  // failed Open's failure stays). Samples are empty on failure.
  std::int32_t Read(const std::function<void(std::size_t)>& onSamples = {});
  // Open and then Read.
  std::int32_t Import(const std::string& fileName,
                      const std::function<void(std::size_t)>& onSamples = {});
  // Hands an opened importer to a stream that decodes as a run reads it, so that only
  // a few blocks are held at a time; a failure part-way shows as the stream's error,
  // worded as GetFailureText words it. Null (the importer is dropped) when nothing is
  // open or the header gives no length the file's size makes plausible: the run needs
  // its count first. The count is then ExpectedSamples.
  static std::unique_ptr<SImportStream> Stream(std::unique_ptr<SAudioImport> opened);
  // Samples at 44100 Hz that the opened file's header promises; -1 when it gives no
  // length or one that its size cannot hold.
  std::int64_t ExpectedSamples() const;

  const SSourceFormat& GetSourceFormat() const { return format; }
  // The first channel at 44100 Hz, valid until the next Open or TakeSamples.
  const std::vector<std::int16_t>& GetSamples() const { return samples; }
  // Hands the samples over (no copy) and leaves GetSamples empty.
  std::vector<std::int16_t> TakeSamples() { return std::exchange(samples, {}); }
  // True when the source rate was not 44100 Hz.
  bool WasResampled() const {
    return format.sampleRate != zuroka::kImportRate && format.sampleRate > 0;
  }

  Failure GetFailure() const { return failure; }
  // The failure in English, without the file name, e.g. "the file is empty", or for
  // Unsupported "not an audio format that can be read; supported formats: WAV ...".
  // Empty when the last operation succeeded.
  std::string GetFailureText() const;

 private:
  struct SndfileCloser {
    void operator()(sf_private_tag* f) const;
  };
  friend class SImportStream;
  void Close();
  std::int32_t Fail(Failure why, std::int32_t result, std::string detail = {});
  std::int32_t FailDecoding(Failure why, std::int32_t result, std::string detail = {});
  // The steps of a decode: start (again: from the first frame), then one block at a
  // time until decodeEnded, valid until the next step; the end's checks run in the
  // last step, which hands an empty block.
  std::int32_t Restart(bool again);
  std::int32_t StartDecoding();
  std::int32_t DecodeBlock(SDecodeAhead::Block& block);
  std::int32_t Decode(const std::function<void(std::size_t)>& onSamples);

  SFileHandle file;                                        // holds the lock
  std::unique_ptr<sf_private_tag, SndfileCloser> sndfile;  // reads through file
  std::int64_t fileSize = 0;                               // bytes
  SSourceFormat format;
  std::vector<std::int16_t> samples;
  std::unique_ptr<SResampler> resampler;  // while decoding
  std::unique_ptr<SDecodeAhead> decoder;  // while decoding; holds the handle
  std::int64_t decoded = 0;               // source frames decoded
  bool decodeEnded = false;
  Failure failure = Failure::None;
  std::string failureDetail;  // the decoder's or the system's own words, or empty
};

// An import decoded as a run reads it (SAudioImport::Stream): the first channel at
// 44100 Hz, 16-bit, a block at a time. Decoding and resampling run ahead on threads
// of their own, so both overlap the run's analysis and leave the frame loop alone.
class SImportStream final : public SSampleSource {
 public:
  explicit SImportStream(std::unique_ptr<SAudioImport> importer);
  ~SImportStream() override;
  SImportStream(const SImportStream&) = delete;
  SImportStream& operator=(const SImportStream&) = delete;

  bool Rewind() override;
  std::int32_t Read(std::int16_t* out, std::int32_t n) override;
  std::string GetError() const override;
  const SAudioImport& Importer() const { return *importer; }

 private:
  std::unique_ptr<SAudioImport> importer;
  SDecodeAhead::Block block;  // the decoder's current block, handed out from next
  std::size_t next = 0;
  bool started = false;  // decoded from the start once already
  bool ended = false;
  bool failed = false;
};
