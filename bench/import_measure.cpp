// Import's share of a conversion's time and memory, one process per measurement.
//   import_measure make FILE SECONDS RATE BITS CHANNELS   writes the example melody as FLAC
//   import_measure import FILE                            imports it; prints time and peak RSS
// bench/import_cost runs both against the converter on the 44.1 kHz 16-bit mono WAV.
#include <sndfile.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ExampleMelody.h"
#include "SAudioImport.h"

namespace {

struct SndfileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};

int Make(const std::string& path, double seconds, int rate, int bits, int channels) {
  const auto tune = zuroka::SynthesizeMelody(zuroka::ExampleTune(seconds), rate);
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_FLAC | (bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
  std::unique_ptr<SNDFILE, SndfileCloser> f(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!f) {
    std::fprintf(stderr, "import_measure: %s: %s\n", path.c_str(), sf_strerror(nullptr));
    return 1;
  }
  constexpr std::size_t kBlock = 65536;
  std::vector<short> frames;
  for (std::size_t i = 0; i < tune.size(); i += kBlock) {
    const std::size_t n = std::min(kBlock, tune.size() - i);
    frames.assign(n * static_cast<std::size_t>(channels), 0);
    for (std::size_t k = 0; k < n; ++k) {
      for (int c = 0; c < channels; ++c) frames[k * channels + c] = tune[i + k];
    }
    sf_writef_short(f.get(), frames.data(), static_cast<sf_count_t>(n));
  }
  return 0;
}

int Import(const std::string& path) {
  const auto t0 = std::chrono::steady_clock::now();
  SAudioImport im;
  if (im.Import(path) != SAudioImport::kImported) {
    std::fprintf(stderr, "import_measure: %s: %s\n", path.c_str(), im.GetFailureText().c_str());
    return 1;
  }
  const auto t1 = std::chrono::steady_clock::now();
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("%s: %zu samples at 44100 Hz, %.3f s, peak RSS %ld KB, samples %zu KB\n",
              im.GetSourceFormat().Describe().c_str(), im.GetSamples().size(),
              std::chrono::duration<double>(t1 - t0).count(), ru.ru_maxrss,
              im.GetSamples().size() * sizeof(std::int16_t) / 1024);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "make" && argc == 7) {
    return Make(argv[2], std::atof(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                std::atoi(argv[6]));
  }
  if (mode == "import" && argc == 3) return Import(argv[2]);
  std::fprintf(stderr,
               "usage: import_measure make FILE SECONDS RATE BITS CHANNELS\n"
               "       import_measure import FILE\n");
  return 2;
}
