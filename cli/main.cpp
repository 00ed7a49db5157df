// zuroka-convert: transcribes the melody of recordings into Standard MIDI Files.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Converter.h"
#include "EditsFile.h"
#include "EngineConstants.h"

namespace {

constexpr const char* kProgram = "zuroka-convert";
constexpr int kBarWidth = 30;

// A one-line progress bar on stderr for the whole batch, shared by the worker threads:
// the share of all files' frames done, and how many files are finished.
class Progress {
 public:
  Progress(bool on, std::size_t files) : on(on), share(files, 0.0) {}

  // file (0-based) has done frames of total; any thread.
  void Update(std::size_t file, int done, int total) {
    if (!on || total <= 0) return;
    std::lock_guard lock(mutex);
    SetShare(file, static_cast<double>(done) / total);
    Draw();
  }
  // file is finished, converted or not; any thread.
  void Finish(std::size_t file) {
    if (!on) return;
    std::lock_guard lock(mutex);
    SetShare(file, 1.0);
    ++finished;
    Draw();
  }
  // Writes a file's result lines with the bar out of the way, then redraws it.
  void Emit(const std::vector<std::string>& errLines, const std::string& out) {
    std::lock_guard lock(mutex);
    if (drawn) std::fputs("\r\033[K", stderr);
    for (const std::string& line : errLines)
      std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    if (drawn) {
      drawn = false;
      lastFilled = -1;
      Draw();
    }
  }
  void Clear() {
    std::lock_guard lock(mutex);
    if (drawn) std::fputs("\r\033[K", stderr);
    drawn = false;
  }

 private:
  void SetShare(std::size_t file, double value) {
    sum += value - share[file];
    share[file] = value;
  }
  // Only when the picture changes: a frame step is far finer than a bar cell.
  void Draw() {
    const double whole = share.empty() ? 1.0 : sum / static_cast<double>(share.size());
    const int filled = std::clamp(static_cast<int>(whole * kBarWidth), 0, kBarWidth);
    const int percent = std::clamp(static_cast<int>(whole * 100), 0, 100);
    if (filled == lastFilled && percent == lastPercent && finished == lastFinished) return;
    lastFilled = filled;
    lastPercent = percent;
    lastFinished = finished;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    std::fprintf(stderr, "\r[%s] %3d%%  %zu of %zu files", bar.c_str(), percent, finished,
                 share.size());
    std::fflush(stderr);
    drawn = true;
  }

  const bool on;
  std::mutex mutex;
  std::vector<double> share;  // per file, 0..1
  double sum = 0;
  std::size_t finished = 0;
  int lastFilled = -1;
  int lastPercent = -1;
  std::size_t lastFinished = 0;
  bool drawn = false;
};

// What the command line asks for.
struct CommandLine {
  zuroka::ConvertOptions options;
  std::vector<std::string> inputs;
  int jobs = 1;
  bool quiet = false;
};

// Reads the options into cl. Returns the exit status when the program is to end
// here (--help, --version: 0; a usage error: 2, with its message written).
std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine& cl) {
  CLI::App app{
      "Transcribes the melody of recordings (WAV of any sample width, AIFF, FLAC, "
      "Ogg Vorbis, Opus, MP3; any sample rate) into Standard MIDI Files.",
      kProgram};
  zuroka::ConvertOptions& o = cl.options;
  std::vector<std::string>& inputs = cl.inputs;
  int tempo = 0;
  std::string timing;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  int& jobs = cl.jobs;
  jobs = cores;
  int fileThreads = 0;
  bool& quiet = cl.quiet;

  app.add_option("FILE", inputs, "recordings to convert")->required();
  app.add_option("-o", o.output,
                 "output file (one input only); default: beside the recording, extension \"mid\"")
      ->option_text("FILE");
  app.add_option("--cp", o.cpPercent, "cepstrum percentage, 30..100 (default 60)")
      ->check(CLI::Range(zuroka::kMinPercent, zuroka::kMaxPercent))
      ->option_text("PERCENT");
  app.add_option("--db", o.dbPercent, "dB percentage, 30..100 (default 70)")
      ->check(CLI::Range(zuroka::kMinPercent, zuroka::kMaxPercent))
      ->option_text("PERCENT");
  app.add_option("--border", o.border, "notes of N frames or fewer are dropped, 1..100 (default 3)")
      ->check(CLI::Range(zuroka::kMinBorder, zuroka::kMaxBorder))
      ->option_text("N");
  auto* tempoOpt =
      app.add_option("--tempo", tempo,
                     "tempo to write, 10..240 (default: the estimate, clamped to 10..240)")
          ->check(CLI::Range(zuroka::kMinTempo, zuroka::kMaxTempo))
          ->option_text("BPM");
  app.add_option("--timing", timing,
                 "exact: every note at the recording's time (within 1 ms, 3840 ticks per "
                 "quarter note) whatever the tempo; the tempo then sets only the bar lines")
      ->check(CLI::IsMember({"exact"}))
      ->option_text("exact");
  app.add_option("--notes", o.notesFile, "also write the notes as JSON (one input only)")
      ->option_text("FILE");
  std::string editsFile;
  app.add_option("--edits", editsFile,
                 "apply the gestures of a JSON file after the conversion, as the piano roll "
                 "would, then write the file as Remake does (one input only)")
      ->option_text("EDITS.json");
  app.add_flag("--info", o.infoOnly,
               "print each file's information text, its source format and what is analysed, "
               "and convert nothing");
  app.add_flag("--as-44100", o.literal,
               "read WAV files with the engine's reader alone, as 44100 samples per second "
               "whatever their header says, and import nothing (for comparisons with files "
               "written before)");
  app.add_option("-j", jobs, "convert up to N files at once (default: the number of cores)")
      ->check(CLI::PositiveNumber)
      ->option_text("N");
  auto* threadsOpt =
      app.add_option("--threads", fileThreads,
                     "threads for each file's frames, 1..64; 1 keeps the whole conversion on one "
                     "thread (default: the cores shared out among the files converted at once, "
                     "at most 4)")
          ->check(CLI::Range(1, 64))
          ->option_text("N");
  app.add_flag("-q,--quiet", quiet, "no progress bar");
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string(kProgram) + ": " + e.what() + "\nRun with --help for more information.\n";
  });
  app.set_version_flag("--version", std::string(kProgram) + " " + ZUROKA_VERSION);

  try {
    app.parse(argc, argv);
    if (inputs.size() > 1 && !o.output.empty())
      throw CLI::ValidationError("-o", "takes one input file only");
    if (inputs.size() > 1 && !o.notesFile.empty()) {
      throw CLI::ValidationError("--notes", "takes one input file only");
    }
    if (inputs.size() > 1 && !editsFile.empty()) {
      throw CLI::ValidationError("--edits", "takes one input file only");
    }
    if (!editsFile.empty()) {
      std::string error;
      auto edits = zuroka::ReadEdits(editsFile, error);
      if (!edits) throw CLI::ValidationError("--edits", editsFile + ": " + error);
      o.edits = std::move(*edits);
    }
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (*tempoOpt) o.tempo = tempo;
  o.threads = *threadsOpt ? fileThreads : zuroka::ThreadsPerFile(cores, jobs, inputs.size());
  if (timing == "exact") o.timing = SStandardMidi::Timing::Recording;
  return std::nullopt;
}

