// The WAV reader on arbitrary bytes: any result, but the counts it reports must be
// readable without going outside an array, and no more memory than the file holds.
#include <vector>

#include "FuzzFile.h"
#include "SWavFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzFile file(data, size);
  SWavFile wav;
  const std::int32_t result = wav.Open(file.path());
  (void)wav.GetInfoText();
  if (result != SWavFile::kLoaded) {
    FUZZ_CHECK(result == -1 || result == -2 || result == -3 || result == -4);
    FUZZ_CHECK(!wav.IsLoaded() && wav.GetSampleCount() == 0);
    return 0;
  }
  const std::int32_t count = wav.GetSampleCount();
  FUZZ_CHECK(count >= 0);
  std::vector<std::int16_t> stored;
  FUZZ_CHECK(wav.ReadAll(stored));
  FUZZ_CHECK(static_cast<std::int64_t>(stored.size()) == count - wav.GetMissingSamples());
  // Stored samples never exceed what the file can hold.
  FUZZ_CHECK(stored.size() <= size / 2 + 1);
  // A second run reads the same samples.
  std::vector<std::int16_t> again;
  FUZZ_CHECK(wav.ReadAll(again) && again == stored);
  return 0;
}
