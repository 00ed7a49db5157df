#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <sstream>

#include "Converter.h"
#include "ExampleMelody.h"
#include "ImportSignals.h"
#include "MidiDump.h"
#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status;
  std::string out, err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs the converter; asOther runs it as an unprivileged user, so that permissions
// hold even when the tests run as root.
RunResult Convert(const std::vector<std::string>& args, const TempDir& dir, bool asOther = false) {
  std::string cmd;
  if (asOther && ::geteuid() == 0) cmd = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  cmd += Quote(ZUROKA_CONVERT);
  for (const auto& a : args) cmd += " " + Quote(a);
  const std::string out = dir / ".stdout", err = dir / ".stderr";
  cmd += " >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
  const int raw = std::system(cmd.c_str());  // NOLINT(concurrency-mt-unsafe): one thread
  RunResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, {}, {}};
  std::ifstream o(out), e(err);
  std::stringstream so, se;
  so << o.rdbuf();
  se << e.rdbuf();
  r.out = so.str();
  r.err = se.str();
  fs::remove(out);
  fs::remove(err);
  return r;
}

std::string Melody(const TempDir& dir, const std::string& name, double seconds = 3) {
  std::string path = dir / name;
  zuroka::WriteWav(path, zuroka::SynthesizeMelody(zuroka::ExampleTune(seconds)));
  return path;
}

// The Set Tempo line of a dump.
std::string TempoLine(const std::string& dump) {
  std::smatch m;
  return std::regex_search(dump, m, std::regex("tempo [0-9]+ us")) ? m.str() : std::string();
}

struct TableRow {
  std::string input, message;
  int exit;
};

// The bad-file table of the README, so that the document and the program agree.
std::vector<TableRow> ReadmeTable() {
  std::ifstream f(std::string(ZUROKA_SOURCE_DIR) + "/README.md");
  std::vector<TableRow> rows;
  std::string line;
  bool inside = false;
  while (std::getline(f, line)) {
    if (line.rfind("<!-- bad-files", 0) == 0)
      inside = true;
    else if (line.rfind("<!-- end bad-files", 0) == 0)
      break;
    else if (inside && line.rfind("| ", 0) == 0 && line.find("---") == std::string::npos) {
      std::vector<std::string> cells;
      std::stringstream ss(line);
      std::string cell;
      while (std::getline(ss, cell, '|')) {
        cell.erase(0, cell.find_first_not_of(' '));
        cell.erase(cell.find_last_not_of(' ') + 1);
        cells.push_back(cell);
      }
      if (cells.size() >= 4 && cells[1] != "input")
        rows.push_back({cells[1], cells[2], std::stoi(cells[3])});
    }
  }
  return rows;
}

