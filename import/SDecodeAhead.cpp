#include "SDecodeAhead.h"

#include <sndfile.h>

#include <algorithm>
#include <new>
#include <system_error>

#include "ImportConstants.h"
#include "SResampler.h"

namespace {

constexpr float kIntScale = 1.0f / 2147483648.0f;  // libsndfile's int path fills 32 bits

float Clip(float v) {
  if (!(v == v)) return 0.0f;
  return std::clamp(v, -1.0f, 1.0f);
}

}  // namespace

template <class T>
SDecodeAhead::Ring<T>::Ring(std::size_t reserve) : cells(kBlocks) {
  for (Slot<T>& s : cells) s.values.reserve(reserve);
}

template <class T>
SDecodeAhead::Slot<T>* SDecodeAhead::Ring<T>::Claim() {
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [this] { return stopping || filled - taken < kBlocks; });
  // The slot is free: the consumer holds at most slot `taken`, and filled < taken + kBlocks.
  return stopping ? nullptr : &cells[filled % kBlocks];
}

template <class T>
void SDecodeAhead::Ring<T>::Publish() {
  std::lock_guard<std::mutex> lock(mutex);
  ++filled;
  changed.notify_all();
}

template <class T>
void SDecodeAhead::Ring<T>::End() {
  std::lock_guard<std::mutex> lock(mutex);
  ended = true;
  changed.notify_all();
}

template <class T>
SDecodeAhead::Slot<T>* SDecodeAhead::Ring<T>::Take() {
  std::unique_lock<std::mutex> lock(mutex);
  if (holding) {
    ++taken;
    holding = false;
    changed.notify_all();
  }
  changed.wait(lock, [this] { return filled > taken || ended || stopping; });
  if (filled == taken || stopping) return nullptr;
  holding = true;
  return &cells[taken % kBlocks];
}

template <class T>
void SDecodeAhead::Ring<T>::Stop() {
  std::lock_guard<std::mutex> lock(mutex);
  stopping = true;
  changed.notify_all();
}

template <class T>
bool SDecodeAhead::Ring<T>::Stopped() {
  std::lock_guard<std::mutex> lock(mutex);
  return stopping;
}

SDecodeAhead::SDecodeAhead(sf_private_tag* file, int channels, bool asInt,
                           std::size_t framesPerBlock, SResampler* resampler, bool ahead)
    : file(file),
      resampler(resampler),
      channels(channels),
      asInt(asInt),
      framesPerBlock(framesPerBlock),
      decodedRing(resampler != nullptr && ahead ? framesPerBlock : 0),
      // A resampled block holds at most its frames (from rates above 44100) and the
      // resampler's lag; below 44100 the first blocks grow them once.
      outRing(ahead ? framesPerBlock + framesPerBlock / 8 + 64 : 0) {
  const std::size_t values = framesPerBlock * static_cast<std::size_t>(channels);
  if (asInt) {
    ints.resize(values);
  } else {
    floats.resize(values);
  }
  // The reads are converted where they are made by the owner (no workers) or, with no
  // resampler, by the decoder.
  if (resampler == nullptr || !ahead) scratch.values.reserve(framesPerBlock);
  if (ahead) {
    try {
      // The resampler first: until the decoder runs it has nothing to take, so when
      // the decoder cannot start it stops having consumed nothing.
      if (resampler != nullptr) resampling = std::thread(&SDecodeAhead::RunResample, this);
      decoding = std::thread(&SDecodeAhead::RunDecode, this);
      return;
    } catch (const std::system_error&) {
      Finish();
    }
  }
  inline_ = true;
  scratch.values.reserve(framesPerBlock);
  inlineOut.values.reserve(framesPerBlock);
}

SDecodeAhead::~SDecodeAhead() { Finish(); }

std::size_t SDecodeAhead::Decode(Slot<float>& out) {
  const auto frames = static_cast<sf_count_t>(framesPerBlock);
  const sf_count_t got =
      asInt ? sf_readf_int(file, ints.data(), frames) : sf_readf_float(file, floats.data(), frames);
  const auto n = got > 0 ? static_cast<std::size_t>(got) : 0;
  out.values.resize(n);  // within the reserved framesPerBlock
  out.frames = n;
  const auto stride = static_cast<std::size_t>(channels);
  float* dst = out.values.data();
  if (asInt) {
    for (std::size_t i = 0; i < n; ++i) dst[i] = static_cast<float>(ints[i * stride]) * kIntScale;
  } else {
    for (std::size_t i = 0; i < n; ++i) dst[i] = Clip(floats[i * stride]);
  }
  return n;
}

bool SDecodeAhead::Convert(const Slot<float>* in, Slot<std::int16_t>& out) {
  out.values.clear();
  out.frames = in != nullptr ? in->frames : 0;
  if (resampler != nullptr) {
    const bool ok = in != nullptr ? resampler->Process(in->values.data(), in->values.size(),
                                                       out.values) == SResampler::kOk
                                  : resampler->Finish(out.values) == SResampler::kOk;
    if (!ok) problem = Problem::Resampler;
    return ok && (in != nullptr || !out.values.empty());
  }
  if (in == nullptr) return false;
  const std::size_t n = in->values.size();
  out.values.resize(n);
  zuroka::ToSamples16(in->values.data(), n, out.values.data());
  return true;
}

bool SDecodeAhead::Produce(Slot<std::int16_t>& out) {
  if (decodeEnded || problem != Problem::None) return false;
  if (Decode(scratch) == 0) {
    decodeEnded = true;
    return Convert(nullptr, out);
  }
  return Convert(&scratch, out);
}

void SDecodeAhead::RunDecode() {
  if (resampler == nullptr) {
    // Rounding costs little next to decoding: done here, with no second thread.
    try {
      while (Slot<std::int16_t>* out = outRing.Claim()) {
        if (!Produce(*out)) break;
        outRing.Publish();
      }
    } catch (const std::bad_alloc&) {
      problem = Problem::NoMemory;
    }
    outRing.End();
    return;
  }
  while (Slot<float>* out = decodedRing.Claim()) {
    if (Decode(*out) == 0) break;
    decodedRing.Publish();
  }
  decodedRing.End();
}

void SDecodeAhead::RunResample() {
  try {
    while (Slot<std::int16_t>* out = outRing.Claim()) {
      const Slot<float>* in = decodedRing.Take();
      if (in == nullptr && decodedRing.Stopped()) break;
      if (!Convert(in, *out)) break;
      outRing.Publish();
      if (in == nullptr) break;  // the tail was the last
    }
  } catch (const std::bad_alloc&) {
    problem = Problem::NoMemory;
  }
  decodedRing.Stop();  // a decoder still waiting for room stops too
  outRing.End();
}

bool SDecodeAhead::Next(Block& block) {
  block = Block{};
  const Slot<std::int16_t>* slot = nullptr;
  if (inline_) {
    try {
      if (!Produce(inlineOut)) return false;
    } catch (const std::bad_alloc&) {
      problem = Problem::NoMemory;
      return false;
    }
    slot = &inlineOut;
  } else {
    slot = outRing.Take();
    if (slot == nullptr) return false;
  }
  block = {slot->values.data(), slot->values.size(), slot->frames};
  return true;
}

void SDecodeAhead::Finish() {
  outRing.Stop();
  decodedRing.Stop();
  if (resampling.joinable()) resampling.join();
  if (decoding.joinable()) decoding.join();
}
