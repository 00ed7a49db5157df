#pragma once

#include <cstdint>

// Where live MIDI short messages go: one packed three-byte message per call,
// status + data1 * 256 + data2 * 65536 (the status byte in the lowest eight bits).
// Called on the user interface thread; must not block.
class SShortMsgSink {
 public:
  virtual ~SShortMsgSink() = default;
  virtual void ShortMsg(std::uint32_t message) = 0;
};

// Adapts any object with a ShortMsg(std::uint32_t) member (the audio layer's live-note
// output, for one) to SShortMsgSink. The target is borrowed and must outlive the adapter.
template <class Target>
class SShortMsgSinkFor : public SShortMsgSink {
 public:
  explicit SShortMsgSinkFor(Target& target) : target(target) {}
  void ShortMsg(std::uint32_t message) override { target.ShortMsg(message); }

 private:
  Target& target;
};

// The keyboard strip's live-note output: Note On and Note Off as short messages.
// The port is borrowed (may be null: the notes are then dropped silently) and must
// outlive this object. Sends nothing on its own, not even at destruction.
class SMIDIIO {
 public:
  static constexpr int kNoteOnStatus = 0x90;
  static constexpr int kNoteOffStatus = 0x80;

  explicit SMIDIIO(SShortMsgSink* outputPort = nullptr) : outputPort(outputPort) {}

  void SetOutputPort(SShortMsgSink* port) { outputPort = port; }
  SShortMsgSink* GetOutputPort() const { return outputPort; }

  // channel 0..15, note 0..127, velocity 0..127; values outside are clamped so that
  // every data byte is valid. Returns 0 when sent, -1 with no port.
  int NoteOn(int channel, int note, int velocity);
  int NoteOff(int channel, int note, int velocity);

  // The packed message of status (0..255), data1 and data2 (0..127 each, clamped).
  static std::uint32_t Pack(int status, int data1, int data2);

 private:
  int Send(int status, int channel, int note, int velocity);

  SShortMsgSink* outputPort;
};
