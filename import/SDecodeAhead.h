#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

struct sf_private_tag;

// Decodes the first channel of an open libsndfile handle ahead of its reader, on a
// thread of its own, into a few blocks of full-scale floats (clipped to +-1.0, NaN as
// 0). Decoding and resampling a large file cost about the same, so an import takes the
// longer of the two rather than their sum. When no thread can be started, Next decodes
// each block itself; the samples are the same either way.
//
// Next and Finish are called from one thread, the owner's. The handle is the worker's
// from construction until Finish or the destructor has joined it.
class SDecodeAhead {
 public:
  static constexpr std::size_t kBlocks = 4;  // blocks decoded ahead, the one being read included

  // file: open for reading, borrowed. channels: 1 or more. asInt: decode through
  // libsndfile's 32-bit integer path (exact for every integer encoding up to 24 bits)
  // rather than its float path (float data and the lossy codecs, which decode to float).
  // framesPerBlock: frames per read, 1 or more. ahead false: no worker, Next decodes.
  SDecodeAhead(sf_private_tag* file, int channels, bool asInt, std::size_t framesPerBlock,
               bool ahead = true);
  ~SDecodeAhead();
  SDecodeAhead(const SDecodeAhead&) = delete;
  SDecodeAhead& operator=(const SDecodeAhead&) = delete;

  // The next n first-channel samples, valid until the next call; n == 0 (and null) once
  // the decoder returns no more frames, whether at the end or on an error.
  const float* Next(std::size_t& n);
  // Stops decoding and joins the worker; afterwards the handle is the caller's again.
  void Finish();

 private:
  void Run();
  std::size_t Decode(float* dst);  // one read; first-channel samples written to dst

  sf_private_tag* file;
  const int channels;
  const bool asInt;
  const std::size_t framesPerBlock;
  std::vector<std::int32_t> ints;  // interleaved frames of one read (integer path)
  std::vector<float> floats;       // interleaved frames of one read (float path)
  std::vector<std::vector<float>> blocks;
  std::vector<std::size_t> lengths;  // samples in each block
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t filled = 0;  // blocks decoded so far
  std::size_t taken = 0;   // blocks handed out and given back
  bool holding = false;    // the owner holds block taken % kBlocks
  bool ended = false;      // the decoder returned no more frames
  bool stopping = false;
  bool inline_ = false;  // no worker: Next decodes
  std::thread worker;    // last: starts once everything it uses exists
};