TEST(Converter, EveryRowOfTheBadFileTable) {
  const auto rows = ReadmeTable();
  ASSERT_GE(rows.size(), 14u);
  TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);
  int lockFd = -1;
  // Each row's input, made here. Returns the file to convert and extra arguments.
  std::map<std::string, std::function<std::vector<std::string>()>> make = {
      {"missing file", [&] { return std::vector<std::string>{dir / "missing.wav"}; }},
      {"directory",
       [&] {
         fs::create_directory(dir / "d.wav");
         return std::vector<std::string>{dir / "d.wav"};
       }},
      {"unreadable file",
       [&] {
         const std::string p = Melody(dir, "secret.wav", 0.1);
         fs::permissions(p, fs::perms::none);
         return std::vector<std::string>{p};
       }},
      {"file in use (locked by another program)",
       [&] {
         const std::string p = Melody(dir, "busy.wav", 0.1);
         lockFd = ::open(p.c_str(), O_RDONLY);
         ::flock(lockFd, LOCK_SH);
         return std::vector<std::string>{p};
       }},
      {"empty file",
       [&] {
         WriteBytes(dir / "e.wav", {});
         return std::vector<std::string>{dir / "e.wav"};
       }},
      {"shorter than its header",
       [&] {
         WriteBytes(dir / "s.wav", {'R', 'I', 'F', 'F', 1, 0, 0, 0, 'W', 'A', 'V', 'E'});
         return std::vector<std::string>{dir / "s.wav"};
       }},
      {"not a WAV file (an MP3 renamed)",
       [&] {
         std::vector<std::uint8_t> b(4000, 0x55);
         b[0] = 'I', b[1] = 'D', b[2] = '3';
         WriteBytes(dir / "song.wav", b);
         return std::vector<std::string>{dir / "song.wav"};
       }},
      {"8-bit WAV",
       [&] {
         WriteBytes(dir / "8.wav", WavBytes::Header(1, 8).Tag("data").U32(4).U32(0).Done());
         return std::vector<std::string>{dir / "8.wav"};
       }},
      {"24-bit WAV",
       [&] {
         WriteBytes(dir / "24.wav",
                    WavBytes::Header(1, 24).Tag("data").U32(6).U32(0).U16(0).Done());
         return std::vector<std::string>{dir / "24.wav"};
       }},
      {"32-bit WAV",
       [&] {
         WriteBytes(dir / "32.wav",
                    WavBytes::Header(2, 32).Tag("data").U32(8).U32(0).U32(0).Done());
         return std::vector<std::string>{dir / "32.wav"};
       }},
      {"32-bit float WAV",
       [&] {
         WriteBytes(dir / "f.wav",
                    WavBytes::Header(1, 32, 44100, 16, 3).Tag("data").U32(4).U32(0).Done());
         return std::vector<std::string>{dir / "f.wav"};
       }},
      {"16-bit WAV at 22050 Hz",
       [&] {
         const std::vector<double> tune = importtest::Melody(22050, 1.0);
         importtest::WriteSound(dir / "22k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, tune);
         return std::vector<std::string>{dir / "22k.wav"};
       }},
      {"truncated FLAC",
       [&] {
         importtest::WriteSound(dir / "whole.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2,
                                importtest::Melody(48000, 1.0));
         const auto bytes = ReadBytes(dir / "whole.flac");
         fs::remove(dir / "whole.flac");
         WriteBytes(dir / "cut.flac",
                    {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2)});
         return std::vector<std::string>{dir / "cut.flac"};
       }},
      {"MP3 of random bytes",
       [&] {
         std::mt19937 gen(7);
         std::vector<std::uint8_t> b(20000);
         for (auto& v : b) v = static_cast<std::uint8_t>(gen());
         WriteBytes(dir / "noise.mp3", b);
         return std::vector<std::string>{dir / "noise.mp3"};
       }},
      {"Ogg file with no audio",
       [&] {
         // Vorbis headers and not a single sample.
         SF_INFO info{};
         info.samplerate = 44100;
         info.channels = 1;
         info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
         sf_close(sf_open((dir / "silent.ogg").c_str(), SFM_WRITE, &info));
         return std::vector<std::string>{dir / "silent.ogg"};
       }},
      {"AAC or M4A file",
       [&] {
         // An ftyp box, then noise.
         const std::uint8_t ftyp[] = {0,   0,   0,   0x20, 'f', 't', 'y', 'p', 'M', '4', 'A',
                                      ' ', 0,   0,   0,    0,   'M', '4', 'A', ' ', 'm', 'p',
                                      '4', '2', 'i', 's',  'o', 'm', 0,   0,   0,   0};
         std::vector<std::uint8_t> m4a(4000, 0x5A);
         std::copy(std::begin(ftyp), std::end(ftyp), m4a.begin());
         WriteBytes(dir / "a.m4a", m4a);
         return std::vector<std::string>{dir / "a.m4a"};
       }},
      {"negative data size",
       [&] {
         WriteBytes(dir / "n.wav",
                    WavBytes::Header(1, 16).Tag("data").U32(0xFFFFFFF0u).U32(0).Done());
         return std::vector<std::string>{dir / "n.wav"};
       }},
      {"output folder cannot be written",
       [&] {
         const std::string p = Melody(dir, "ok.wav", 0.5);
         fs::create_directory(dir / "ro");
         fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec |
                                         fs::perms::others_read | fs::perms::others_exec);
         return std::vector<std::string>{p, "-o", dir / "ro/out.mid"};
       }},
      {"data ends before its size (cut short)",
       [&] {
         auto samples = zuroka::SynthesizeMelody(zuroka::ExampleTune(0.5));
         WriteBytes(dir / "cut.wav", WavBytes::Header(1, 16)
                                         .Tag("data")
                                         .U32(static_cast<std::uint32_t>(samples.size() * 2 + 2000))
                                         .Samples(samples)
                                         .Done());
         return std::vector<std::string>{dir / "cut.wav"};
       }},
      {"data size claims gigabytes",
       [&] {
         WriteBytes(dir / "huge.wav", WavBytes::Header(1, 16)
                                          .Tag("data")
                                          .U32(0x7FFFFFF0u)
                                          .Samples(zuroka::SynthesizeMelody({{60, 0.2}}))
                                          .Done());
         return std::vector<std::string>{dir / "huge.wav"};
       }},
  };
  for (const TableRow& row : rows) {
    SCOPED_TRACE(row.input);
    auto it = make.find(row.input);
    ASSERT_NE(it, make.end()) << "no fixture for README row \"" << row.input << "\"";
    const std::vector<std::string> args = it->second();
    std::vector<std::string> all = {"-q"};
    all.insert(all.end(), args.begin(), args.end());
    const bool asOther =
        row.input == "unreadable file" || row.input == "output folder cannot be written";
    const RunResult r = Convert(all, dir, asOther);
    EXPECT_EQ(r.status, row.exit) << r.err;
    // The message names the file and says the cause, as the table gives it.
    std::string pattern =
        std::regex_replace(row.message, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
    pattern = std::regex_replace(pattern, std::regex(" N "), " [0-9]+ ");
    // A file that converts may say how it was read in its one line instead.
    const bool inErr = std::regex_search(r.err, std::regex("zuroka-convert: [^\n]*: " + pattern));
    const bool inLine =
        row.exit == 0 && std::regex_search(r.out, std::regex(" -> [^\n]*bpm \\(" + pattern));
    EXPECT_TRUE(inErr || inLine) << r.err << r.out;
    if (row.exit != 0) {
      EXPECT_EQ(r.out, "");
      // No MIDI file anywhere.
      for (auto& e : fs::recursive_directory_iterator(dir.path())) {
        if (e.path().extension() == ".mid") ADD_FAILURE() << "wrote " << e.path();
      }
    } else {
      EXPECT_NE(r.out.find(" -> "), std::string::npos);
    }
    if (lockFd >= 0) ::close(lockFd), lockFd = -1;
    for (auto& e : fs::directory_iterator(dir.path())) {
      if (e.path().extension() == ".mid") fs::remove(e.path());
    }
  }
}

