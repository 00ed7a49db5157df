// zuroka-example: writes a synthesized example melody as a 16-bit WAV file, mono or
// (--stereo) with the melody in both channels.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ExampleMelody.h"

int main(int argc, char** argv) {
  int channels = 1;
  if (argc > 1 && std::string(argv[1]) == "--stereo") {
    channels = 2;
    --argc;
    ++argv;
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: zuroka-example [--stereo] OUT.wav [SECONDS]\n");
    return 2;
  }
  const double seconds = argc == 3 ? std::atof(argv[2]) : 8.0;
  if (!(seconds > 0 && seconds <= 3600)) {
    std::fprintf(stderr, "zuroka-example: SECONDS must be between 0 and 3600\n");
    return 2;
  }
  if (!zuroka::WriteWav(argv[1], zuroka::SynthesizeMelody(zuroka::ExampleTune(seconds)),
                        channels)) {
    std::fprintf(stderr, "zuroka-example: %s: cannot write\n", argv[1]);
    return 1;
  }
  return 0;
}
