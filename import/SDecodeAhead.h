#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

struct sf_private_tag;
class SResampler;

// Decodes the first channel of an open libsndfile handle ahead of its reader and turns
// it into what the engine reads: 16-bit values at 44100 samples per second (resampled
// when a resampler is given, rounded and clipped, NaN as 0). One thread decodes and,
// when the file is at another rate, a second one resamples: decoding and resampling
// cost about the same, so a conversion's frame loop and analysis keep both cores
// while the import takes the longer of the two rather than their sum. When the threads
// cannot be started, Next does it all itself; the samples are the same either way.
//
// Next, GetProblem and Finish are called from one thread, the owner's. The handle and
// the resampler are the workers' from construction until Finish or the destructor has
// joined them.
class SDecodeAhead {
 public:
  static constexpr std::size_t kBlocks = 4;  // blocks ready ahead, the one being read included

  // One block: count samples, valid until the next call of Next, made from frames
  // source frames. The resampler's tail comes last, as a block of no frames.
  struct Block {
    const std::int16_t* samples = nullptr;
    std::size_t count = 0;
    std::size_t frames = 0;
  };

  // file: open for reading, borrowed. channels: 1 or more. asInt: decode through
  // libsndfile's 32-bit integer path (exact for every integer encoding up to 24 bits)
  // rather than its float path (float data and the lossy codecs, which decode to float).
  // framesPerBlock: frames per read, 1 or more. resampler: started for the file's rate,
  // or null when the file is at 44100 Hz; borrowed. ahead false: no worker, Next decodes.
  SDecodeAhead(sf_private_tag* file, int channels, bool asInt, std::size_t framesPerBlock,
               SResampler* resampler, bool ahead = true);
  ~SDecodeAhead();
  SDecodeAhead(const SDecodeAhead&) = delete;
  SDecodeAhead& operator=(const SDecodeAhead&) = delete;

  // The next block; false once the decoder returns no more frames, whether at the end
  // or on an error, and once the resampler has failed.
  bool Next(Block& block);
  // Why Next turned false early: the resampler failed (its GetError says why), or a
  // block could not be allocated. Known once Next is false.
  enum class Problem { None, Resampler, NoMemory };
  Problem GetProblem() const { return problem; }
  // Stops decoding and joins the workers; afterwards the handle is the caller's again.
  void Finish();

 private:
  // A block of decoded first-channel samples (full scale +-1.0) or of 16-bit output.
  template <class T>
  struct Slot {
    std::vector<T> values;
    std::size_t frames = 0;
  };
  // kBlocks cells handed from one thread to the next, in order.
  template <class T>
  class Ring {
   public:
    explicit Ring(std::size_t reserve);
    Slot<T>* Claim();  // producer: a free slot, or null once the consumer stops
    void Publish();    // producer: the claimed slot is filled
    void End();        // producer: nothing more will come
    Slot<T>* Take();   // consumer: gives back the slot it held; the next, or null at the end
    void Stop();       // consumer: wants no more; wakes a waiting producer
    bool Stopped();

   private:
    std::vector<Slot<T>> cells;
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t filled = 0;  // cells published so far
    std::size_t taken = 0;   // cells handed out and given back
    bool holding = false;    // the consumer holds slot taken % kBlocks
    bool ended = false;
    bool stopping = false;
  };

  std::size_t Decode(Slot<float>& out);  // one read's first channel; 0 at the end
  // Turns decoded samples into output (resampled or rounded); the tail when in is null.
  // False when there is nothing to hand on: the tail is empty or the resampler failed.
  bool Convert(const Slot<float>* in, Slot<std::int16_t>& out);
  bool Produce(Slot<std::int16_t>& out);  // one read, converted; false at the end
  void RunDecode();
  void RunResample();

  sf_private_tag* file;
  SResampler* const resampler;
  const int channels;
  const bool asInt;
  const std::size_t framesPerBlock;
  std::vector<std::int32_t> ints;   // interleaved frames of one read (integer path)
  std::vector<float> floats;        // interleaved frames of one read (float path)
  Slot<float> scratch;              // one read when the reads are converted where they are made
  Slot<std::int16_t> inlineOut;     // inline: the block handed out
  Ring<float> decodedRing;          // decoder to resampler, when there is one
  Ring<std::int16_t> outRing;       // to the owner
  bool decodeEnded = false;         // Produce: the decoder returned no more frames
  Problem problem = Problem::None;  // written by a worker, read by the owner once ended
  bool inline_ = false;             // no workers: Next decodes
  std::thread resampling;           // last: they start once everything they use exists
  std::thread decoding;
};
