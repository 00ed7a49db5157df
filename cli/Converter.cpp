#include "Converter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "SEngine.h"
#include "SErrorText.h"
#include "SNoteEdit.h"
#include "SOpenRecording.h"

namespace zuroka {

namespace {

// Options fixed for the run; engine messages become stderr lines.
class CliSeam : public SFixedSeam {
 public:
  CliSeam(int cp, int db, int border, std::vector<std::string>& err)
      : SFixedSeam(cp, db, border), err(err) {}
  void ShowMessage(const std::string& text, const std::string& caption) override {
    err.push_back(caption.empty() ? text : caption + ": " + text);
  }

 private:
  std::vector<std::string>& err;
};

std::string NotesJson(const SEngine& engine) {
  nlohmann::ordered_json notes = nlohmann::ordered_json::array();
  const SSequence& marks = engine.marks;
  const SSequence& pitches = engine.pitches;
  for (int r = 0; r < marks.GetRows(); ++r) {
    const std::uint8_t* m = marks.Row(r);
    int start = -1;
    for (int f = 0; f < marks.GetFrames(); ++f) {
      if (m[f] == kNoteOnMark && start < 0) {
        start = f;
      } else if (m[f] == kNoteOffMark && start >= 0) {
        notes.push_back({{"row", r},
                         {"start", start},
                         {"end", f},
                         {"note", pitches.Row(r)[start]},
                         {"startSeconds", start * static_cast<double>(kHop) / kSampleRate},
                         {"endSeconds", (f + 1) * static_cast<double>(kHop) / kSampleRate}});
        start = -1;
      }
    }
  }
  return notes.dump(1) + "\n";
}

}  // namespace

int ThreadsPerFile(int cores, int jobs, std::size_t files) {
  // Files converted side by side: no more than there are files.
  const std::size_t side =
      std::clamp<std::size_t>(files, 1, static_cast<std::size_t>(std::max(jobs, 1)));
  const std::size_t share = static_cast<std::size_t>(std::max(cores, 1)) / side;
  return static_cast<int>(std::clamp<std::size_t>(share, 1, kMaxFileThreads));
}

namespace {

// The path a name reaches, spelled one way (falls back to the name, normalised).
std::string SamePath(const std::string& p) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path full = fs::weakly_canonical(fs::absolute(p, ec), ec);
  return ec ? fs::path(p).lexically_normal().string() : full.string();
}

}  // namespace

std::vector<std::string> OutputClashes(const std::vector<std::string>& inputs) {
  std::map<std::string, std::pair<std::string, std::string>> first;  // output: input, its path
  std::vector<std::string> clashes(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::string out = SamePath(ReplaceExt(inputs[i], "mid"));
    const std::string in = SamePath(inputs[i]);
    const auto [at, added] = first.emplace(out, std::pair{inputs[i], in});
    if (!added && at->second.second != in) clashes[i] = at->second.first;
  }
  return clashes;
}

std::vector<std::size_t> Repeats(const std::vector<std::string>& inputs) {
  std::map<std::string, std::size_t> first;  // path: its first input
  std::vector<std::size_t> repeats(inputs.size(), kNotRepeated);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const auto [at, added] = first.emplace(SamePath(inputs[i]), i);
    if (!added) repeats[i] = at->second;
  }
  return repeats;
}

std::string ClashText(const std::string& input, const std::string& earlier) {
  return input + ": not converted: its MIDI file " + ReplaceExt(input, "mid") +
         " would replace that of " + earlier + " (convert it on its own with -o)";
}

ConvertResult ConvertFile(const std::string& wavName, const ConvertOptions& o,
                          const std::function<void(int, int)>& onFrame) {
  ConvertResult res;
  CliSeam seam(o.cpPercent, o.dbPercent, o.border, res.err);
  auto engine = std::make_unique<SEngine>(seam);
  // A conversion streams an import into the run; --info decodes it whole, so that
  // damage anywhere in the file is reported.
  const SRecording rec = OpenRecording(engine->wavFile, wavName, o.literal, !o.infoOnly);
  if (o.infoOnly) {
    const auto why = rec.readerFailure;
    const bool headerRead =
        rec.road == SRecording::Road::Reader || rec.road == SRecording::Road::Resampled ||
        (!rec.Opened() && rec.importFailure == SAudioImport::Failure::None &&
         (why == SWavFile::Failure::NotSixteenBit || why == SWavFile::Failure::NegativeSize ||
          why == SWavFile::Failure::NotWave));
    if (headerRead || rec.Opened()) res.out = wavName + ":\n";
    if (headerRead) res.out += engine->wavFile.GetInfoText();
    if (rec.Opened()) {
      res.out += "Source : " + rec.format.Describe() + "\n";
      res.out += "Analysed : " + SRecording::Analysed(engine->wavFile) + rec.Note() + "\n";
    }
    if (!rec.Opened()) res.err.push_back(wavName + ": " + rec.failure);
    res.ok = rec.Opened();
    return res;
  }
  if (!rec.Opened()) {
    res.err.push_back(wavName + ": " + rec.failure);
    return res;
  }
  if (rec.rateIgnored) {
    res.err.push_back(wavName + ": warning: the header's sample rate (" +
                      std::to_string(engine->wavFile.GetSamplesPerSec()) +
                      " Hz) cannot be used; the samples are read as 44100 per second");
  }
  if (const std::int32_t missing = engine->wavFile.GetMissingSamples(); missing > 0) {
    res.err.push_back(wavName + ": warning: the file ends " + std::to_string(missing) +
                      " samples before its data size; they are read as the last sample value");
  }

  SConvertRequest request;
  request.midiFileName = o.output.empty() ? ReplaceExt(wavName, "mid") : o.output;
  request.timing = o.timing;
  request.threads = o.threads;
  if (onFrame) {
    request.hooks.onFrame = [&onFrame, done = 0, total = engine->AnalyzedFrames()](int) mutable {
      onFrame(++done, total);
    };
  }
  request.hooks.chooseTempo = [&](int estimated) {
    return o.tempo ? *o.tempo : SEngine::ClampTempo(estimated);
  };
  // As the roll would: each gesture through the editing core; the file is then
  // written as Remake writes it, with the time base of the edited grids.
  if (!o.edits.empty()) {
    request.hooks.editGrids = [&] {
      SNoteEdit editor(engine->marks, engine->pitches);
      for (const SGesture& g : o.edits) editor.Apply(g);
    };
  }
  const SConversion run = engine->Convert(request);
  if (run.status == SConversion::Status::NoMemory) {
    res.err.push_back(wavName + ": not enough memory for the note grids");
    return res;
  }
  if (run.status == SConversion::Status::ReadFailed) {
    res.err.push_back(wavName + ": " + engine->ReadError());
    return res;
  }
  if (run.status == SConversion::Status::WriteFailed) {
    res.err.push_back(engine->MidiFileName() +
                      ": cannot write the MIDI file: " + engine->midi.GetError());
    return res;
  }
  if (!o.notesFile.empty()) {
    std::ofstream f(o.notesFile, std::ios::binary | std::ios::trunc);
    f << NotesJson(*engine);
    f.close();
    if (!f) {
      res.err.push_back(o.notesFile + ": cannot write the notes: " + SErrorText(errno));
      return res;
    }
  }
  res.out = wavName + " -> " + engine->MidiFileName() + ": " + std::to_string(run.frames) +
            " frames, " + std::to_string(run.notes) + " notes, tempo " + std::to_string(run.tempo) +
            " bpm" + rec.Note() + "\n";
  res.ok = true;
  return res;
}

}  // namespace zuroka
