#include "SDecodeAhead.h"

#include <sndfile.h>

#include <algorithm>
#include <system_error>

namespace {

constexpr float kIntScale = 1.0f / 2147483648.0f;  // libsndfile's int path fills 32 bits

float Clip(float v) {
  if (!(v == v)) return 0.0f;
  return std::clamp(v, -1.0f, 1.0f);
}

}  // namespace

SDecodeAhead::SDecodeAhead(sf_private_tag* file, int channels, bool asInt,
                           std::size_t framesPerBlock, bool ahead)
    : file(file), channels(channels), asInt(asInt), framesPerBlock(framesPerBlock) {
  const std::size_t values = framesPerBlock * static_cast<std::size_t>(channels);
  if (asInt) {
    ints.resize(values);
  } else {
    floats.resize(values);
  }
  blocks.assign(kBlocks, std::vector<float>(framesPerBlock));
  lengths.assign(kBlocks, 0);
  inline_ = !ahead;
  if (ahead) {
    try {
      worker = std::thread(&SDecodeAhead::Run, this);
    } catch (const std::system_error&) {
      inline_ = true;
    }
  }
}

SDecodeAhead::~SDecodeAhead() { Finish(); }

std::size_t SDecodeAhead::Decode(float* dst) {
  const auto frames = static_cast<sf_count_t>(framesPerBlock);
  const sf_count_t got =
      asInt ? sf_readf_int(file, ints.data(), frames) : sf_readf_float(file, floats.data(), frames);
  if (got <= 0) return 0;
  const auto n = static_cast<std::size_t>(got);
  const auto stride = static_cast<std::size_t>(channels);
  if (asInt) {
    for (std::size_t i = 0; i < n; ++i) dst[i] = static_cast<float>(ints[i * stride]) * kIntScale;
  } else {
    for (std::size_t i = 0; i < n; ++i) dst[i] = Clip(floats[i * stride]);
  }
  return n;
}

void SDecodeAhead::Run() {
  for (;;) {
    std::size_t slot = 0;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [this] { return stopping || filled - taken < kBlocks; });
      if (stopping) break;
      slot = filled % kBlocks;
    }
    // The slot is free: the owner holds at most block `taken`, and filled < taken + kBlocks.
    const std::size_t n = Decode(blocks[slot].data());
    std::lock_guard<std::mutex> lock(mutex);
    if (n == 0) break;
    lengths[slot] = n;
    ++filled;
    changed.notify_all();
  }
  std::lock_guard<std::mutex> lock(mutex);
  ended = true;
  changed.notify_all();
}

const float* SDecodeAhead::Next(std::size_t& n) {
  n = 0;
  if (inline_) {
    if (ended) return nullptr;
    n = Decode(blocks[0].data());
    ended = n == 0;
    return n > 0 ? blocks[0].data() : nullptr;
  }
  std::unique_lock<std::mutex> lock(mutex);
  if (holding) {
    ++taken;
    holding = false;
    changed.notify_all();
  }
  changed.wait(lock, [this] { return filled > taken || ended; });
  if (filled == taken) return nullptr;
  holding = true;
  const std::size_t slot = taken % kBlocks;
  n = lengths[slot];
  return blocks[slot].data();
}

void SDecodeAhead::Finish() {
  if (worker.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
      changed.notify_all();
    }
    worker.join();
  }
}
