#include "SOpenRecording.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "ImportConstants.h"
#include "SErrorText.h"
#include "SResampler.h"

namespace {

constexpr std::int16_t kFloatTag = 3;

SSourceFormat ReaderFormat(const SWavFile& wav) {
  SSourceFormat f;
  f.container = "WAV";
  f.sampleFormat = "16-bit PCM";
  f.bits = 16;
  f.sndfileFormat = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  f.sampleRate = wav.GetSamplesPerSec();
  f.channels = wav.GetChannels();
  f.frames = wav.GetSampleCount();
  return f;
}

// Failures of the reader that say the file is not a 16-bit PCM WAV, rather than that it
// cannot be had at all: the importer may know it.
bool ForTheImporter(SWavFile::Failure why) {
  return why == SWavFile::Failure::NotSixteenBit || why == SWavFile::Failure::TooShort ||
         why == SWavFile::Failure::NotWave;
}

std::string WithFormats(const std::string& text) {
  return text + "; supported formats: " + SAudioImport::kSupportedFormats;
}

}  // namespace

std::string ReaderFailureText(const SWavFile& wav) {
  switch (wav.GetFailure()) {
    case SWavFile::Failure::Missing:
      return "no such file";
    case SWavFile::Failure::NotAFile:
      return "not a regular file (a directory or a device)";
    case SWavFile::Failure::NoAccess:
      if (wav.GetFailureErrno() == EWOULDBLOCK) return "the file is in use by another program";
      return "cannot open: " + SErrorText(wav.GetFailureErrno());
    case SWavFile::Failure::Empty:
      return "empty file";
    case SWavFile::Failure::TooShort:
      return "file ends inside its header (truncated or not a WAV file)";
    case SWavFile::Failure::NotWave:
      return "not a WAV file (no RIFF/WAVE header)";
    case SWavFile::Failure::NotSixteenBit:
      if (wav.GetFormatTag() == kFloatTag) {
        return "floating-point samples; only 16-bit PCM WAV files can be converted";
      }
      return std::to_string(wav.GetBitsPerSample()) +
             "-bit samples; only 16-bit PCM WAV files can be converted";
    case SWavFile::Failure::NegativeSize:
      return "corrupt header: the data chunk's size is negative";
    case SWavFile::Failure::NoMemory:
      return "not enough memory for the samples";
    case SWavFile::Failure::None:
      break;
  }
  return "cannot be read";
}

std::string SRecording::Note() const {
  switch (road) {
    case Road::Resampled:
      return " (resampled " + std::to_string(fromRate) + " \u2192 44100 Hz)";
    case Road::Imported: {
      std::string s = " (imported " + format.container + ", " + format.sampleFormat + ", " +
                      std::to_string(format.sampleRate) + " Hz";
      if (format.sampleRate != zuroka::kImportRate) s += ", resampled to 44100 Hz";
      return s + ")";
    }
    case Road::Reader:
    case Road::Failed:
      break;
  }
  return "";
}

std::string SRecording::Analysed(const SWavFile& wav) {
  return "first channel, 44100 Hz, 16-bit, " + std::to_string(wav.GetSampleCount()) + " samples";
}

SRecording OpenRecording(SWavFile& wav, const std::string& fileName, bool literal, bool streamed) {
  SRecording r;
  const std::int32_t opened = wav.Open(fileName);
  r.readerFailure = wav.GetFailure();
  if (opened > 0) {
    r.format = ReaderFormat(wav);
    const int rate = wav.GetSamplesPerSec();
    if (literal || rate == zuroka::kImportRate) {
      r.road = SRecording::Road::Reader;
      return r;
    }
    if (rate < zuroka::kMinSourceRate || rate > zuroka::kMaxSourceRate) {
      // No rate to resample from: read as the reader always read it.
      r.road = SRecording::Road::Reader;
      r.rateIgnored = true;
      return r;
    }
    // Only the samples the file holds are resampled; its padding stays padding.
    std::vector<std::int16_t> in;
    std::vector<std::int16_t> out;
    std::int32_t done = SResampler::kFailed;
    try {
      done = wav.ReadAll(in) ? SResampler::ResampleTo44100(in.data(), in.size(), rate, out)
                             : SResampler::kFailed;
    } catch (const std::bad_alloc&) {
      done = SResampler::kNoMemory;
    }
    std::vector<std::int16_t>().swap(in);
    if (done != SResampler::kOk) {
      wav = SWavFile();
      r.failure = done == SResampler::kNoMemory ? "not enough memory for the samples"
                                                : "the sample rate cannot be converted";
      return r;
    }
    const std::int64_t count = SResampler::OutputLength(wav.GetSampleCount(), rate);
    wav.Adopt(std::move(out), static_cast<std::int32_t>(std::min<std::int64_t>(count, INT32_MAX)));
    r.road = SRecording::Road::Resampled;
    r.fromRate = rate;
    return r;
  }
  if (literal || !ForTheImporter(r.readerFailure)) {
    r.failure = ReaderFailureText(wav);
    return r;
  }

  const std::string readerText = ReaderFailureText(wav);
  auto importer = std::make_unique<SAudioImport>();
  std::int32_t imported = importer->Open(fileName);
  if (imported == SAudioImport::kImported && streamed) {
    const std::int64_t expected = importer->ExpectedSamples();
    SSourceFormat format = importer->GetSourceFormat();
    if (auto stream = SAudioImport::Stream(std::move(importer))) {
      r.format = std::move(format);
      wav.Adopt(std::move(stream), static_cast<std::int32_t>(expected));
      r.road = SRecording::Road::Imported;
      return r;
    }
    // No length to run by: decoded whole, as below.
    importer = std::make_unique<SAudioImport>();
    imported = importer->Open(fileName);
  }
  if (imported == SAudioImport::kImported) imported = importer->Read();
  r.importFailure = importer->GetFailure();
  r.format = importer->GetSourceFormat();
  if (imported != SAudioImport::kImported) {
    // A container the importer knows says what is wrong with it; a file that neither
    // recognises keeps the reader's words.
    // A file cut inside the reader's header keeps the reader's words too.
    const bool readersWords = r.importFailure == SAudioImport::Failure::Unsupported ||
                              r.readerFailure == SWavFile::Failure::TooShort;
    r.failure = readersWords ? WithFormats(readerText) : importer->GetFailureText();
    return r;
  }
  // The reader holds no file: its header fields now describe the samples analysed.
  wav.Adopt(importer->TakeSamples());
  r.road = SRecording::Road::Imported;
  return r;
}
