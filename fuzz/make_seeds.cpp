// Writes the seed corpus of the fuzz targets: small generated WAV files (well formed,
// stereo, with a foreign chunk, cut short, 8-bit), grids-and-gestures byte strings,
// and edit lists. Usage: make_seeds DIR (creates DIR/<target>/...).
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ExampleMelody.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& p, const std::vector<std::uint8_t>& b) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::vector<std::uint8_t> Read(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> Wav(const fs::path& tmp, const std::vector<zuroka::MelodyNote>& tune,
                              int channels = 1, int bits = 16) {
  zuroka::WriteWav(tmp.string(), zuroka::SynthesizeMelody(tune, 44100, 4, 9000), channels, 44100,
                   bits);
  return Read(tmp);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const fs::path dir = argv[1];
  const fs::path tmp = dir / "tmp.wav";
  fs::create_directories(dir);

  const std::vector<zuroka::MelodyNote> tune = {{60, 0.12}, {67, 0.12}, {64, 0.1}};
  auto mono = Wav(tmp, tune);
  auto stereo = Wav(tmp, {{57, 0.1}, {72, 0.06}}, 2);
  auto eight = Wav(tmp, {{60, 0.01}}, 1, 8);
  // A LIST chunk between the format and the data chunk.
  auto list = mono;
  const std::vector<std::uint8_t> chunk = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
  list.insert(list.begin() + 36, chunk.begin(), chunk.end());
  auto cut = mono;
  cut.resize(cut.size() / 2);
  for (const char* target : {"fuzz_wav_reader", "fuzz_conversion"}) {
    Write(dir / target / "mono.wav", mono);
    Write(dir / target / "stereo.wav", stereo);
    Write(dir / target / "list.wav", list);
    Write(dir / target / "cut.wav", cut);
    Write(dir / target / "eight.wav", eight);
  }

  for (int s = 0; s < 4; ++s) {
    std::vector<std::uint8_t> b(96 + 64 * s);
    for (std::size_t i = 0; i < b.size(); ++i)
      b[i] = static_cast<std::uint8_t>((i * 37 + s * 101) ^ (i >> 2));
    Write(dir / "fuzz_edit" / ("g" + std::to_string(s)), b);
  }

  const char* edits[] = {
      R"([{"button": "left", "from": [10, 60], "to": [40, 62]}])",
      R"([{"button": "right", "from": [0, 60], "to": [200, 60]}, {"button": "middle", "from": [1, 2], "to": [3, 4]}])",
      R"([])",
      R"({"button": "left"})",
  };
  for (int k = 0; k < 4; ++k) {
    const std::string t = edits[k];
    Write(dir / "fuzz_edits_reader" / ("e" + std::to_string(k) + ".json"), {t.begin(), t.end()});
  }
  fs::remove(tmp);
  return 0;
}
