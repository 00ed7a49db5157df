#pragma once

#include <vector>

// A look-ahead peak limiter for a stereo signal: the output is the input delayed by
// the look-ahead, times a gain in (0, 1] that is never more than ceiling / peak for the
// sample it multiplies, so that no output sample is louder than the ceiling. The gain
// falls over the look-ahead before a peak (no step into the waveform) and recovers
// exponentially afterwards. Below the ceiling the gain is exactly 1 and the output is
// the delayed input, sample for sample.
//
// Threads: Process runs on one thread at a time (the audio thread) and never allocates;
// everything is allocated by the constructor.
class SLimiter {
 public:
  // rate: samples per second (> 0). ceiling: largest output magnitude (> 0).
  // lookahead, release: seconds; the look-ahead is 2 .. maxLookahead frames.
  SLimiter(int rate, float ceiling, double lookahead, double release, int maxLookahead);

  // Limits frames of left and right in place (the output lags the input by
  // GetDelay frames).
  void Process(float* left, float* right, int frames);
  // Back to unity gain with an empty delay line.
  void Reset();

  int GetDelay() const { return length - 1; }  // frames
  float GetCeiling() const { return ceiling; }
  // The gain applied to the last output sample, for tests and meters.
  double GetGain() const { return lastGain; }

 private:
  float ceiling;
  int length;      // look-ahead window in frames
  double recover;  // per-sample factor of the release toward unity
  std::vector<float> delayLeft;
  std::vector<float> delayRight;
  std::vector<double> need;  // the gain each of the last `length` inputs needs
  std::vector<double> held;  // the released minimum of `need`, last `length` values
  int at = 0;                // ring position shared by the four lines
  double releaseGain = 1.0;  // the running released minimum
  double heldSum = 0;        // sum of `held`, for the moving average
  double lastGain = 1.0;
};
