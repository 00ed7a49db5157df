#include "SSequence.h"

#include <algorithm>
#include <new>
#include <string>

#include "EngineConstants.h"
#include "SEngineSeam.h"

int SSequence::Init(int rows, int frames) {
  rowFlags.clear();
  channels.clear();
  cells.clear();
  this->rows = 0;
  this->frames = 0;
  if (rows < 0 || frames < 0) return -1;
  try {
    rowFlags.assign(static_cast<std::size_t>(rows), 0);
    channels.assign(static_cast<std::size_t>(rows), 0);
    cells.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(frames), 0);
  } catch (const std::bad_alloc&) {
    rowFlags.clear();
    channels.clear();
    cells.clear();
    return -1;
  }
  this->rows = rows;
  this->frames = frames;
  return 0;
}

void SSequence::Report(const char* what, int row, int frame) const {
  if (!seam) return;
  seam->ShowMessage("Sequence[" + std::to_string(row) + "][" + std::to_string(frame) + "]" + what,
                    "SSequence::GetSequence( int, int )");
}

std::uint8_t SSequence::GetSequence(int row, int frame) const {
  if (!InRange(row, frame)) {
    Report("にアクセスしようとしました", row, frame);
    return 0;
  }
  return cells[static_cast<std::size_t>(row) * frames + frame];
}

std::uint8_t SSequence::SetSequence(int row, int frame, std::uint8_t value) {
  if (!InRange(row, frame)) {
    if (seam) {
      seam->ShowMessage("Sequence[" + std::to_string(row) + "][" + std::to_string(frame) +
                            "]に書き込もうとしました",
                        "SSequence::SetSequence( int, int, unsigned char )");
    }
    return 0;
  }
  cells[static_cast<std::size_t>(row) * frames + frame] = value;
  return value;
}

void SSequence::FillSequence(int row, int from, int to, std::uint8_t value) {
  if (row < 0 || row >= rows) return;
  from = std::max(from, 0);
  to = std::min(to, frames);
  if (from >= to) return;
  std::uint8_t* r = cells.data() + static_cast<std::size_t>(row) * frames;
  std::fill(r + from, r + to, value);
}

std::int32_t SSequence::ReserveRow() {
  for (int r = 0; r < rows; ++r) {
    if (rowFlags[r] == 0) {
      rowFlags[r] = 1;
      if (r > maxRow) maxRow = r;
      return r;
    }
  }
  return -1;
}

std::uint8_t SSequence::SetRowFlag(int row, std::uint8_t value) {
  if (row >= 0 && row < rows) rowFlags[row] = value;
  return value;
}

std::int8_t SSequence::GetChannel(int row) const {
  return (row >= 0 && row < rows) ? channels[row] : 0;
}

double SSequence::GetCommonNoteLength(int& lengthFrames) const {
  struct Bucket {
    int length;
    int count;
  };
  // Grows past kLengthBuckets: a 21st length can still be the most frequent one.
  std::vector<Bucket> buckets;
  buckets.reserve(zuroka::kLengthBuckets);
  for (int r = 0; r < rows; ++r) {
    const std::uint8_t* cell = Row(r);
    bool inside = false;
    int q = 0;
    for (int f = 0; f < frames; ++f) {
      const std::uint8_t v = cell[f];
      if (!inside) {
        if (v == zuroka::kNoteOnMark) {
          inside = true;
          q = 1;
        }
      } else if (v == 0) {
        ++q;
      } else if (v == zuroka::kNoteOffMark) {
        ++q;
        auto it = std::find_if(buckets.begin(), buckets.end(),
                               [q](const Bucket& b) { return b.length == q; });
        if (it != buckets.end()) {
          ++it->count;
        } else {
          buckets.push_back({q, 1});
        }
        inside = false;
      }
    }
  }
  int length = -1;
  if (!buckets.empty()) {
    const int border = seam ? seam->GetBorder() : zuroka::kDefaultBorder;
    const Bucket* chosen = &buckets.front();
    for (const Bucket& b : buckets) {
      if (b.length > border && b.count > chosen->count) chosen = &b;
    }
    length = chosen->length;
  }
  lengthFrames = length;
  // Samples that `length` frames cover, times 1/44100 in extended precision.
  const long long samples =
      static_cast<long long>(length - 1) * zuroka::kHop + zuroka::kFrameLength;
  return static_cast<double>(static_cast<long double>(samples) *
                             (1.0L / static_cast<long double>(zuroka::kSampleRate)));
}
