#pragma once

#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SFileHandle.h"
#include "SStereoRing.h"

// One sound file held for playback, streamed: a thread of its own decodes it through
// libsndfile into stereo (a mono file goes to both sides, a file of more channels gives
// its first two), resamples it through libsamplerate when the file's rate differs from
// the stream's, so that it keeps its true speed and pitch, and keeps about three
// seconds of it ready in a ring that the audio callback reads. The file is never read
// whole, so a recording of hours costs no more memory than one of seconds. While held,
// the file is locked shared (flock), so that an exclusive open of the same file fails
// until the source is gone.
//
// A file that is deleted while it plays plays on: the open descriptor keeps its data.
// A file whose contents change while it plays (its size or modification time differ
// from those at Open) is no longer what was opened: the decoding stops, the sound fades
// out within a few milliseconds and the source counts as finished.
//
// Threads: Open, Rewind, Pause and the getters run on the interface thread, Rewind and
// Pause only while the output does not have this source (SAudioOutput::SetWavSource);
// MixInto runs on the audio thread and only while the output has it; WaitForFrames on
// the thread that renders a sink. The decoding thread runs from Open to destruction
// and sleeps whenever the source is not playing.
class SWavSource {
 public:
  SWavSource();
  // Stops and joins the decoding thread.
  ~SWavSource();
  SWavSource(const SWavSource&) = delete;
  SWavSource& operator=(const SWavSource&) = delete;

  // Takes the open file (positioned anywhere; it is read from the start), locks it,
  // checks that it decodes, prepares the stream at streamRate samples per second and
  // starts the decoding thread (idle until Rewind). Once per source. On failure
  // returns false with error set to the cause (no file name) and holds nothing.
  bool Open(SFileHandle file, int streamRate, std::string& error);

  // Back to the first sample: decodes the first kWavPrefillFrames on this thread (a
  // few milliseconds), then lets the decoding thread run ahead.
  void Rewind();
  // Stops the decoding thread where it is; Rewind starts it again.
  void Pause();
  // Adds the next frames of the file (at the stream's rate) into left and right;
  // after the end, adds nothing. Never allocates, locks or waits: what is not decoded
  // yet is left silent (and counted in GetUnderruns).
  void MixInto(float* left, float* right, int frames);
  // True once every sample has been mixed (and before the first Rewind).
  bool IsFinished() const { return finished.load(std::memory_order_acquire); }
  // Waits until frames are decoded ahead or the end is, at most timeout seconds: for a
  // sink, whose Render stands in for a device's clock and may outrun the decoder.
  void WaitForFrames(int frames, double timeout);
  // Mix calls since Rewind that found fewer frames decoded than they needed.
  std::uint64_t GetUnderruns() const { return underruns.load(std::memory_order_relaxed); }

  int GetFileRate() const { return fileRate; }  // samples per second
  int GetFileChannels() const { return fileChannels; }
  std::int64_t GetFileFrames() const { return fileFrames; }  // at the file's rate

 private:
  struct SndFileCloser {
    void operator()(SNDFILE* p) const { sf_close(p); }
  };
  struct ResamplerDeleter {
    void operator()(SRC_STATE* p) const { src_delete(p); }
  };

  void DecodeLoop();
  // Decodes the next block (at most kWavDecodeFrames at the stream's rate) into the
  // ring, which has room for it. False at the end of the file, on a read error or when
  // the file has changed. The caller holds lock.
  bool DecodeBlock();
  // Reads the next block of the file into input as stereo; false when there is none.
  bool ReadInput();
  bool FileChanged() const;
  // Stops the decoding thread and holds lock for the caller.
  std::unique_lock<std::mutex> HoldDecoder();

  SFileHandle file;
  struct stat opened {};  // the file's size and times at Open
  std::unique_ptr<SNDFILE, SndFileCloser> snd;
  std::unique_ptr<SRC_STATE, ResamplerDeleter> resampler;
  int fileRate = 0;
  int fileChannels = 0;
  std::int64_t fileFrames = 0;
  double ratio = 1.0;  // stream rate / file rate

  // Decoder state: under lock.
  std::vector<float> readBlock;  // one block as the file has it, interleaved
  std::vector<float> input;      // the same block as stereo
  int inputCount = 0;            // frames in input
  int inputUsed = 0;             // of which the resampler has taken
  bool inputEnded = false;
  std::vector<float> resampled;  // one block at the stream's rate, stereo
  bool decoding = false;
  bool quit = false;

  SStereoRing ring;
  std::mutex lock;
  std::condition_variable wake;     // to the decoding thread
  std::condition_variable decoded;  // from it, to WaitForFrames
  std::atomic<bool> holdRequested{false};
  std::atomic<bool> endDecoded{false};  // the ring holds the file's last frames
  std::atomic<bool> abandoned{false};   // the file changed: fade out
  std::atomic<bool> finished{true};
  std::atomic<std::uint64_t> underruns{0};

  // Audio thread only.
  int fadeRemaining = 0;           // frames of the fade-out still to play
  std::vector<float> scratchLeft;  // kMixChunk frames each
  std::vector<float> scratchRight;

  std::thread decoder;  // last: started once everything above exists
};
