#include "MidiDump.h"

#include <cstdio>
#include <map>
#include <sstream>
#include <stdexcept>

namespace {

struct Reader {
  const std::vector<std::uint8_t>& b;
  std::size_t pos = 0;
  std::uint8_t Byte() {
    if (pos >= b.size()) throw std::runtime_error("unexpected end at " + std::to_string(pos));
    return b[pos++];
  }
  std::uint32_t Big(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | Byte();
    return v;
  }
  void Expect(const char* tag) {
    for (int i = 0; i < 4; ++i) {
      if (Byte() != static_cast<std::uint8_t>(tag[i]))
        throw std::runtime_error(std::string("no ") + tag);
    }
  }
  std::uint32_t Quantity() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const std::uint8_t c = Byte();
      v = v << 7 | (c & 0x7F);
      if (!(c & 0x80)) return v;
    }
    throw std::runtime_error("variable-length quantity longer than 4 bytes");
  }
};

std::string Hex(std::uint8_t v) {
  static const char* d = "0123456789ABCDEF";
  return {d[v >> 4], d[v & 15]};
}

}  // namespace

std::string DumpMidi(const std::vector<std::uint8_t>& bytes) {
  Reader r{bytes};
  std::ostringstream out;
  r.Expect("MThd");
  if (r.Big(4) != 6) throw std::runtime_error("header length");
  const std::uint32_t format = r.Big(2), tracks = r.Big(2), division = r.Big(2);
  out << "format " << format << ", tracks " << tracks << ", division " << division << "\n";
  r.Expect("MTrk");
  const std::uint32_t length = r.Big(4);
  if (length != bytes.size() - r.pos) throw std::runtime_error("track length mismatch");
  std::map<int, int> sounding;  // channel * 128 + key -> count
  std::uint64_t tick = 0;
  bool ended = false;
  while (r.pos < bytes.size()) {
    if (ended) throw std::runtime_error("bytes after End of Track");
    const std::uint32_t delta = r.Quantity();
    tick += delta;
    out << "+" << delta << " @" << tick << " ";
    const std::uint8_t status = r.Byte();
    if (status == 0xFF) {
      const std::uint8_t type = r.Byte();
      const std::uint32_t len = r.Quantity();
      out << "meta " << Hex(type);
      std::uint32_t value = 0;
      for (std::uint32_t i = 0; i < len; ++i) value = value << 8 | r.Byte();
      if (type == 0x51) {
        if (len != 3) throw std::runtime_error("Set Tempo length");
        out << " tempo " << value << " us";
      } else if (type == 0x2F) {
        if (len != 0) throw std::runtime_error("End of Track length");
        ended = true;
        out << " end";
      }
    } else if (status == 0xF0) {
      const std::uint32_t len = r.Quantity();
      out << "sysex";
      std::uint8_t last = 0;
      for (std::uint32_t i = 0; i < len; ++i) out << " " << Hex(last = r.Byte());
      if (last != 0xF7) throw std::runtime_error("sysex without F7");
    } else if ((status & 0xF0) == 0x90 || (status & 0xF0) == 0x80) {
      const std::uint8_t key = r.Byte(), vel = r.Byte();
      if (key > 127 || vel > 127) throw std::runtime_error("data byte above 127");
      const int ch = status & 0x0F;
      const bool on = (status & 0xF0) == 0x90 && vel > 0;
      int& count = sounding[ch * 128 + key];
      if (on) {
        ++count;
      } else if (count == 0) {
        throw std::runtime_error("Note Off without Note On");
      } else {
        --count;
      }
      out << (on ? "on" : "off") << " ch" << ch << " key " << int(key) << " vel " << int(vel);
    } else {
      throw std::runtime_error("unexpected status " + Hex(status));
    }
    out << "\n";
  }
  if (!ended) throw std::runtime_error("no End of Track");
  for (const auto& [k, c] : sounding) {
    if (c != 0)
      throw std::runtime_error("Note On without Note Off, key " + std::to_string(k % 128));
  }
  return out.str();
}

std::vector<TimedNote> NoteTimes(const std::vector<std::uint8_t>& bytes) {
  std::istringstream dump(DumpMidi(bytes));
  std::string line;
  std::getline(dump, line);
  unsigned division = 0;
  if (std::sscanf(line.c_str(), "format %*u, tracks %*u, division %u", &division) != 1 ||
      division == 0 || division > 0x7FFF) {
    throw std::runtime_error("no tick division: " + line);
  }
  // Whole microseconds times ticks, kept as an integer so that nothing rounds on the way.
  std::uint64_t baseTick = 0;
  std::uint64_t baseMicrosTimesDivision = 0;
  std::uint64_t micros = 500000;
  std::vector<TimedNote> notes;
  while (std::getline(dump, line)) {
    unsigned long long tick = 0;
    int used = 0;
    if (std::sscanf(line.c_str(), "+%*u @%llu %n", &tick, &used) != 1) {
      throw std::runtime_error("unreadable line: " + line);
    }
    const std::string what = line.substr(static_cast<std::size_t>(used));
    const std::uint64_t at = baseMicrosTimesDivision + (tick - baseTick) * micros;
    unsigned long value = 0;
    int key = 0;
    if (std::sscanf(what.c_str(), "meta 51 tempo %lu us", &value) == 1) {
      baseMicrosTimesDivision = at;
      baseTick = tick;
      micros = value;
    } else if (std::sscanf(what.c_str(), "on ch%*d key %d", &key) == 1) {
      notes.push_back({static_cast<double>(at) / division / 1e6, true, key});
    } else if (std::sscanf(what.c_str(), "off ch%*d key %d", &key) == 1) {
      notes.push_back({static_cast<double>(at) / division / 1e6, false, key});
    }
  }
  return notes;
}
