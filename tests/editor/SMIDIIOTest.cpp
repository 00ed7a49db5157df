#include <gtest/gtest.h>

#include <vector>

#include "SMIDIIO.h"

namespace {

struct Recorder {
  std::vector<std::vector<int>> sent;  // bytes, lowest first
  void ShortMsg(std::uint32_t m) {
    sent.push_back({int(m & 0xFF), int(m >> 8 & 0xFF), int(m >> 16 & 0xFF), int(m >> 24)});
  }
};

}  // namespace

TEST(SMIDIIO, SendsPackedNotesWithValidDataBytes) {
  Recorder rec;
  SShortMsgSinkFor<Recorder> sink(rec);
  SMIDIIO io;
  EXPECT_EQ(io.NoteOn(0, 60, 112), -1);  // no port: silent
  io.SetOutputPort(&sink);
  EXPECT_EQ(io.NoteOn(0, 60, 112), 0);
  io.NoteOff(0, 60, 112);
  io.NoteOn(9, 140, 1);
  io.NoteOff(20, -3, 300);
  using B = std::vector<int>;
  EXPECT_EQ(rec.sent, (std::vector<B>{B{0x90, 0x3C, 0x70, 0}, B{0x80, 0x3C, 0x70, 0},
                                      B{0x99, 127, 1, 0}, B{0x8F, 0, 127, 0}}));
}
