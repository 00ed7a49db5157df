// The whole conversion of short inputs, by the road a file takes: the WAV reader (and
// resampling, for a 16-bit WAV at another rate) or the importer of every other format,
// then frames, tracks, grids, tempo and the MIDI bytes. Every grid must hold whole notes, and the
// MIDI file must parse with a strict reader that finds a Note Off for every Note On.
#include <stdexcept>

#include "FuzzFile.h"
#include "MidiDump.h"
#include "SEngine.h"
#include "SNoteEdit.h"
#include "SOpenRecording.h"

namespace {
// Inputs whose header claims more are answered, but not analysed frame by frame here.
constexpr std::int32_t kMaxSamples = 1 << 17;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The last three bytes choose the options within their ranges.
  int cp = 60, db = 70, border = 3;
  if (size >= 3) {
    cp = 30 + 5 * (data[size - 1] % 15);
    db = 30 + 5 * (data[size - 2] % 15);
    border = 1 + data[size - 3] % 100;
  }
  FuzzFile file(data, size);
  SFixedSeam seam(cp, db, border);
  SEngine engine(seam);
  // Odd sizes stream an import into the run; even ones decode it whole first.
  const bool streamed = size % 2 == 1;
  const SRecording rec = OpenRecording(engine.wavFile, file.path(), false, streamed);
  if (!rec.Opened()) {
    // Refused: a reason, and no samples left behind.
    FUZZ_CHECK(!rec.failure.empty());
    FUZZ_CHECK(!engine.wavFile.IsLoaded() && engine.wavFile.Samples() == nullptr);
    return 0;
  }
  FUZZ_CHECK(rec.failure.empty());
  FUZZ_CHECK(engine.wavFile.GetMissingSamples() >= 0);
  if (engine.wavFile.GetSampleCount() > kMaxSamples) return 0;
  SConvertRequest request;
  request.midiFileName = file.path() + ".mid";
  request.write = false;
  const SConversion run = engine.Convert(request);
  if (run.status == SConversion::Status::ReadFailed) {
    // Only a streamed import stops part-way, and it says why.
    FUZZ_CHECK(streamed && rec.road == SRecording::Road::Imported && !engine.ReadError().empty());
    return 0;
  }
  FUZZ_CHECK(run.Succeeded());
  FUZZ_CHECK(!SNoteEdit::FindMalformedCell(engine.marks, engine.pitches));
  FUZZ_CHECK(seam.messages == 0);
  for (auto timing : {SStandardMidi::Timing::Default, SStandardMidi::Timing::Exact,
                      SStandardMidi::Timing::Recording}) {
    const auto bytes =
        engine.midi.Build(engine.marks.GetMaxRow() + 1, run.frames, run.tempo, timing);
    try {
      (void)DumpMidi(bytes);
    } catch (const std::runtime_error&) {
      __builtin_trap();
    }
  }
  return 0;
}
