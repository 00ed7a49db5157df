// zuroka-convert: transcribes the melody of 16-bit WAV files into Standard MIDI Files.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

#include "Converter.h"
#include "EditsFile.h"
#include "EngineConstants.h"

namespace {

constexpr const char* kProgram = "zuroka-convert";
constexpr const char* kVersion = "1.0.1";
constexpr int kBarWidth = 30;

// A one-line progress bar on stderr, shared by the worker threads.
class Progress {
 public:
  explicit Progress(bool on) : on(on) {}
  void Update(std::size_t file, std::size_t files, int done, int total) {
    if (!on || total <= 0) return;
    const int filled = static_cast<int>(static_cast<long long>(done) * kBarWidth / total);
    if (filled == lastFilled && done != total) return;
    std::lock_guard lock(mutex);
    lastFilled = filled;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    std::fprintf(stderr, "\r[%s] %3d%%  file %zu of %zu", bar.c_str(),
                 static_cast<int>(100LL * done / total), file + 1, files);
    std::fflush(stderr);
    dirty = true;
  }
  void Clear() {
    std::lock_guard lock(mutex);
    if (dirty) std::fputs("\r\033[K", stderr);
    dirty = false;
  }

 private:
  bool on;
  std::mutex mutex;
  int lastFilled = -1;
  bool dirty = false;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Transcribes the melody of 16-bit PCM WAV files into Standard MIDI Files.",
               kProgram};
  zuroka::ConvertOptions o;
  std::vector<std::string> inputs;
  int tempo = 0;
  std::string timing;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  int jobs = cores;
  int fileThreads = 0;
  bool quiet = false;

  app.add_option("FILE.wav", inputs, "WAV files to convert")->required();
  app.add_option("-o", o.output, "output file (one input only); default: beside the WAV, extension \"mid\"")
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
  auto* tempoOpt = app.add_option("--tempo", tempo, "tempo to write, 10..240 (default: the estimate, clamped to 10..240)")
                       ->check(CLI::Range(zuroka::kMinTempo, zuroka::kMaxTempo))
                       ->option_text("BPM");
  auto* timingOpt =
      app.add_option("--timing", timing,
                     "exact: keep the recording's timing (a Set Tempo event that makes one frame "
                     "last exactly 1024/44100 s, tick fractions carried)")
          ->check(CLI::IsMember({"exact"}))
          ->option_text("exact");
  timingOpt->excludes(tempoOpt);
  app.add_option("--notes", o.notesFile, "also write the notes as JSON (one input only)")
      ->option_text("FILE");
  std::string editsFile;
  app.add_option("--edits", editsFile,
                 "apply the gestures of a JSON file after the conversion, as the piano roll "
                 "would, then write the file as Remake does (one input only)")
      ->option_text("EDITS.json");
  app.add_flag("--info", o.infoOnly, "print each file's information text and convert nothing");
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
  app.set_version_flag("--version", std::string(kProgram) + " " + kVersion);

  try {
    app.parse(argc, argv);
    if (inputs.size() > 1 && !o.output.empty()) throw CLI::ValidationError("-o", "takes one input file only");
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
  if (timing == "exact") o.timing = SStandardMidi::Timing::Exact;

  Progress progress(!quiet && !o.infoOnly && ::isatty(STDERR_FILENO));
  const std::size_t n = inputs.size();
  std::vector<zuroka::ConvertResult> results(n);
  std::vector<char> done(n, 0);
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<std::size_t> next{0};

  auto worker = [&] {
    for (std::size_t i; (i = next++) < n;) {
      auto r = zuroka::ConvertFile(inputs[i], o, [&](int d, int t) { progress.Update(i, n, d, t); });
      std::lock_guard lock(mutex);
      results[i] = std::move(r);
      done[i] = 1;
      changed.notify_all();
    }
  };
  std::vector<std::thread> threads;
  const int workers = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(jobs), n));
  for (int t = 0; t < workers; ++t) threads.emplace_back(worker);

  // Results in the order of the arguments, each as soon as it and all before it are done.
  bool allOk = true;
  for (std::size_t i = 0; i < n; ++i) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return done[i] != 0; });
    const zuroka::ConvertResult r = std::move(results[i]);
    lock.unlock();
    progress.Clear();
    for (const std::string& line : r.err) std::cerr << kProgram << ": " << line << '\n';
    std::cout << r.out << std::flush;
    allOk = allOk && r.ok;
  }
  for (auto& t : threads) t.join();
  progress.Clear();
  return allOk ? 0 : 1;
}
