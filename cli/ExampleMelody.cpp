#include "ExampleMelody.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace zuroka {

namespace {
constexpr double kAttack = 0.01;   // seconds
constexpr double kRelease = 0.03;  // seconds

void Put32(std::vector<unsigned char>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void Put16(std::vector<unsigned char>& b, std::uint16_t v) {
  b.push_back(static_cast<unsigned char>(v));
  b.push_back(static_cast<unsigned char>(v >> 8));
}
}  // namespace

std::vector<std::int16_t> SynthesizeMelody(const std::vector<MelodyNote>& notes, int rate,
                                           int harmonics, double peak) {
  double norm = 0;
  for (int h = 1; h <= harmonics; ++h) norm += 1.0 / h;
  std::vector<std::int16_t> out;
  for (const MelodyNote& n : notes) {
    const auto len = static_cast<std::size_t>(n.seconds * rate);
    const double f = 440.0 * std::pow(2.0, (n.note - 69) / 12.0);
    for (std::size_t t = 0; t < len; ++t) {
      double v = 0;
      if (n.note > 0) {
        const double time = static_cast<double>(t) / rate;
        for (int h = 1; h <= harmonics; ++h) v += std::sin(2 * M_PI * f * h * time) / h;
        const double left = static_cast<double>(len - t) / rate;
        const double env = std::min({1.0, time / kAttack, left / kRelease});
        v *= env * peak / norm;
      }
      out.push_back(static_cast<std::int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0))));
    }
  }
  return out;
}

std::vector<MelodyNote> ExampleTune(double seconds) {
  // Quarter notes and eighths of a simple phrase in C major, with a rest.
  static const MelodyNote kPhrase[] = {
      {60, 0.5},  {62, 0.5},  {64, 0.5},  {65, 0.5},  {67, 1.0}, {67, 1.0},
      {69, 0.25}, {69, 0.25}, {69, 0.25}, {69, 0.25}, {67, 1.0}, {0, 0.5},
      {65, 0.5},  {64, 0.5},  {62, 0.5},  {60, 1.0},  {0, 0.5},
  };
  std::vector<MelodyNote> tune;
  double total = 0;
  while (total < seconds) {
    for (const MelodyNote& n : kPhrase) {
      if (total >= seconds) break;
      const double d = std::min(n.seconds, seconds - total);
      tune.push_back({n.note, d});
      total += d;
    }
  }
  return tune;
}

bool WriteWav(const std::string& path, const std::vector<std::int16_t>& samples, int channels,
              int rate, int bits) {
  const int bytesPerSample = bits / 8;
  const auto dataSize = static_cast<std::uint32_t>(
      samples.size() * static_cast<std::size_t>(channels * bytesPerSample));
  std::vector<unsigned char> b;
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  Put32(b, 36 + dataSize);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(b, 16);
  Put16(b, 1);
  Put16(b, static_cast<std::uint16_t>(channels));
  Put32(b, static_cast<std::uint32_t>(rate));
  Put32(b, static_cast<std::uint32_t>(rate * channels * bytesPerSample));
  Put16(b, static_cast<std::uint16_t>(channels * bytesPerSample));
  Put16(b, static_cast<std::uint16_t>(bits));
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  Put32(b, dataSize);
  b.reserve(b.size() + dataSize);
  for (std::int16_t s : samples) {
    for (int c = 0; c < channels; ++c) {
      if (bits == 16) {
        Put16(b, static_cast<std::uint16_t>(s));
      } else {
        // Other widths only for refusal tests: the top byte(s) of the sample.
        for (int k = 0; k < bytesPerSample; ++k) {
          b.push_back(static_cast<unsigned char>((static_cast<std::uint16_t>(s) >> 8) + k));
        }
      }
    }
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!f) return false;
  return std::fwrite(b.data(), 1, b.size(), f.get()) == b.size();
}

}  // namespace zuroka
