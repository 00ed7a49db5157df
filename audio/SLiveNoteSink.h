#pragma once

#include <cstdint>
#include <memory>

class SAudioOutput;
typedef struct _snd_seq snd_seq_t;  // NOLINT(bugprone-reserved-identifier): ALSA's own name
typedef struct snd_midi_event snd_midi_event_t;

// Where the live notes of the keyboard strip go: each packed short message is played on
// the output's synth and, where an ALSA sequencer can be opened, also sent out of the
// sequencer output port "Zuroka" that synths and sequencers can subscribe to. Without
// a sound device or sequencer the messages are simply not heard; nothing is reported.
//
// Threads: interface thread. ShortMsg only queues the message for the audio callback
// and writes to the sequencer without blocking; it never waits for the sound (when the
// output's stream was closed while idle, it opens it again: a few milliseconds).
class SLiveNoteSink {
 public:
  // Plays through the program-wide output (SAudioOutput::Shared) and opens the sequencer.
  SLiveNoteSink();
  // Plays through output (null: no synth); useSequencer false keeps ALSA out (tests).
  SLiveNoteSink(std::shared_ptr<SAudioOutput> output, bool useSequencer);
  // Closes the port; sends nothing.
  ~SLiveNoteSink();
  SLiveNoteSink(const SLiveNoteSink&) = delete;
  SLiveNoteSink& operator=(const SLiveNoteSink&) = delete;

  // Sends one channel message packed as status + data1 * 256 + data2 * 65536 (first byte
  // lowest): Note On 0x90 + channel, Note Off 0x80 + channel, or another channel message.
  // A message whose data bytes are not 7-bit (a note above 127) is not sent at all.
  void ShortMsg(std::uint32_t msg);

  // True when the synth can sound (a device is open and a SoundFont loaded).
  bool HasSynth() const;
  // True when the sequencer port exists; its client and port numbers (-1 without).
  bool HasSequencerPort() const { return port >= 0; }
  int GetSequencerClient() const { return client; }
  int GetSequencerPort() const { return port; }

 private:
  struct SequencerCloser {
    void operator()(snd_seq_t* p) const;
  };
  struct EncoderFree {
    void operator()(snd_midi_event_t* p) const;
  };
  void LoadSoundFontOnce();
  void OpenSequencer();
  void SendToSequencer(std::uint32_t msg);

  std::shared_ptr<SAudioOutput> output;
  std::unique_ptr<snd_seq_t, SequencerCloser> sequencer;
  std::unique_ptr<snd_midi_event_t, EncoderFree> encoder;
  int client = -1;
  int port = -1;
  bool soundFontTried = false;
};