// Converts every input, up to cl.jobs at once, and writes each file's lines in the
// order of the arguments. True when every file converted.
bool ConvertAll(const CommandLine& cl) {
  const zuroka::ConvertOptions& o = cl.options;
  const std::vector<std::string>& inputs = cl.inputs;
  const std::size_t n = inputs.size();
  Progress progress(!cl.quiet && !o.infoOnly && ::isatty(STDERR_FILENO), n);
  std::vector<zuroka::ConvertResult> results(n);
  std::vector<char> done(n, 0);
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<std::size_t> next{0};

  // Two recordings of one name (song.wav, song.flac) would write one MIDI file: the
  // later one is refused rather than silently replacing the earlier one's result.
  const std::vector<std::string> clashes =
      o.output.empty() && !o.infoOnly ? zuroka::OutputClashes(inputs) : std::vector<std::string>(n);
  const std::vector<std::size_t> repeats = zuroka::Repeats(inputs);

  auto worker = [&] {
    for (std::size_t i; (i = next++) < n;) {
      zuroka::ConvertResult r;
      if (const std::size_t j = repeats[i]; j != zuroka::kNotRepeated) {
        // Claimed before this one, so it is being converted or done.
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return done[j] != 0; });
        r = results[j];
      } else if (!clashes[i].empty()) {
        r.err.push_back(zuroka::ClashText(inputs[i], clashes[i]));
      } else {
        r = zuroka::ConvertFile(inputs[i], o, [&](int d, int t) { progress.Update(i, d, t); });
      }
      progress.Finish(i);
      std::lock_guard lock(mutex);
      results[i] = std::move(r);
      done[i] = 1;
      changed.notify_all();
    }
  };
  std::vector<std::thread> threads;
  const int workers = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(cl.jobs), n));
  threads.reserve(static_cast<std::size_t>(workers));
  for (int t = 0; t < workers; ++t) threads.emplace_back(worker);

  // Results in the order of the arguments, each as soon as it and all before it are done.
  bool allOk = true;
  for (std::size_t i = 0; i < n; ++i) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return done[i] != 0; });
    const zuroka::ConvertResult r = results[i];  // a repeat may still copy it
    lock.unlock();
    progress.Emit(r.err, r.out);
    allOk = allOk && r.ok;
  }
  for (auto& t : threads) t.join();
  progress.Clear();
  return allOk;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    CommandLine cl;
    if (const std::optional<int> status = ParseCommandLine(argc, argv, cl)) return *status;
    return ConvertAll(cl) ? 0 : 1;
  } catch (const std::exception& e) {  // out of memory or threads: one line, not an abort
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    return 1;
  }
}
