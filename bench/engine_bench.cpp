// Speed of the engine: one frame's analysis, and the whole conversion of a
// synthesized ten-minute mono melody (read, frames, tracks, tempo, write) on one
// thread and with frames analysed ahead on a second (wall time).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "ExampleMelody.h"
#include "LiteralAnalyzer.h"
#include "SEngine.h"

namespace {

constexpr double kTenMinutes = 600;

bool madeWav = false;

const std::string& TenMinuteWav() {
  static const std::string path = [] {
    madeWav = true;
    const std::string p = (std::filesystem::temp_directory_path() /
                           ("zuroka-bench-" + std::to_string(::getpid()) + ".wav"))
                              .string();
    zuroka::WriteWav(p, zuroka::SynthesizeMelody(zuroka::ExampleTune(kTenMinutes)));
    return p;
  }();
  return path;
}

void BM_Analyze(benchmark::State& state) {
  const auto tune = zuroka::SynthesizeMelody(zuroka::ExampleTune(4));
  std::vector<std::int32_t> samples(tune.begin(), tune.end());
  SFFT fft;
  fft.ForcePortable(state.range(0) == 0);
  std::int32_t offset = 0;
  for (auto _ : state) {
    fft.Analyze(samples.data(), offset, 11, 0.7, 0.6);
    benchmark::DoNotOptimize(fft.GetCepstrum()[100]);
    offset += 1024;
    if (offset + 2048 >= static_cast<std::int32_t>(samples.size())) offset = 0;
  }
  state.SetLabel(state.range(0) ? "vector butterflies" : "portable butterflies");
}
BENCHMARK(BM_Analyze)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// The same frames through the plain steps as written, for the ratio.
void BM_AnalyzeLiteral(benchmark::State& state) {
  const auto tune = zuroka::SynthesizeMelody(zuroka::ExampleTune(4));
  std::vector<std::int32_t> samples(tune.begin(), tune.end());
  static LiteralAnalyzer ref;
  std::int32_t offset = 0;
  for (auto _ : state) {
    ref.Analyze(samples.data(), offset, 0.7, 0.6);
    benchmark::DoNotOptimize(ref.cepstrum[100]);
    offset += 1024;
    if (offset + 2048 >= static_cast<std::int32_t>(samples.size())) offset = 0;
  }
}
BENCHMARK(BM_AnalyzeLiteral)->Unit(benchmark::kMicrosecond);

void BM_ConvertTenMinutes(benchmark::State& state) {
  const std::string wav = TenMinuteWav();
  const std::string mid = wav + ".mid";
  for (auto _ : state) {
    SFixedSeam seam;
    SEngine engine(seam);
    engine.wavFile.Open(wav);
    SConvertRequest request;
    request.midiFileName = mid;
    request.threads = static_cast<int>(state.range(0));
    state.counters["frames"] = engine.Convert(request).frames;
  }
  std::filesystem::remove(mid);
  state.SetLabel(std::to_string(state.range(0)) + (state.range(0) == 1 ? " thread" : " threads"));
}
BENCHMARK(BM_ConvertTenMinutes)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (madeWav) std::filesystem::remove(TenMinuteWav());
  return 0;
}