// The README's command for a collection on one machine, as a reader would copy it.
std::string ReadmeCollectionCommand() {
  std::ifstream f(std::string(ZUROKA_SOURCE_DIR) + "/README.md");
  std::string line, command;
  bool inside = false;
  while (std::getline(f, line)) {
    if (line.rfind("<!-- collection: one machine", 0) == 0)
      inside = true;
    else if (line.rfind("<!-- end collection", 0) == 0)
      break;
    else if (inside && line.rfind("```", 0) != 0)
      command += line + "\n";
  }
  return command;
}

TEST(Converter, TheReadmeCollectionCommandUnderGnuParallel) {
  const std::string command = ReadmeCollectionCommand();
  ASSERT_NE(command.find("parallel zuroka-convert"), std::string::npos) << command;
  ASSERT_EQ(std::system("command -v parallel >/dev/null"), 0)  // NOLINT(concurrency-mt-unsafe)
      << "GNU parallel is missing (scripts/build installs the package parallel)";
  TempDir dir;
  fs::create_directories(dir / "music/live");
  // Three files of different lengths, one in a subfolder and one with a space in its
  // name; each also converted alone (on two threads) for the files to compare.
  const std::vector<std::string> wavs = {Melody(dir, "music/a.wav", 2),
                                         Melody(dir, "music/b c.wav", 3.5),
                                         Melody(dir, "music/live/d.wav", 5)};
  std::vector<std::vector<std::uint8_t>> midis;
  std::vector<nlohmann::json> notes;
  for (const std::string& w : wavs) {
    const RunResult one =
        Convert({"-q", w, "-o", dir / "one.mid", "--notes", dir / "one.json"}, dir);
    ASSERT_EQ(one.status, 0) << one.err;
    midis.push_back(ReadBytes(dir / "one.mid"));
    notes.push_back(nlohmann::json::parse(std::ifstream(dir / "one.json")));
  }
  // The converter on the PATH, as an installed one would be; parallel's own files
  // in the test's folder.
  const std::string bin = fs::path(ZUROKA_CONVERT).parent_path();
  const std::string run = "cd " + Quote(dir / "music") + " && HOME=" + Quote(dir.path()) +
                          " PATH=" + Quote(bin) + ":\"$PATH\" sh -c " + Quote(command) + " >" +
                          Quote(dir / "out") + " 2>" + Quote(dir / "err") + " </dev/null";
  const int raw = std::system(run.c_str());  // NOLINT(concurrency-mt-unsafe): one thread
  const auto out = ReadBytes(dir / "out"), err = ReadBytes(dir / "err");
  const std::string printed(out.begin(), out.end());
  ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0)
      << command << std::string(err.begin(), err.end());
  for (std::size_t k = 0; k < wavs.size(); ++k) {
    SCOPED_TRACE(wavs[k]);
    const fs::path stem = fs::path(wavs[k]).replace_extension();
    EXPECT_EQ(ReadBytes(stem.string() + ".mid"), midis[k]);
    EXPECT_EQ(nlohmann::json::parse(std::ifstream(stem.string() + ".json")), notes[k]);
    EXPECT_NE(printed.find(fs::path(wavs[k]).filename().string() + " -> "), std::string::npos)
        << printed;
  }
}

