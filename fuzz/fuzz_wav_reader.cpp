// The WAV reader on arbitrary bytes: any result, but the counts it reports must be
// readable without going outside an array, and no more memory than the file holds.
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
  const SSampleView v = wav.GetSamples();
  FUZZ_CHECK(v.count == count);
  FUZZ_CHECK(v.stored <= count);
  // Stored samples never exceed what the file can hold.
  FUZZ_CHECK(static_cast<std::size_t>(v.stored) <= size / 2 + 1);
  std::int64_t sum = 0;
  for (std::int32_t i = 0; i < v.stored; ++i) sum += v.data[i];
  if (count > 0) sum += v[count - 1];
  (void)sum;
  FUZZ_CHECK(v[0] >= -32768 && v[0] <= 32767);
  return 0;
}
