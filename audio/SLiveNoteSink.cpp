#include "SLiveNoteSink.h"

#include <alsa/asoundlib.h>

#include "AudioConstants.h"
#include "SAudioOutput.h"

namespace {

// Encoder buffer: channel messages are at most three bytes.
constexpr long kEncoderBuffer = 16;

// ALSA prints its own complaints when there is no sequencer device.
void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

bool IsChannelMessage(std::uint32_t msg) {
  const std::uint32_t status = msg & 0xFFu;
  return status >= 0x80u && status < 0xF0u && (msg & 0x00808000u) == 0 && (msg >> 24) == 0;
}

}  // namespace

void SLiveNoteSink::SequencerCloser::operator()(snd_seq_t* p) const { snd_seq_close(p); }
void SLiveNoteSink::EncoderFree::operator()(snd_midi_event_t* p) const { snd_midi_event_free(p); }

SLiveNoteSink::SLiveNoteSink() : SLiveNoteSink(SAudioOutput::Shared(), true) {}

SLiveNoteSink::SLiveNoteSink(std::shared_ptr<SAudioOutput> output, bool useSequencer)
    : output(std::move(output)) {
  // Both may fail: the strip is then silent, as it is without any device.
  if (this->output) this->output->Start();
  LoadSoundFontOnce();
  if (useSequencer) OpenSequencer();
}

SLiveNoteSink::~SLiveNoteSink() = default;

void SLiveNoteSink::OpenSequencer() {
  snd_lib_error_set_handler(&SilentAlsaError);
  snd_seq_t* seq = nullptr;
  const int opened = snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK);
  snd_lib_error_set_handler(nullptr);
  if (opened < 0 || seq == nullptr) return;
  sequencer.reset(seq);
  snd_seq_set_client_name(seq, zuroka::audio::kSequencerName);
  const int created = snd_seq_create_simple_port(
      seq, zuroka::audio::kSequencerName, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  snd_midi_event_t* enc = nullptr;
  if (created < 0 || snd_midi_event_new(kEncoderBuffer, &enc) < 0) {
    sequencer.reset();
    return;
  }
  encoder.reset(enc);
  port = created;
  client = snd_seq_client_id(seq);
}

void SLiveNoteSink::LoadSoundFontOnce() {
  // The stream may open later, through the media player; the SoundFont is looked for
  // once it runs, and only once, so a missing one costs no key press a folder scan.
  if (soundFontTried || !output || !output->IsRunning()) return;
  soundFontTried = true;
  output->LoadSoundFont();
}

bool SLiveNoteSink::HasSynth() const {
  return output && output->IsRunning() && output->HasSoundFont();
}

void SLiveNoteSink::ShortMsg(std::uint32_t msg) {
  if (!IsChannelMessage(msg)) return;
  LoadSoundFontOnce();
  if (output) output->PostShortMsg(msg);
  SendToSequencer(msg);
}

void SLiveNoteSink::SendToSequencer(std::uint32_t msg) {
  if (!sequencer) return;
  const unsigned char bytes[3] = {static_cast<unsigned char>(msg),
                                  static_cast<unsigned char>(msg >> 8),
                                  static_cast<unsigned char>(msg >> 16)};
  // Program change (0xC0) and channel pressure (0xD0) carry one data byte.
  const long length = (msg & 0xE0u) == 0xC0u ? 2 : 3;
  snd_seq_event_t ev;
  snd_seq_ev_clear(&ev);
  snd_midi_event_reset_encode(encoder.get());
  if (snd_midi_event_encode(encoder.get(), bytes, length, &ev) <= 0 ||
      ev.type == SND_SEQ_EVENT_NONE) {
    return;
  }
  snd_seq_ev_set_source(&ev, static_cast<unsigned char>(port));
  snd_seq_ev_set_subs(&ev);
  snd_seq_ev_set_direct(&ev);
  // Non-blocking: with a full queue the message is dropped rather than waited for.
  snd_seq_event_output_direct(sequencer.get(), &ev);
}