TEST(Converter, ConvertsBesideTheWavAndReportsOneLine) {
  TempDir dir;
  const std::string wav = Melody(dir, "tune.wav");
  const RunResult r = Convert({wav, "--notes", dir / "notes.json"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no progress bar when stderr is not a terminal
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      r.out, m, std::regex(".* -> (.*): ([0-9]+) frames, ([0-9]+) notes, tempo ([0-9]+) bpm\n")));
  EXPECT_EQ(r.out.substr(0, wav.size()), wav);
  EXPECT_EQ(m[1], dir / "tune.mid");
  EXPECT_EQ(std::stoi(m[2]), static_cast<int>(3 * 44100) / 1024);
  const auto midi = ReadBytes(dir / "tune.mid");
  EXPECT_NO_THROW(DumpMidi(midi));

  const auto notes = nlohmann::json::parse(std::ifstream(dir / "notes.json"));
  ASSERT_EQ(notes.size(), static_cast<std::size_t>(std::stoi(m[3])));
  int lastRow = -1, lastStart = -1;
  for (const auto& n : notes) {
    ASSERT_TRUE(n.contains("row") && n.contains("start") && n.contains("end") &&
                n.contains("note"));
    const int row = n["row"], start = n["start"];
    EXPECT_TRUE(row > lastRow || (row == lastRow && start > lastStart));
    EXPECT_GT(n["end"].get<int>(), start);
    lastRow = row;
    lastStart = start;
  }
  EXPECT_EQ(notes[0]["note"], 60);  // the tune starts on middle C
}

TEST(Converter, ParallelRunsAndThreadCountsGiveTheSameFilesInArgumentOrder) {
  TempDir dir;
  std::vector<std::string> wavs;
  wavs.reserve(4);
  for (int k = 0; k < 4; ++k)
    wavs.push_back(Melody(dir, "t" + std::to_string(k) + ".wav", 1.5 + k));
  auto mids = [&] {
    std::vector<std::vector<std::uint8_t>> m;
    m.reserve(wavs.size());
    for (const auto& w : wavs) m.push_back(ReadBytes(dir / (fs::path(w).stem().string() + ".mid")));
    return m;
  };
  std::vector<std::string> args = {"-j", "1", "--threads", "1"};
  args.insert(args.end(), wavs.begin(), wavs.end());
  const RunResult one = Convert(args, dir);
  ASSERT_EQ(one.status, 0);
  const auto first = mids();
  // Files side by side, frames on several threads, and both at once.
  for (const std::vector<std::string>& how : std::vector<std::vector<std::string>>{
           {"-j", "1"}, {"-j", "2"}, {"-j", "3", "--threads", "3"}, {"--threads", "2"}}) {
    std::vector<std::string> a = how;
    a.insert(a.end(), wavs.begin(), wavs.end());
    for (const auto& w : wavs) fs::remove(dir / (fs::path(w).stem().string() + ".mid"));
    const RunResult r = Convert(a, dir);
    ASSERT_EQ(r.status, 0) << how[0] << how[1];
    EXPECT_EQ(r.out, one.out);
    EXPECT_EQ(mids(), first) << how[0] << " " << how[1];
  }
  for (const auto& w : wavs) EXPECT_NE(one.out.find(w), std::string::npos);
  EXPECT_LT(one.out.find(wavs[0]), one.out.find(wavs[3]));
}

