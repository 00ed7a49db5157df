#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "SEngine.h"
#include "SNoteEdit.h"
#include "SStandardMidi.h"

// One file's conversion without a window: the same engine steps the main window runs.
namespace zuroka {

struct ConvertOptions {
  int cpPercent = 60;        // 30..100
  int dbPercent = 70;        // 30..100
  int border = 3;            // 1..100
  std::optional<int> tempo;  // bpm 10..240; the clamped estimate when absent
  // Recording for --timing exact: at `tempo`, or at the clamped estimate without it.
  SStandardMidi::Timing timing = SStandardMidi::Timing::Default;
  std::string output;           // MIDI file; beside the WAV when empty
  std::string notesFile;        // JSON list of notes; none when empty
  std::vector<SGesture> edits;  // applied in order after the conversion, as in the roll
  bool infoOnly = false;
  // The engine's reader alone: every WAV read as 44100 samples per second whatever its
  // header says, nothing imported (comparisons with files written before).
  bool literal = false;
  int threads = SConvertRequest::kDefaultThreads;  // of the frame loop; 1: all on one thread
};

// Frame-loop threads for each file when `jobs` files are converted at once out of
// `files`, on `cores` cores: the cores shared out among the files that run side by
// side, at least 1 and at most kMaxFileThreads, so the cores are not oversubscribed.
inline constexpr int kMaxFileThreads = 4;  // beyond this the in-order steps bound the speed
int ThreadsPerFile(int cores, int jobs, std::size_t files);

struct ConvertResult {
  bool ok = false;
  std::string out;               // what goes to stdout
  std::vector<std::string> err;  // lines for stderr, without the program name
};

// For each input of a batch that writes its MIDI file beside it: the earlier input whose
// MIDI file is the same file (song.wav and song.flac both give song.mid), or empty. The
// same input named twice is no clash (see Repeats).
std::vector<std::string> OutputClashes(const std::vector<std::string>& inputs);
// For each input, the index of an earlier input that names the same file, by any
// spelling of its path, or kNotRepeated. A repeat is not opened again: it takes the
// earlier one's result, since two jobs opening one file at once would find it locked.
inline constexpr std::size_t kNotRepeated = static_cast<std::size_t>(-1);
std::vector<std::size_t> Repeats(const std::vector<std::string>& inputs);
// The message for an input that OutputClashes refuses.
std::string ClashText(const std::string& input, const std::string& earlier);

// Converts one file. onFrame(done, total) reports progress (may be empty).
ConvertResult ConvertFile(const std::string& wav, const ConvertOptions& options,
                          const std::function<void(int, int)>& onFrame);

}  // namespace zuroka
