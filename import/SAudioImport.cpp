#include "SAudioImport.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>

#include "SDecodeAhead.h"
#include "SErrorText.h"
#include "SResampler.h"

namespace {

constexpr sf_count_t kBlockSamples = 1 << 15;  // decoded values per read, all channels
constexpr std::size_t kSniffBytes = 12;        // enough for every magic number tested
// Frames per byte of file beyond which a header's frame count is not believed. Digital
// silence, the most compact real audio, reaches about 350 in FLAC and 300 in Vorbis;
// encoders with longer blocks go further.
constexpr std::int64_t kMaxFramesPerByte = 4096;
// Headroom over a believed count, for decoders whose count is an estimate (MP3 without
// a length tag): one second plus one percent. Pages never written cost no memory.
constexpr std::int64_t kReserveSlackSamples = 44100;
constexpr std::int64_t kReserveSlackDivisor = 100;

// libsndfile reports a failed open through process-wide state; the converter opens
// files on several threads at once.
std::mutex& OpenMutex() {
  static std::mutex m;
  return m;
}

bool StartsWith(const unsigned char* b, std::size_t n, const char* magic, std::size_t at = 0) {
  const std::size_t len = std::strlen(magic);
  return n >= at + len && std::memcmp(b + at, magic, len) == 0;
}

// ADTS AAC: a 12-bit sync word and layer bits 00 (MPEG audio layers I-III are non-zero).
bool IsAdts(const unsigned char* b, std::size_t n) {
  return n >= 2 && b[0] == 0xFF && (b[1] & 0xF6) == 0xF0;
}

// A container libsndfile reads, known from its first bytes: its damage is "malformed".
const char* KnownContainer(const unsigned char* b, std::size_t n) {
  if (StartsWith(b, n, "RIFF") || StartsWith(b, n, "RF64")) return "WAV";
  if (StartsWith(b, n, "FORM")) return "AIFF";
  if (StartsWith(b, n, "fLaC")) return "FLAC";
  if (StartsWith(b, n, "OggS")) return "Ogg";
  if (StartsWith(b, n, "ID3")) return "MP3";
  return nullptr;
}

std::string FormatName(int format) {
  SF_FORMAT_INFO info{};
  info.format = format;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr) {
    return info.name;
  }
  return "unknown";
}

void Describe(int format, SSourceFormat& f) {
  const int major = format & SF_FORMAT_TYPEMASK;
  const int sub = format & SF_FORMAT_SUBMASK;
  f.sndfileFormat = format;
  switch (major) {
    case SF_FORMAT_WAV:
      f.container = "WAV";
      break;
    case SF_FORMAT_WAVEX:
      f.container = "WAV (extensible)";
      break;
    case SF_FORMAT_AIFF:
      f.container = "AIFF";
      break;
    case SF_FORMAT_FLAC:
      f.container = "FLAC";
      break;
    case SF_FORMAT_OGG:
      f.container = "Ogg";
      break;
    case SF_FORMAT_MPEG:
      f.container = sub == SF_FORMAT_MPEG_LAYER_III ? "MP3" : "MPEG audio";
      break;
    default:
      f.container = FormatName(major);
      break;
  }
  f.bits = 0;
  f.isFloat = false;
  switch (sub) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      f.bits = 8;
      break;
    case SF_FORMAT_PCM_16:
      f.bits = 16;
      break;
    case SF_FORMAT_PCM_24:
      f.bits = 24;
      break;
    case SF_FORMAT_PCM_32:
      f.bits = 32;
      break;
    case SF_FORMAT_FLOAT:
      f.bits = 32;
      f.isFloat = true;
      break;
    case SF_FORMAT_DOUBLE:
      f.bits = 64;
      f.isFloat = true;
      break;
    default:
      break;
  }
  if (f.bits > 0) {
    f.sampleFormat = std::to_string(f.bits) + (f.isFloat ? "-bit float" : "-bit PCM");
  } else if (sub == SF_FORMAT_VORBIS) {
    f.sampleFormat = "Vorbis";
  } else if (sub == SF_FORMAT_OPUS) {
    f.sampleFormat = "Opus";
  } else if (sub == SF_FORMAT_MPEG_LAYER_III) {
    f.sampleFormat = "MPEG Layer III";
  } else {
    f.sampleFormat = FormatName(sub);
  }
}

