#include "ImportSignals.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace importtest {

namespace {

constexpr double kNoteSeconds = 0.25;
constexpr double kAttack = 0.01;   // seconds, raised cosine
constexpr double kRelease = 0.03;  // seconds, raised cosine
constexpr int kHarmonics = 4;
constexpr double kPeak = 0.45;
constexpr int kNotes[] = {60, 64, 67, 72, 71, 67, 64, 62, 57, 65, 69, 76};

double Ramp(double t, double len) { return t >= len ? 1.0 : 0.5 - 0.5 * std::cos(M_PI * t / len); }

struct SndfileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};

template <typename T, typename Writer>
bool Write(const std::string& path, int format, int rate, int channels, const std::vector<T>& first,
           const std::vector<T>& counter, Writer write) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  std::unique_ptr<SNDFILE, SndfileCloser> f(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!f) return false;
  std::vector<T> frames(first.size() * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < first.size(); ++i) {
    frames[i * channels] = first[i];
    for (int c = 1; c < channels; ++c) frames[i * channels + c] = counter[i];
  }
  return write(f.get(), frames.data(), static_cast<sf_count_t>(first.size())) ==
         static_cast<sf_count_t>(first.size());
}

}  // namespace

std::vector<double> Melody(int rate, double seconds) {
  std::vector<double> out(static_cast<std::size_t>(seconds * rate));
  double norm = 0;
  for (int h = 1; h <= kHarmonics; ++h) norm += 1.0 / h;
  const int count = static_cast<int>(std::size(kNotes));
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / rate;
    const int k = static_cast<int>(t / kNoteSeconds);
    const double local = t - k * kNoteSeconds;
    const double f = 440.0 * std::pow(2.0, (kNotes[k % count] - 69) / 12.0);
    double v = 0;
    for (int h = 1; h <= kHarmonics; ++h) v += std::sin(2 * M_PI * f * h * local) / h;
    const double env = Ramp(local, kAttack) * Ramp(kNoteSeconds - local, kRelease);
    out[i] = v * env * kPeak / norm;
  }
  return out;
}

int MelodyNoteAt(int k) { return kNotes[k % static_cast<int>(std::size(kNotes))]; }

std::vector<double> Counter(int rate, std::size_t frames) {
  std::vector<double> out(frames);
  for (std::size_t i = 0; i < frames; ++i) out[i] = 0.3 * std::sin(2 * M_PI * 311.0 * i / rate);
  return out;
}

std::vector<std::int16_t> Round16(const std::vector<double>& v) {
  std::vector<std::int16_t> out(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) {
    out[i] = static_cast<std::int16_t>(std::lround(std::clamp(v[i] * 32768.0, -32768.0, 32767.0)));
  }
  return out;
}

bool WriteSound(const std::string& path, int format, int rate, int channels,
                const std::vector<double>& first) {
  return Write(path, format, rate, channels, first, Counter(rate, first.size()), &sf_writef_double);
}

bool WriteSound(const std::string& path, int format, int rate, int channels,
                const std::vector<std::int16_t>& first) {
  const int sub = format & SF_FORMAT_SUBMASK;
  if (sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE) {
    // libsndfile stores 16-bit values in float files unscaled; v / 32768 is exact in both.
    std::vector<double> v(first.size());
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = first[i] / 32768.0;
    const auto counter = Round16(Counter(rate, first.size()));
    std::vector<double> c(counter.size());
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = counter[i] / 32768.0;
    return Write(path, format, rate, channels, v, c, &sf_writef_double);
  }
  return Write(path, format, rate, channels, first, Round16(Counter(rate, first.size())),
               &sf_writef_short);
}

int MaxDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  int worst = 0;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    worst = std::max(worst, std::abs(a[i] - b[i]));
  }
  return worst;
}

}  // namespace importtest
