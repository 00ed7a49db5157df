// Compares the two candidate resamplers for import (libsoxr and libsamplerate) on
// what import asks of them: mono streams at 22050, 32000, 48000 and 96000 Hz to
// 44100 Hz, fed in blocks. Quality is measured against the analytic signal at the
// output rate; speed as the time to resample one minute of noise.
//   build/bin/resampler_compare [RUNS]
#include <samplerate.h>
#include <soxr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double kOutRate = 44100;
constexpr std::size_t kBlock = 4096;   // input samples per call, as the importer feeds them
constexpr double kSignalSeconds = 4;   // quality signals
constexpr double kEdgeSeconds = 0.25;  // left out of the measurement at both ends
constexpr double kSpeedSeconds = 60;   // the speed figure is per minute of audio
constexpr double kAmplitude = 0.5;

// One streaming resampler; Process is called with each block and once with last set.
class Resampler {
 public:
  virtual ~Resampler() = default;
  virtual void Process(const float* in, std::size_t n, bool last, std::vector<float>& out) = 0;
};

struct SoxrDeleter {
  void operator()(soxr_t s) const { soxr_delete(s); }
};

class SoxrResampler : public Resampler {
 public:
  SoxrResampler(double inRate, unsigned long recipe) {
    soxr_error_t err = nullptr;
    const soxr_quality_spec_t q = soxr_quality_spec(recipe, 0);
    const soxr_runtime_spec_t r = soxr_runtime_spec(1);
    soxr_.reset(soxr_create(inRate, kOutRate, 1, &err, nullptr, &q, &r));
    if (err != nullptr) {
      std::fprintf(stderr, "soxr_create: %s\n", err);
      std::exit(1);
    }
    ratio_ = kOutRate / inRate;
  }
  const char* Engine() const { return soxr_engine(soxr_.get()); }
  void Process(const float* in, std::size_t n, bool last, std::vector<float>& out) override {
    std::size_t offset = 0;
    do {
      const std::size_t room =
          static_cast<std::size_t>(static_cast<double>(n - offset) * ratio_) + 64;
      const std::size_t base = out.size();
      out.resize(base + room);
      std::size_t used = 0, made = 0;
      soxr_process(soxr_.get(), in + offset, n - offset, &used, out.data() + base, room, &made);
      out.resize(base + made);
      offset += used;
    } while (offset < n);
    if (last) {
      for (;;) {
        const std::size_t base = out.size();
        out.resize(base + kBlock);
        std::size_t made = 0;
        soxr_process(soxr_.get(), nullptr, 0, nullptr, out.data() + base, kBlock, &made);
        out.resize(base + made);
        if (made == 0) break;
      }
    }
  }

 private:
  std::unique_ptr<soxr, SoxrDeleter> soxr_;
  double ratio_ = 1;
};

struct SrcDeleter {
  void operator()(SRC_STATE* s) const { src_delete(s); }
};

class SrcResampler : public Resampler {
 public:
  SrcResampler(double inRate, int converter) : ratio_(kOutRate / inRate) {
    int err = 0;
    src_.reset(src_new(converter, 1, &err));
    if (!src_) {
      std::fprintf(stderr, "src_new: %s\n", src_strerror(err));
      std::exit(1);
    }
  }
  void Process(const float* in, std::size_t n, bool last, std::vector<float>& out) override {
    std::size_t offset = 0;
    for (;;) {
      const std::size_t room =
          static_cast<std::size_t>(static_cast<double>(n - offset) * ratio_) + 256;
      const std::size_t base = out.size();
      out.resize(base + room);
      SRC_DATA d{};
      d.data_in = in + offset;
      d.input_frames = static_cast<long>(n - offset);
      d.data_out = out.data() + base;
      d.output_frames = static_cast<long>(room);
      d.end_of_input = last ? 1 : 0;
      d.src_ratio = ratio_;
      if (int err = src_process(src_.get(), &d); err != 0) {
        std::fprintf(stderr, "src_process: %s\n", src_strerror(err));
        std::exit(1);
      }
      out.resize(base + static_cast<std::size_t>(d.output_frames_gen));
      offset += static_cast<std::size_t>(d.input_frames_used);
      if (offset >= n && (!last || d.output_frames_gen == 0)) break;
    }
  }

 private:
  std::unique_ptr<SRC_STATE, SrcDeleter> src_;
  double ratio_;
};

struct Candidate {
  std::string name;
  std::function<std::unique_ptr<Resampler>(double)> make;
};

std::vector<float> RunThrough(Resampler& r, const std::vector<float>& in) {
  std::vector<float> out;
  out.reserve(static_cast<std::size_t>(static_cast<double>(in.size()) * 3));
  for (std::size_t i = 0; i < in.size(); i += kBlock) {
    const std::size_t n = std::min(kBlock, in.size() - i);
    r.Process(in.data() + i, n, i + n >= in.size(), out);
  }
  return out;
}

std::vector<float> Tones(const std::vector<double>& freqs, double rate, double seconds) {
  std::vector<float> s(static_cast<std::size_t>(seconds * rate));
  const double a = kAmplitude / static_cast<double>(freqs.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    double v = 0;
    for (double f : freqs) v += a * std::sin(2 * M_PI * f * static_cast<double>(i) / rate);
    s[i] = static_cast<float>(v);
  }
  return s;
}