TEST(Converter, EachFileGetsItsShareOfTheCores) {
  struct Case {
    int cores, jobs;
    std::size_t files;
    int threads;
  };
  for (const Case& c : std::vector<Case>{{2, 2, 1, 2},   // one file: both cores
                                         {2, 2, 2, 1},   // two side by side: one each
                                         {2, 1, 5, 2},   // one at a time
                                         {8, 2, 10, 4},  // 8 / 2
                                         {16, 1, 1, 4},  // no more than 4
                                         {3, 2, 2, 1},
                                         {4, 8, 3, 1},
                                         {1, 1, 1, 1},
                                         {0, 0, 0, 1}}) {
    EXPECT_EQ(zuroka::ThreadsPerFile(c.cores, c.jobs, c.files), c.threads)
        << c.cores << " cores, -j " << c.jobs << ", " << c.files << " files";
  }
}

TEST(Converter, OneBadFileDoesNotStopTheOthers) {
  TempDir dir;
  const std::string good = Melody(dir, "good.wav", 1);
  const RunResult r = Convert({"-j", "2", dir / "nope.wav", good}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nope.wav: no such file"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir / "good.mid"));
}

TEST(Converter, UsageErrors) {
  TempDir dir;
  const std::string wav = Melody(dir, "u.wav", 0.5);
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"--cp", "20", wav},
                                             {"--db", "101", wav},
                                             {"--border", "0", wav},
                                             {"--tempo", "300", wav},
                                             {"--tempo", "5", "--timing", "exact", wav},
                                             {"--timing", "loose", wav},
                                             {"-o", dir / "x.mid", wav, wav},
                                             {"-j", "0", wav},
                                             {"--threads", "0", wav},
                                             {"--threads", "65", wav},
                                             {"--bogus", wav}}) {
    const RunResult r = Convert(args, dir);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]) << ": " << r.err;
    EXPECT_FALSE(r.err.empty());
  }
  const RunResult cp = Convert({"--cp", "20", wav}, dir);
  EXPECT_NE(cp.err.find("zuroka-convert: --cp: Value 20 not in range 30 to 100"), std::string::npos)
      << cp.err;
  EXPECT_FALSE(fs::exists(dir / "u.mid"));
  EXPECT_EQ(Convert({"--help"}, dir).status, 0);
  EXPECT_EQ(Convert({"--version"}, dir).status, 0);
}

TEST(Converter, TempoTimingAndOptions) {
  TempDir dir;
  const std::string wav = Melody(dir, "t.wav", 4);
  ASSERT_EQ(Convert({wav, "-o", dir / "plain.mid"}, dir).status, 0);
  ASSERT_EQ(Convert({wav, "-o", dir / "fast.mid", "--tempo", "200"}, dir).status, 0);
  ASSERT_EQ(Convert({wav, "-o", dir / "exact.mid", "--timing", "exact"}, dir).status, 0);
  const std::string plain = DumpMidi(ReadBytes(dir / "plain.mid"));
  const std::string fast = DumpMidi(ReadBytes(dir / "fast.mid"));
  const std::string exact = DumpMidi(ReadBytes(dir / "exact.mid"));
  EXPECT_NE(fast.find("tempo 300000 us"), std::string::npos);
  // The same events at the same ticks, only the tempo differs.
  EXPECT_EQ(plain.substr(plain.find("sysex")), fast.substr(fast.find("sysex")));
  EXPECT_NE(plain, exact);
  // Without --tempo, the recording timing at the estimated tempo that the plain file says.
  EXPECT_EQ(TempoLine(exact), TempoLine(plain));
  EXPECT_NE(exact.find("division 3840"), std::string::npos);

  // Options reach the engine: a higher border drops more notes.
  const RunResult few = Convert({wav, "-o", dir / "b.mid", "--border", "40"}, dir);
  const RunResult many = Convert({wav, "-o", dir / "b.mid", "--border", "1"}, dir);
  auto count = [](const std::string& out) {
    return std::stoi(out.substr(out.find("frames, ") + 8));
  };
  EXPECT_LT(count(few.out), count(many.out));

  const RunResult info = Convert({"--info", wav}, dir);
  EXPECT_EQ(info.status, 0);
  EXPECT_NE(info.out.find("FileType : WAVEfile\nChannel : 1\nSamplesPerSec : 44100\n"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "t.mid"));
}