// libsndfile's own words for an error, without its "Error : " prefix.
std::string LibraryWords(const char* words) {
  std::string s = words != nullptr ? words : "";
  const std::string prefix = "Error : ";
  if (s.compare(0, prefix.size(), prefix) == 0) s.erase(0, prefix.size());
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

void SAudioImport::SndfileCloser::operator()(sf_private_tag* f) const { sf_close(f); }

SAudioImport::SAudioImport() = default;
SAudioImport::~SAudioImport() = default;

void SAudioImport::Close() {
  if (decoder) decoder->Finish();  // its worker reads through the handle
  decoder.reset();
  resampler.reset();
  sndfile.reset();
  file.Reset();
}

std::int32_t SAudioImport::Fail(Failure why, std::int32_t result, std::string detail) {
  failure = why;
  failureDetail = std::move(detail);
  std::vector<std::int16_t>().swap(samples);
  Close();
  return result;
}

std::int32_t SAudioImport::Open(const std::string& fileName) {
  Close();
  std::vector<std::int16_t>().swap(samples);
  format = SSourceFormat{};
  failure = Failure::None;
  failureDetail.clear();
  fileSize = 0;

  // Non-blocking so that a FIFO or device named by mistake cannot hang the open.
  file = SFileHandle(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.Get() < 0) {
    const int e = errno;
    return Fail(e == ENOENT || e == ENOTDIR ? Failure::Missing : Failure::NoAccess, kCannotOpen,
                SErrorText(e));
  }
  struct stat st {};
  if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return Fail(Failure::NotAFile, kCannotOpen);
  }
  // No sharing, as the engine's reader: a file that another holder has locked is refused.
  if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    return Fail(Failure::NoAccess, kCannotOpen,
                e == EWOULDBLOCK ? "in use by another program" : SErrorText(e));
  }
  fileSize = st.st_size;
  if (fileSize == 0) return Fail(Failure::Empty, kRefused);

  unsigned char head[kSniffBytes] = {};
  const ssize_t got = ::pread(file.Get(), head, sizeof head, 0);
  const std::size_t headBytes = got > 0 ? static_cast<std::size_t>(got) : 0;

  SF_INFO info{};
  int openError = SF_ERR_NO_ERROR;
  std::string openWords;
  {
    std::lock_guard<std::mutex> lock(OpenMutex());
    sndfile.reset(sf_open_fd(file.Get(), SFM_READ, &info, SF_FALSE));
    if (!sndfile) {
      openError = sf_error(nullptr);
      openWords = LibraryWords(sf_error_number(openError));
    }
  }
  if (!sndfile) {
    if (StartsWith(head, headBytes, "ftyp", 4) || IsAdts(head, headBytes)) {
      return Fail(Failure::MpegFour, kRefused);
    }
    switch (openError) {
      case SF_ERR_UNRECOGNISED_FORMAT:
        return Fail(Failure::Unsupported, kRefused);
      case SF_ERR_UNSUPPORTED_ENCODING:
        return Fail(Failure::BadEncoding, kRefused);
      case SF_ERR_MALFORMED_FILE:
        return Fail(Failure::Malformed, kRefused);
      default:
        // libsndfile's finer codes: damage in a container it knows, or bytes that merely
        // resembled one (random data can pass for MPEG audio).
        if (const char* known = KnownContainer(head, headBytes)) {
          return Fail(Failure::Malformed, kRefused, std::string(known) + ": " + openWords);
        }
        return Fail(Failure::Unsupported, kRefused);
    }
  }

  Describe(info.format, format);
  format.sampleRate = info.samplerate;
  format.channels = info.channels;
  format.frames = std::max<sf_count_t>(info.frames, 0);
  if (info.channels < 1) return Fail(Failure::BadRate, kRefused, "the file has no channels");
  if (info.samplerate < zuroka::kMinSourceRate || info.samplerate > zuroka::kMaxSourceRate) {
    return Fail(Failure::BadRate, kRefused,
                "sample rate " + std::to_string(info.samplerate) + " Hz is outside " +
                    std::to_string(zuroka::kMinSourceRate) + " to " +
                    std::to_string(zuroka::kMaxSourceRate) + " Hz");
  }
  // A length the file's size confirms is refused now, before hours of decoding.
  if (format.frames <= fileSize * kMaxFramesPerByte &&
      SResampler::OutputLength(format.frames, format.sampleRate) > zuroka::kMaxImportSamples) {
    return Fail(Failure::TooLong, kTooLong);
  }
  return kImported;
}

