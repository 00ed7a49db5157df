#include "SResampler.h"

#include <soxr.h>

#include <algorithm>
#include <new>

#include "ImportConstants.h"

namespace {

constexpr std::size_t kOutBlock = 8192;  // output samples per call of soxr_process
constexpr std::size_t kInBlock = 4096;   // input samples converted at a time by ResampleTo44100

}  // namespace

void SResampler::SoxrDeleter::operator()(soxr* s) const { soxr_delete(s); }

SResampler::SResampler() = default;
SResampler::~SResampler() = default;

std::int64_t SResampler::OutputLength(std::int64_t inputSamples, int inRate) {
  if (inRate <= 0 || inputSamples <= 0) return 0;
  // 64-bit products: inputSamples stays far below 2^63 / 44100 for any real file.
  return inputSamples / inRate * zuroka::kImportRate +
         inputSamples % inRate * zuroka::kImportRate / inRate;
}

std::int32_t SResampler::Init(int inRate) {
  stream.reset();
  consumed = 0;
  produced = 0;
  error.clear();
  rate = inRate;
  if (inRate < zuroka::kMinSourceRate || inRate > zuroka::kMaxSourceRate) {
    error = "sample rate " + std::to_string(inRate) + " Hz is outside " +
            std::to_string(zuroka::kMinSourceRate) + " to " +
            std::to_string(zuroka::kMaxSourceRate) + " Hz";
    return kBadRate;
  }
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  // One thread: the converter already runs files side by side, and one channel gains
  // nothing from more.
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_error_t err = nullptr;
  stream.reset(soxr_create(inRate, zuroka::kImportRate, 1, &err, nullptr, &quality, &runtime));
  if (err != nullptr || !stream) {
    error = std::string("resampler: ") + (err != nullptr ? err : "cannot be created");
    stream.reset();
    return kFailed;
  }
  block.resize(kOutBlock);
  return kOk;
}

void SResampler::Append(std::size_t made, std::vector<std::int16_t>& out) {
  const std::size_t base = out.size();
  out.resize(base + made);
  zuroka::ToSamples16(block.data(), made, out.data() + base);
  produced += static_cast<std::int64_t>(made);
}

std::int32_t SResampler::Process(const float* in, std::size_t n, std::vector<std::int16_t>& out) {
  if (!stream) {
    if (error.empty()) error = "resampler: not started";
    return kFailed;
  }
  std::size_t offset = 0;
  while (offset < n) {
    std::size_t used = 0;
    std::size_t made = 0;
    if (soxr_error_t err = soxr_process(stream.get(), in + offset, n - offset, &used, block.data(),
                                        block.size(), &made);
        err != nullptr) {
      error = std::string("resampler: ") + err;
      return kFailed;
    }
    if (used == 0 && made == 0) {
      error = "resampler: no progress";
      return kFailed;
    }
    Append(made, out);
    offset += used;
  }
  consumed += static_cast<std::int64_t>(n);
  return kOk;
}

std::int32_t SResampler::Finish(std::vector<std::int16_t>& out) {
  if (!stream) {
    if (error.empty()) error = "resampler: not started";
    return kFailed;
  }
  // soxr rounds the length to the nearest sample; the stream's length is defined as
  // the whole samples of the input's duration, the same however the input was split.
  // The filter's delay keeps what Process gave below that, so only the tail is cut.
  const std::int64_t wanted = OutputLength(consumed, rate);
  const std::size_t end =
      out.size() + static_cast<std::size_t>(std::max<std::int64_t>(0, wanted - produced));
  while (produced < wanted) {
    std::size_t made = 0;
    if (soxr_error_t err =
            soxr_process(stream.get(), nullptr, 0, nullptr, block.data(), block.size(), &made);
        err != nullptr) {
      error = std::string("resampler: ") + err;
      return kFailed;
    }
    if (made == 0) break;
    Append(made, out);
  }
  out.resize(end, 0);
  produced = wanted;
  stream.reset();
  return kOk;
}

std::int32_t SResampler::ResampleTo44100(const std::int16_t* samples, std::size_t count, int rate,
                                         std::vector<std::int16_t>& out) {
  out.clear();
  if (rate < zuroka::kMinSourceRate || rate > zuroka::kMaxSourceRate) return kBadRate;
  const std::int64_t length = OutputLength(static_cast<std::int64_t>(count), rate);
  if (length > zuroka::kMaxImportSamples) return kTooLong;
  try {
    if (rate == zuroka::kImportRate) {
      out.assign(samples, samples + count);
      return kOk;
    }
    // The whole result at once: reallocation while growing would double the peak.
    out.reserve(static_cast<std::size_t>(length));
    SResampler r;
    if (std::int32_t res = r.Init(rate); res != kOk) {
      out.clear();
      return res;
    }
    std::vector<float> in(std::min(kInBlock, std::max<std::size_t>(count, 1)));
    for (std::size_t i = 0; i < count; i += in.size()) {
      const std::size_t n = std::min(in.size(), count - i);
      for (std::size_t k = 0; k < n; ++k) {
        in[k] = static_cast<float>(samples[i + k] / zuroka::kFullScale);
      }
      if (r.Process(in.data(), n, out) != kOk) {
        std::vector<std::int16_t>().swap(out);
        return kFailed;
      }
    }
    if (r.Finish(out) != kOk) {
      std::vector<std::int16_t>().swap(out);
      return kFailed;
    }
  } catch (const std::bad_alloc&) {
    std::vector<std::int16_t>().swap(out);
    return kNoMemory;
  }
  return kOk;
}
