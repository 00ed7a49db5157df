#include "SWavSource.h"

#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <system_error>

#include "AudioConstants.h"

using namespace zuroka::audio;

namespace {

// libsamplerate converts between ratios 1/256 .. 256.
constexpr double kMaxRatio = 256.0;

std::chrono::nanoseconds Seconds(double s) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(s));
}

}  // namespace

SWavSource::SWavSource() : ring(kWavRingFrames) {}

SWavSource::~SWavSource() {
  if (decoder.joinable()) {
    {
      std::lock_guard<std::mutex> guard(lock);
      quit = true;
    }
    wake.notify_all();
    decoder.join();
  }
}

bool SWavSource::Open(SFileHandle handle, int streamRate, std::string& error) {
  // Shared: players may share a file, an exclusive holder may not.
  if (::flock(handle.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    error = "the file is in use by another program";
    return false;
  }
  if (::lseek(handle.Get(), 0, SEEK_SET) != 0 || ::fstat(handle.Get(), &opened) != 0) {
    error = "the file cannot be read";
    return false;
  }

  SF_INFO info{};
  std::unique_ptr<SNDFILE, SndFileCloser> s(sf_open_fd(handle.Get(), SFM_READ, &info, SF_FALSE));
  if (!s) {
    error = std::string("not a sound file that can be played (") + sf_strerror(nullptr) + ")";
    return false;
  }
  if (info.samplerate <= 0 || info.channels <= 0) {
    error = "the sound file has no valid sample rate or channel count";
    return false;
  }
  const double r = static_cast<double>(streamRate) / info.samplerate;
  if (r > kMaxRatio || r < 1.0 / kMaxRatio) {
    error = "the sample rate of " + std::to_string(info.samplerate) + " Hz cannot be played";
    return false;
  }
  try {
    readBlock.assign(static_cast<std::size_t>(kWavDecodeFrames) * info.channels, 0.0f);
    input.assign(static_cast<std::size_t>(kWavDecodeFrames) * 2, 0.0f);
    resampled.assign(static_cast<std::size_t>(kWavDecodeFrames) * 2, 0.0f);
    scratchLeft.assign(kMixChunk, 0.0f);
    scratchRight.assign(kMixChunk, 0.0f);
  } catch (const std::bad_alloc&) {
    error = "there is not enough memory to play the sound file";
    return false;
  }
  // One block decoded now, so that a file libsndfile cannot decode fails here.
  sf_readf_float(s.get(), readBlock.data(), kWavDecodeFrames);
  if (sf_error(s.get()) != SF_ERR_NO_ERROR) {
    error = std::string("the sound file cannot be decoded (") + sf_strerror(s.get()) + ")";
    return false;
  }
  if (sf_seek(s.get(), 0, SEEK_SET) != 0) {
    error = "the sound file cannot be played from its start (it does not seek)";
    return false;
  }
  if (info.samplerate != streamRate) {
    int srcError = 0;
    resampler.reset(src_new(kResamplerType, 2, &srcError));
    if (!resampler) {
      error = std::string("the resampler cannot be created (") + src_strerror(srcError) + ")";
      return false;
    }
  }
  snd = std::move(s);
  fileRate = info.samplerate;
  fileChannels = info.channels;
  fileFrames = info.frames;
  ratio = r;
  file = std::move(handle);
  try {
    decoder = std::thread(&SWavSource::DecodeLoop, this);
  } catch (const std::system_error&) {
    snd.reset();
    file.Reset();
    error = "the thread that decodes the sound file cannot be started";
    return false;
  }
  return true;
}

std::unique_lock<std::mutex> SWavSource::HoldDecoder() {
  holdRequested.store(true);
  std::unique_lock<std::mutex> held(lock);
  holdRequested.store(false);
  return held;
}

void SWavSource::Rewind() {
  if (!snd) return;
  {
    std::unique_lock<std::mutex> held = HoldDecoder();
    inputCount = inputUsed = 0;
    inputEnded = sf_seek(snd.get(), 0, SEEK_SET) != 0;
    if (resampler) src_reset(resampler.get());
    ring.Reset();
    endDecoded.store(false);
    abandoned.store(false);
    underruns.store(0);
    fadeRemaining = kWavFadeFrames;
    // The start of the sound is ready before the callback sees the source.
    bool more = true;
    while (more && ring.GetAvailable() < kWavPrefillFrames) more = DecodeBlock();
    decoding = more;
    finished.store(false);
  }
  wake.notify_all();
}

void SWavSource::Pause() {
  if (!snd) return;
  std::unique_lock<std::mutex> held = HoldDecoder();
  decoding = false;
}

bool SWavSource::FileChanged() const {
  struct stat now {};
  if (::fstat(file.Get(), &now) != 0) return true;
  return now.st_size != opened.st_size || now.st_mtim.tv_sec != opened.st_mtim.tv_sec ||
         now.st_mtim.tv_nsec != opened.st_mtim.tv_nsec;
}

bool SWavSource::ReadInput() {
  const sf_count_t n = sf_readf_float(snd.get(), readBlock.data(), kWavDecodeFrames);
  inputUsed = 0;
  inputCount = n > 0 ? static_cast<int>(n) : 0;
  const auto channels = static_cast<std::size_t>(fileChannels);
  for (std::size_t i = 0; i < static_cast<std::size_t>(inputCount); ++i) {
    const float* f = readBlock.data() + i * channels;
    input[2 * i] = f[0];
    input[2 * i + 1] = channels > 1 ? f[1] : f[0];
  }
  return inputCount > 0;
}

bool SWavSource::DecodeBlock() {
  auto end = [this](bool changed) {
    if (changed) abandoned.store(true, std::memory_order_release);
    endDecoded.store(true, std::memory_order_release);
    return false;
  };
  if (FileChanged()) return end(true);
  if (!resampler) {
    if (!ReadInput()) return end(false);
    ring.Write(input.data(), inputCount);
    return true;
  }
  for (;;) {
    if (inputUsed == inputCount && !inputEnded && !ReadInput()) inputEnded = true;
    SRC_DATA d{};
    d.data_in = input.data() + 2 * static_cast<std::size_t>(inputUsed);
    d.input_frames = inputCount - inputUsed;
    d.data_out = resampled.data();
    d.output_frames = kWavDecodeFrames;
    d.end_of_input = inputEnded ? 1 : 0;
    d.src_ratio = ratio;
    if (src_process(resampler.get(), &d) != 0) return end(false);
    inputUsed += static_cast<int>(d.input_frames_used);
    if (d.output_frames_gen > 0) {
      ring.Write(resampled.data(), static_cast<int>(d.output_frames_gen));
      return true;
    }
    if (inputEnded) return end(false);
  }
}

void SWavSource::DecodeLoop() {
  std::unique_lock<std::mutex> held(lock);
  while (!quit) {
    while (decoding && !quit && !holdRequested.load() && ring.GetFree() >= kWavDecodeFrames) {
      decoding = DecodeBlock();
      decoded.notify_all();
    }
    if (quit) break;
    if (holdRequested.load()) {
      // Let the interface thread in; it clears the request once it has the lock.
      held.unlock();
      while (holdRequested.load()) std::this_thread::yield();
      held.lock();
    } else if (decoding) {
      wake.wait_for(held, Seconds(kWavDecodePollSeconds));
    } else {
      wake.wait(held);
    }
  }
}

void SWavSource::WaitForFrames(int frames, double timeout) {
  if (finished.load() || !snd) return;
  std::unique_lock<std::mutex> held(lock);
  wake.notify_all();
  decoded.wait_for(held, Seconds(timeout),
                   [&] { return ring.GetAvailable() >= frames || endDecoded.load() || !decoding; });
}

void SWavSource::MixInto(float* left, float* right, int count) {
  if (finished.load(std::memory_order_relaxed)) return;
  if (abandoned.load(std::memory_order_acquire)) {
    // What is already decoded fades out; the rest of the file is not played.
    int done = 0;
    while (done < count && fadeRemaining > 0) {
      const int want = std::min({count - done, kMixChunk, fadeRemaining});
      std::fill_n(scratchLeft.data(), want, 0.0f);
      std::fill_n(scratchRight.data(), want, 0.0f);
      const int got = ring.Read(scratchLeft.data(), scratchRight.data(), want);
      if (got == 0) break;
      for (int i = 0; i < got; ++i) {
        const float g = static_cast<float>(fadeRemaining - i) / kWavFadeFrames;
        left[done + i] += scratchLeft[static_cast<std::size_t>(i)] * g;
        right[done + i] += scratchRight[static_cast<std::size_t>(i)] * g;
      }
      fadeRemaining -= got;
      done += got;
    }
    if (done < count || fadeRemaining == 0) finished.store(true, std::memory_order_release);
    return;
  }
  // The end flag first: when it is set, every frame of the file is in the ring.
  const bool atEnd = endDecoded.load(std::memory_order_acquire);
  const int got = ring.Read(left, right, count);
  if (got < count) {
    if (atEnd) {
      finished.store(true, std::memory_order_release);
    } else {
      underruns.fetch_add(1, std::memory_order_relaxed);
    }
  }
}
