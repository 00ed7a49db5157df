#include "SWavSource.h"

#include <sndfile.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "AudioConstants.h"

using namespace zuroka::audio;

namespace {

struct SndFileCloser {
  void operator()(SNDFILE* p) const { sf_close(p); }
};

constexpr sf_count_t kReadFrames = 65536;  // frames decoded per read
// libsamplerate converts between ratios 1/256 .. 256.
constexpr double kMaxRatio = 256.0;

}  // namespace

SWavSource::~SWavSource() = default;

bool SWavSource::Open(SFileHandle handle, int streamRate, std::string& error) {
  file.Reset();
  samples.clear();
  resampler.reset();
  frames = 0;
  finished = true;

  // Shared: players may share a file, an exclusive holder may not.
  if (::flock(handle.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    error = "the file is in use by another program";
    return false;
  }
  if (::lseek(handle.Get(), 0, SEEK_SET) != 0) {
    error = "the file cannot be read";
    return false;
  }

  SF_INFO info{};
  std::unique_ptr<SNDFILE, SndFileCloser> snd(sf_open_fd(handle.Get(), SFM_READ, &info, SF_FALSE));
  if (!snd) {
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

  // Decoded whole: the audio thread must never read the disk.
  std::vector<float> decoded;
  std::int64_t got = 0;
  try {
    const sf_count_t expected = std::max<sf_count_t>(info.frames, 0);
    decoded.reserve(static_cast<std::size_t>(expected) * 2);
    std::vector<float> block(static_cast<std::size_t>(kReadFrames) * info.channels);
    for (;;) {
      const sf_count_t n = sf_readf_float(snd.get(), block.data(), kReadFrames);
      if (n <= 0) break;
      for (sf_count_t i = 0; i < n; ++i) {
        const float* f = block.data() + i * info.channels;
        decoded.push_back(f[0]);
        decoded.push_back(info.channels > 1 ? f[1] : f[0]);
      }
      got += n;
    }
    scratch.assign(static_cast<std::size_t>(kMixChunk) * 2, 0.0f);
  } catch (const std::bad_alloc&) {
    error = "there is not enough memory to load the sound file";
    return false;
  }
  if (sf_error(snd.get()) != SF_ERR_NO_ERROR) {
    error = std::string("the sound file cannot be decoded (") + sf_strerror(snd.get()) + ")";
    return false;
  }

  if (info.samplerate != streamRate) {
    int srcError = 0;
    // Best quality: it runs about 18 times faster than real time for a stereo file.
    resampler.reset(src_new(SRC_SINC_BEST_QUALITY, 2, &srcError));
    if (!resampler) {
      error = std::string("the resampler cannot be created (") + src_strerror(srcError) + ")";
      return false;
    }
  }
  samples = std::move(decoded);
  frames = got;
  fileRate = info.samplerate;
  fileChannels = info.channels;
  ratio = r;
  file = std::move(handle);
  Rewind();
  return true;
}

void SWavSource::Rewind() {
  position = 0;
  if (resampler) src_reset(resampler.get());
  finished = frames == 0;
}

void SWavSource::MixInto(float* left, float* right, int count) {
  if (finished.load(std::memory_order_relaxed)) return;
  int done = 0;
  while (done < count) {
    const int want = std::min(count - done, kMixChunk);
    int made = 0;
    if (!resampler) {
      made = static_cast<int>(std::min<std::int64_t>(want, frames - position));
      const float* in = samples.data() + position * 2;
      for (int i = 0; i < made; ++i) {
        left[done + i] += in[2 * i];
        right[done + i] += in[2 * i + 1];
      }
      position += made;
    } else {
      SRC_DATA d{};
      d.data_in = samples.data() + position * 2;
      d.input_frames = static_cast<long>(frames - position);
      d.data_out = scratch.data();
      d.output_frames = want;
      // All the rest of the file is always passed, so this is always its end.
      d.end_of_input = 1;
      d.src_ratio = ratio;
      if (src_process(resampler.get(), &d) == 0) {
        position += d.input_frames_used;
        made = static_cast<int>(d.output_frames_gen);
        for (int i = 0; i < made; ++i) {
          left[done + i] += scratch[2 * i];
          right[done + i] += scratch[2 * i + 1];
        }
      }
    }
    if (made == 0) {
      finished.store(true, std::memory_order_relaxed);
      return;
    }
    done += made;
  }
}