std::int32_t SAudioImport::Read(const std::function<void(std::size_t)>& onSamples) {
  if (!sndfile) return kRefused;  // the failure of the Open, if any, stays
  std::int32_t result = kImported;
  try {
    result = Decode(onSamples);
  } catch (const std::bad_alloc&) {
    result = Fail(Failure::NoMemory, kNoMemory);
  } catch (...) {
    // From onSamples: the caller's own failure; the import is abandoned.
    std::vector<std::int16_t>().swap(samples);
    Close();
    throw;
  }
  Close();
  return result;
}

std::int32_t SAudioImport::Import(const std::string& fileName,
                                  const std::function<void(std::size_t)>& onSamples) {
  const std::int32_t opened = Open(fileName);
  return opened == kImported ? Read(onSamples) : opened;
}

std::int64_t SAudioImport::ExpectedSamples() const {
  const std::int64_t claimed = format.frames;
  if (claimed <= 0 || claimed > fileSize * kMaxFramesPerByte) return -1;
  return SResampler::OutputLength(claimed, format.sampleRate);
}

std::int32_t SAudioImport::StartDecoding() {
  const int channels = format.channels;
  const int rate = format.sampleRate;
  decoded = 0;
  decodeEnded = false;
  resampler = std::make_unique<SResampler>();
  if (rate != zuroka::kImportRate && resampler->Init(rate) != SResampler::kOk) {
    return Fail(Failure::Resampler, kDecodeError, resampler->GetError());
  }
  const int sub = format.sndfileFormat & SF_FORMAT_SUBMASK;
  const bool asFloat = format.isFloat || sub == SF_FORMAT_VORBIS || sub == SF_FORMAT_OPUS ||
                       sub == SF_FORMAT_MPEG_LAYER_I || sub == SF_FORMAT_MPEG_LAYER_II ||
                       sub == SF_FORMAT_MPEG_LAYER_III;
  const auto perBlock = static_cast<std::size_t>(std::max<sf_count_t>(1, kBlockSamples / channels));
  decoder = std::make_unique<SDecodeAhead>(sndfile.get(), channels, !asFloat, perBlock,
                                           rate != zuroka::kImportRate ? resampler.get() : nullptr);
  return kImported;
}

std::int32_t SAudioImport::FailDecoding(Failure why, std::int32_t result, std::string detail) {
  if (decoder) decoder->Finish();  // the handle is this thread's again before it closes
  decoder.reset();
  return Fail(why, result, std::move(detail));
}

