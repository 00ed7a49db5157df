#include "SLimiter.h"

#include <algorithm>
#include <cmath>

SLimiter::SLimiter(int rate, float ceiling, double lookahead, double release, int maxLookahead)
    : ceiling(ceiling),
      length(std::clamp(static_cast<int>(std::lround(lookahead * rate)), 2, maxLookahead)),
      recover(std::exp(-1.0 / (release * rate))),
      delayLeft(static_cast<std::size_t>(length)),
      delayRight(static_cast<std::size_t>(length)),
      need(static_cast<std::size_t>(length)),
      held(static_cast<std::size_t>(length)) {
  Reset();
}

void SLimiter::Reset() {
  std::fill(delayLeft.begin(), delayLeft.end(), 0.0f);
  std::fill(delayRight.begin(), delayRight.end(), 0.0f);
  std::fill(need.begin(), need.end(), 1.0);
  std::fill(held.begin(), held.end(), 1.0);
  at = 0;
  releaseGain = 1.0;
  heldSum = length;
  lastGain = 1.0;
}

void SLimiter::Process(float* left, float* right, int frames) {
  const auto n = static_cast<std::size_t>(length);
  for (int i = 0; i < frames; ++i) {
    const auto slot = static_cast<std::size_t>(at);
    const float peak = std::max(std::fabs(left[i]), std::fabs(right[i]));
    need[slot] = peak > ceiling ? static_cast<double>(ceiling) / peak : 1.0;
    // The smallest gain that any input still in the delay line needs.
    double lowest = 1.0;
    for (std::size_t k = 0; k < n; ++k) lowest = std::min(lowest, need[k]);
    // Falls at once, recovers slowly; never above what the window needs.
    releaseGain = std::min(lowest, 1.0 - (1.0 - releaseGain) * recover);
    heldSum += releaseGain - held[slot];
    held[slot] = releaseGain;
    // The average of the last `length` held values: each of them is at most what the
    // oldest input in the delay line needs (its window contained that input), so the
    // average is too, and it moves in ramps rather than steps.
    const std::size_t oldest = (slot + 1) % n;
    // The minimum with the oldest input's own need only guards the rounding of the sum.
    double gain = std::min({1.0, heldSum / length, need[oldest]});
    if (releaseGain == 1.0 && gain > 1.0 - 1e-9) gain = 1.0;  // no drift at rest
    const float outLeft = delayLeft[oldest];
    const float outRight = delayRight[oldest];
    delayLeft[slot] = left[i];
    delayRight[slot] = right[i];
    left[i] = gain == 1.0 ? outLeft : static_cast<float>(outLeft * gain);
    right[i] = gain == 1.0 ? outRight : static_cast<float>(outRight * gain);
    lastGain = gain;
    at = static_cast<int>(oldest);
  }
}