TEST(Converter, ExactTimingPutsEveryNoteAtItsRecordedTimeAtAnyTempo) {
  TempDir dir;
  const std::string wav = Melody(dir, "x.wav", 6);
  for (const std::string tempo : {"", "10", "97", "240"}) {
    SCOPED_TRACE(tempo);
    std::vector<std::string> args = {wav,        "-o",   dir / "x.mid", "--notes", dir / "n.json",
                                     "--timing", "exact"};
    if (!tempo.empty()) args.insert(args.end(), {"--tempo", tempo});
    const RunResult r = Convert(args, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto file = ReadBytes(dir / "x.mid");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("tempo ([0-9]+) bpm")));
    if (!tempo.empty()) {
      EXPECT_EQ(m[1], tempo);
    }
    EXPECT_NE(DumpMidi(file).find("tempo " + std::to_string(60000000 / std::stoi(m[1])) + " us"),
              std::string::npos);

    // The notes' frames, in the file's order: frame by frame, rows in order.
    struct Want {
      int frame, row;
      bool on;
      int key;
    };
    std::vector<Want> want;
    for (const auto& n : nlohmann::json::parse(std::ifstream(dir / "n.json"))) {
      want.push_back({n["start"], n["row"], true, n["note"]});
      want.push_back({n["end"], n["row"], false, n["note"]});
    }
    std::sort(want.begin(), want.end(), [](const Want& a, const Want& b) {
      return a.frame != b.frame ? a.frame < b.frame : a.row < b.row;
    });
    const std::vector<TimedNote> got = NoteTimes(file);
    ASSERT_EQ(got.size(), want.size());
    ASSERT_GT(got.size(), 10u);
    for (std::size_t k = 0; k < got.size(); ++k) {
      EXPECT_EQ(got[k].on, want[k].on) << k;
      EXPECT_EQ(got[k].key, want[k].key) << k;
      EXPECT_NEAR(got[k].seconds, want[k].frame * 1024 / 44100.0, 0.001) << k;
    }
  }
}

TEST(Converter, ScriptedEditsApplyInOrderBeforeTheFileIsWritten) {
  TempDir dir;
  const std::string wav = Melody(dir, "e.wav", 3);
  const std::string edits = dir / "edits.json";
  // Erase everything, then write one note of 72 over frames 10..40 and one of 50
  // dragged right to left (the release orders the frames).
  std::ofstream(edits) << R"([{"button": "right", "from": [0, 60], "to": [200, 60]},
    {"button": "left", "from": [10, 72], "to": [40, 72]},
    {"button": "left", "from": [90, 50], "to": [60, 50]},
    {"button": "middle", "from": [5, 5], "to": [6, 6]}])";
  const RunResult r = Convert({wav, "--edits", edits, "--notes", dir / "n.json"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto notes = nlohmann::json::parse(std::ifstream(dir / "n.json"));
  bool found72 = false, found50 = false;
  for (const auto& n : notes) {
    if (n["note"] == 72 && n["start"] == 10 && n["end"] == 40) found72 = true;
    if (n["note"] == 50 && n["start"] == 60 && n["end"] == 90) found50 = true;
    EXPECT_FALSE(n["note"] == 60 && n["start"].get<int>() <= 200) << n.dump();
  }
  EXPECT_TRUE(found72);
  EXPECT_TRUE(found50);
  const std::string d = DumpMidi(ReadBytes(dir / "e.mid"));
  EXPECT_NE(d.find("on ch0 key 72"), std::string::npos);

  // Malformed files are usage errors that name the file, the entry and the fault.
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"{}", "must be a JSON array"},
      {"[1", "not valid JSON"},
      {R"([{"button": "left", "from": [1, 60], "to": [2, 60]}, 7])", "entry 2: must be an object"},
      {R"([{"button": "up", "from": [1, 60], "to": [2, 60]}])", "entry 1: \"button\""},
      {R"([{"button": "left", "from": [1], "to": [2, 60]}])",
       "entry 1: \"from\" must be [frame, pitch]"},
      {R"([{"button": "left", "from": [1, 60], "to": [2.5, 60]}])", "entry 1: \"to\" must be"},
      {R"([{"button": "left", "from": [1, 60], "to": [99999999999, 60]}])", "entry 1: \"to\""},
      {R"([{"button": "left", "from": [1, 60], "to": [2, 60], "x": 1}])",
       "entry 1: unknown key \"x\""},
  };
  for (const auto& [text, message] : bad) {
    std::ofstream(edits, std::ios::trunc) << text;
    const RunResult b = Convert({wav, "-o", dir / "bad.mid", "--edits", edits}, dir);
    EXPECT_EQ(b.status, 2) << text;
    EXPECT_NE(b.err.find(edits + ": " + message), std::string::npos) << text << "\n" << b.err;
    EXPECT_FALSE(fs::exists(dir / "bad.mid"));
  }
  EXPECT_EQ(Convert({wav, "--edits", dir / "none.json"}, dir).status, 2);
}

}  // namespace

