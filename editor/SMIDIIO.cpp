#include "SMIDIIO.h"

#include <algorithm>

namespace {

constexpr int kHighestChannel = 15;
constexpr int kHighestDataByte = 127;

}  // namespace

std::uint32_t SMIDIIO::Pack(int status, int data1, int data2) {
  const auto byte = [](int v, int hi) { return static_cast<std::uint32_t>(std::clamp(v, 0, hi)); };
  return byte(status, 0xFF) | byte(data1, kHighestDataByte) << 8 |
         byte(data2, kHighestDataByte) << 16;
}

int SMIDIIO::Send(int status, int channel, int note, int velocity) {
  if (!outputPort) return -1;
  outputPort->ShortMsg(Pack(status + std::clamp(channel, 0, kHighestChannel), note, velocity));
  return 0;
}

int SMIDIIO::NoteOn(int channel, int note, int velocity) {
  return Send(kNoteOnStatus, channel, note, velocity);
}

int SMIDIIO::NoteOff(int channel, int note, int velocity) {
  return Send(kNoteOffStatus, channel, note, velocity);
}