double Db(double ratio) { return 20 * std::log10(std::max(ratio, 1e-12)); }

// Error of the output against the same tones sampled at 44100 Hz: signal-to-(noise +
// distortion + images + aliases) ratio in dB, over the middle of the signal.
double SnrDb(const std::vector<float>& out, const std::vector<double>& freqs) {
  const auto ref = Tones(freqs, kOutRate, kSignalSeconds);
  const auto edge = static_cast<std::size_t>(kEdgeSeconds * kOutRate);
  double sig = 0, err = 0;
  for (std::size_t i = edge; i + edge < ref.size() && i < out.size(); ++i) {
    sig += static_cast<double>(ref[i]) * ref[i];
    const double e = static_cast<double>(out[i]) - ref[i];
    err += e * e;
  }
  return 10 * std::log10(sig / std::max(err, 1e-30));
}

// Level of the output relative to the input's amplitude, in dB (for a tone the output
// cannot hold: what is left is alias).
double LevelDb(const std::vector<float>& out) {
  const auto edge = static_cast<std::size_t>(kEdgeSeconds * kOutRate);
  double e = 0;
  std::size_t n = 0;
  for (std::size_t i = edge; i + edge < out.size(); ++i, ++n)
    e += static_cast<double>(out[i]) * out[i];
  const double rms = std::sqrt(e / static_cast<double>(std::max<std::size_t>(n, 1)));
  return Db(rms / (kAmplitude / std::sqrt(2.0)));
}

double MsPerMinute(const Candidate& c, double rate, int runs) {
  std::vector<float> noise(static_cast<std::size_t>(kSpeedSeconds * rate));
  std::uint32_t x = 12345;
  for (float& v : noise) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<float>(static_cast<double>(x >> 8) / (1 << 24) - 0.5) * 0.5f;
  }
  double best = 1e30;
  for (int k = 0; k < runs; ++k) {
    auto r = c.make(rate);
    const auto t0 = std::chrono::steady_clock::now();
    const auto out = RunThrough(*r, noise);
    const auto t1 = std::chrono::steady_clock::now();
    if (out.empty()) std::exit(1);
    best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  return best * 60 / kSpeedSeconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::vector<Candidate> candidates = {
      {"soxr HQ", [](double r) { return std::make_unique<SoxrResampler>(r, SOXR_HQ); }},
      {"soxr VHQ", [](double r) { return std::make_unique<SoxrResampler>(r, SOXR_VHQ); }},
      {"soxr MQ", [](double r) { return std::make_unique<SoxrResampler>(r, SOXR_MQ); }},
      {"src best",
       [](double r) { return std::make_unique<SrcResampler>(r, SRC_SINC_BEST_QUALITY); }},
      {"src medium",
       [](double r) { return std::make_unique<SrcResampler>(r, SRC_SINC_MEDIUM_QUALITY); }},
      {"src fastest", [](double r) { return std::make_unique<SrcResampler>(r, SRC_SINC_FASTEST); }},
  };
  const double rates[] = {22050, 32000, 48000, 96000};

  SoxrResampler probe(48000, SOXR_HQ);
  std::printf("%s (engine %s), %s\n", soxr_version(), probe.Engine(), src_get_version());
  std::printf("quality: signal / (error against the analytic tones at 44100 Hz), dB\n");
  std::printf("  mid   = 440 + 1000 + 3000 Hz, the range of melodies\n");
  std::printf("  high  = a tone at 90%% of the lower Nyquist frequency (passband edge)\n");
  std::printf(
      "  alias = level left of a tone between 22050 Hz and the input's Nyquist frequency, dB\n");
  std::printf("  length = output samples - input * 44100 / rate\n");
  std::printf("speed: ms to resample one minute of mono noise in %zu-sample blocks, best of %d\n\n",
              kBlock, runs);
  std::printf("%-12s %6s %8s %8s %8s %7s %9s\n", "resampler", "rate", "mid", "high", "alias",
              "length", "ms/min");
  for (const Candidate& c : candidates) {
    for (double rate : rates) {
      const std::vector<double> mid = {440, 1000, 3000};
      const std::vector<double> high = {0.9 * std::min(rate, kOutRate) / 2};
      auto r1 = c.make(rate);
      const auto in = Tones(mid, rate, kSignalSeconds);
      const auto outMid = RunThrough(*r1, in);
      auto r2 = c.make(rate);
      const auto outHigh = RunThrough(*r2, Tones(high, rate, kSignalSeconds));
      char alias[16] = "-";
      if (rate > kOutRate) {
        auto r3 = c.make(rate);
        const double above = (kOutRate / 2 + rate / 2) / 2;  // between the two Nyquist frequencies
        std::snprintf(alias, sizeof alias, "%.1f",
                      LevelDb(RunThrough(*r3, Tones({above}, rate, kSignalSeconds))));
      }
      const double expected = static_cast<double>(in.size()) * kOutRate / rate;
      std::printf("%-12s %6.0f %8.1f %8.1f %8s %+7.1f %9.1f\n", c.name.c_str(), rate,
                  SnrDb(outMid, mid), SnrDb(outHigh, high), alias,
                  static_cast<double>(outMid.size()) - expected, MsPerMinute(c, rate, runs));
    }
  }
  return 0;
}
