#pragma once

#include <unistd.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// A temporary folder per test, removed afterwards, and byte-level file helpers.
class TempDir {
 public:
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "zuroka-XXXXXX").string();
    path_ = ::mkdtemp(t.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }
  // Plain files directly in the folder (a temporary file left behind shows up here).
  int RegularFiles() const {
    int n = 0;
    for (auto& e : std::filesystem::directory_iterator(path_)) n += e.is_regular_file();
    return n;
  }

 private:
  std::filesystem::path path_;
};

// Whether n doubles are the same bit for bit (0.0 and -0.0 differ, a NaN equals itself).
inline bool SameBits(const double* a, const double* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) return false;
  }
  return true;
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Builds RIFF/WAVE files chunk by chunk, for well-formed and broken headers alike.
struct WavBytes {
  std::vector<std::uint8_t> b;
  WavBytes& Tag(const char* s) {
    b.insert(b.end(), s, s + 4);
    return *this;
  }
  WavBytes& U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  WavBytes& U16(std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  WavBytes& Samples(const std::vector<std::int16_t>& s) {
    for (auto v : s) U16(static_cast<std::uint16_t>(v));
    return *this;
  }
  // RIFF header and a format chunk of fmtSize bytes (16 or more).
  static WavBytes Header(int channels, int bits, int rate = 44100, std::uint32_t fmtSize = 16,
                         std::uint16_t tag = 1) {
    WavBytes w;
    w.Tag("RIFF").U32(0).Tag("WAVE").Tag("fmt ").U32(fmtSize).U16(tag);
    w.U16(static_cast<std::uint16_t>(channels)).U32(static_cast<std::uint32_t>(rate));
    w.U32(static_cast<std::uint32_t>(rate * channels * bits / 8));
    w.U16(static_cast<std::uint16_t>(channels * bits / 8)).U16(static_cast<std::uint16_t>(bits));
    // Extra format bytes for sizes like 18; absurd sizes only go into the field.
    for (std::uint32_t i = 16; i < fmtSize && i < 64; ++i) w.b.push_back(0);
    return w;
  }
  WavBytes& Data(const std::vector<std::int16_t>& s) {
    return Tag("data").U32(static_cast<std::uint32_t>(s.size() * 2)).Samples(s);
  }
  // Sets the RIFF size field to the file length less 8.
  std::vector<std::uint8_t> Done() {
    const auto n = static_cast<std::uint32_t>(b.size() - 8);
    for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<std::uint8_t>(n >> (8 * i));
    return b;
  }
};