std::int32_t SAudioImport::DecodeBlock(SDecodeAhead::Block& block) {
  const int rate = format.sampleRate;
  if (decoder->Next(block)) {
    decoded += static_cast<std::int64_t>(block.frames);
    if (SResampler::OutputLength(decoded, rate) > zuroka::kMaxImportSamples) {
      block = {};  // its slot goes with the decoder
      return FailDecoding(Failure::TooLong, kTooLong);
    }
    return kImported;
  }
  // The decoder hands no more: at the end, where the audio stops decoding, or where
  // its worker failed.
  decoder->Finish();
  const SDecodeAhead::Problem problem = decoder->GetProblem();
  decoder.reset();
  decodeEnded = true;
  if (problem == SDecodeAhead::Problem::NoMemory) return Fail(Failure::NoMemory, kNoMemory);
  if (problem == SDecodeAhead::Problem::Resampler) {
    return Fail(Failure::Resampler, kDecodeError, resampler->GetError());
  }
  if (sf_error(sndfile.get()) != SF_ERR_NO_ERROR) {
    return Fail(Failure::DecodeError, kDecodeError,
                "after " + std::to_string(decoded) +
                    " frames: " + LibraryWords(sf_strerror(sndfile.get())));
  }
  // A FLAC stream states its exact length; ending short of it means the file was cut.
  const std::int64_t claimed = format.frames;
  if ((format.sndfileFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC && claimed > 0 &&
      decoded < claimed) {
    return Fail(Failure::DecodeError, kDecodeError,
                "the stream ends after " + std::to_string(decoded) + " of its " +
                    std::to_string(claimed) + " frames");
  }
  if (decoded == 0) return Fail(Failure::NoAudio, kNoAudio);
  return kImported;
}

std::int32_t SAudioImport::Decode(const std::function<void(std::size_t)>& onSamples) {
  // One reservation for the whole output when the header's count is believable; a
  // reallocation while growing would briefly hold the samples twice.
  if (const std::int64_t expected = ExpectedSamples(); expected >= 0) {
    const std::int64_t reserve =
        std::min(zuroka::kMaxImportSamples,
                 expected + expected / kReserveSlackDivisor + kReserveSlackSamples);
    samples.reserve(static_cast<std::size_t>(reserve));
  }
  if (const std::int32_t r = StartDecoding(); r != kImported) return r;
  try {
    while (!decodeEnded) {
      SDecodeAhead::Block block;
      if (const std::int32_t r = DecodeBlock(block); r != kImported) return r;
      samples.insert(samples.end(), block.samples, block.samples + block.count);
      if (onSamples && block.count > 0) onSamples(samples.size());
    }
  } catch (...) {
    if (decoder) decoder->Finish();
    decoder.reset();
    throw;
  }
  format.frames = decoded;
  return kImported;
}

SImportStream::SImportStream(std::unique_ptr<SAudioImport> importer)
    : importer(std::move(importer)) {}

SImportStream::~SImportStream() = default;

bool SImportStream::Rewind() {
  block = {};
  next = 0;
  ended = false;
  if (failed) return false;
  try {
    failed = importer->Restart(started) != SAudioImport::kImported;
  } catch (const std::bad_alloc&) {
    failed = true;
    importer->Fail(SAudioImport::Failure::NoMemory, SAudioImport::kNoMemory);
  }
  started = true;
  return !failed;
}

std::int32_t SImportStream::Read(std::int16_t* out, std::int32_t n) {
  if (failed) return -1;
  try {
    while (next == block.count && !ended) {
      next = 0;
      if (importer->DecodeBlock(block) != SAudioImport::kImported) {
        failed = true;
        return -1;
      }
      ended = importer->decodeEnded;
    }
  } catch (const std::bad_alloc&) {
    importer->FailDecoding(SAudioImport::Failure::NoMemory, SAudioImport::kNoMemory);
    failed = true;
    return -1;
  }
  const std::size_t k = std::min(block.count - next, static_cast<std::size_t>(n));
  std::copy_n(block.samples + next, k, out);
  next += k;
  return static_cast<std::int32_t>(k);
}

std::string SImportStream::GetError() const { return failed ? importer->GetFailureText() : ""; }

std::int32_t SAudioImport::Restart(bool again) {
  if (!sndfile) return kRefused;
  if (again) {
    if (decoder) decoder->Finish();
    decoder.reset();
    if (sf_seek(sndfile.get(), 0, SEEK_SET) != 0) {
      return Fail(Failure::DecodeError, kDecodeError,
                  "cannot go back to the start: " + LibraryWords(sf_strerror(sndfile.get())));
    }
  }
  return StartDecoding();
}

std::unique_ptr<SImportStream> SAudioImport::Stream(std::unique_ptr<SAudioImport> opened) {
  if (!opened || !opened->sndfile || opened->ExpectedSamples() < 0) return nullptr;
  return std::make_unique<SImportStream>(std::move(opened));
}

std::string SAudioImport::GetFailureText() const {
  const std::string supported = std::string("supported formats: ") + kSupportedFormats;
  const std::string detail = failureDetail.empty() ? "" : " (" + failureDetail + ")";
  switch (failure) {
    case Failure::None:
      return "";
    case Failure::Missing:
      return "no such file";
    case Failure::NotAFile:
      return "not a regular file";
    case Failure::NoAccess:
      return "cannot be opened" + detail;
    case Failure::Empty:
      return "the file is empty";
    case Failure::Unsupported:
      return "not an audio format that can be read; " + supported;
    case Failure::MpegFour:
      return "AAC and MP4/M4A audio cannot be read; " + supported;
    case Failure::Malformed:
      return "the audio file's header is damaged or incomplete" + detail;
    case Failure::BadEncoding:
      return "the file's audio encoding cannot be decoded" + detail + "; " + supported;
    case Failure::BadRate:
      return failureDetail;
    case Failure::NoAudio:
      return "the file holds no audio";
    case Failure::DecodeError:
      return "the audio data is damaged or cut short" + detail;
    case Failure::Resampler:
      return "the sample rate cannot be converted" + detail;
    case Failure::TooLong: {
      const std::int64_t seconds = zuroka::kMaxImportSamples / zuroka::kImportRate;
      return "longer than " + std::to_string(seconds / 3600) + " h " +
             std::to_string(seconds / 60 % 60) + " min, the most that can be analysed (" +
             std::to_string(zuroka::kMaxImportSamples) + " samples at " +
             std::to_string(zuroka::kImportRate) + " Hz)";
    }
    case Failure::NoMemory:
      return "not enough memory for the samples";
  }
  return "";
}