namespace {

TEST(Converter, InfoShowsTheSourceAndWhatIsAnalysedAndAs44100ReadsLiterally) {
  TempDir dir;
  const std::string flac = dir / "tune.flac";
  ASSERT_TRUE(importtest::WriteSound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2,
                                     importtest::Melody(48000, 2.0)));
  RunResult r = Convert({"--info", flac}, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, flac +
                       ":\nSource : FLAC, 24-bit PCM, 48000 Hz, 2 channels, 2.00 s\n"
                       "Analysed : first channel, 44100 Hz, 16-bit, 88200 samples (imported "
                       "FLAC, 24-bit PCM, 48000 Hz, resampled to 44100 Hz)\n");
  EXPECT_FALSE(fs::exists(dir / "tune.mid"));

  // A 16-bit WAV at 22050 Hz: resampled, or with --as-44100 read as it always was,
  // in half the frames.
  const std::string wav = dir / "half.wav";
  ASSERT_TRUE(
      zuroka::WriteWav(wav, zuroka::SynthesizeMelody(zuroka::ExampleTune(3), 22050), 1, 22050));
  r = Convert({wav, "-o", dir / "a.mid"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(": " + std::to_string(3 * 44100 / 1024) + " frames, "), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(" bpm (resampled 22050 \u2192 44100 Hz)\n"), std::string::npos) << r.out;
  r = Convert({"--as-44100", wav, "-o", dir / "b.mid"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(": " + std::to_string(3 * 22050 / 1024) + " frames, "), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("resampled"), std::string::npos) << r.out;

  // --as-44100 imports nothing: a FLAC is refused with the reader's words.
  r = Convert({"--as-44100", flac}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(": not a WAV file (no RIFF/WAVE header)\n"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "tune.mid"));
}

}  // namespace

TEST(Converter, RecordingsOfOneNameDoNotReplaceEachOthersMidiFile) {
  TempDir dir;
  const std::string wav = Melody(dir, "song.wav", 1);
  fs::copy_file(wav, dir / "song.wave");
  fs::create_directory(dir / "sub");
  const std::string other = Melody(dir, "sub/song.wav", 1);
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    fs::remove(dir / "song.mid");
    // The same file twice, and by another spelling of its path, is converted; the
    // second recording named song is refused; one in another folder is its own.
    const RunResult r =
        Convert({"-j", jobs, wav, dir / "song.wave", wav, dir / "sub/../song.wav", other}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("song.wave: not converted: its MIDI file " + (dir / "song.mid") +
                         " would replace that of " + wav + " (convert it on its own with -o)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(fs::exists(dir / "song.mid"));
    EXPECT_TRUE(fs::exists(dir / "sub/song.mid"));
  }
  // Alone, with -o, it converts.
  EXPECT_EQ(Convert({dir / "song.wave", "-o", dir / "wave.mid"}, dir).status, 0);

  // A file named twice is not opened twice at once: an import holds its lock while it
  // converts, and the second job found it "in use by another program".
  const std::string flac = dir / "tune.flac";
  ASSERT_TRUE(importtest::WriteSound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2,
                                     importtest::Melody(48000, 2.0)));
  for (const char* mode : {"", "--info"}) {
    SCOPED_TRACE(mode);
    std::vector<std::string> args = {"-j", "2", flac, dir / "./tune.flac"};
    if (*mode != '\0') args.push_back(mode);
    const RunResult twice = Convert(args, dir);
    EXPECT_EQ(twice.status, 0) << twice.err;
    EXPECT_EQ(twice.err, "");
    // Each mention gets the lines of the one conversion.
    ASSERT_EQ(twice.out.size() % 2, 0u) << twice.out;
    EXPECT_EQ(twice.out.substr(0, twice.out.size() / 2), twice.out.substr(twice.out.size() / 2));
    EXPECT_NE(twice.out.find(flac), std::string::npos) << twice.out;
  }
}
