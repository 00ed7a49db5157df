// The audio callback must never allocate. This program replaces the C allocator with one
// that counts the calls made on the thread inside Render (the callback's code, run by
// hand), and plays everything the callback mixes: a MIDI file from start to end, a WAV
// that is resampled, and live notes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <memory>

#include "AudioTestSupport.h"
#include "SAudioOutput.h"
#include "SLiveNoteSink.h"
#include "SMediaPlayer.h"

// glibc's own allocator entry points, which the counting allocator below forwards to.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);
}
// NOLINTEND(bugprone-reserved-identifier)

namespace {
thread_local bool counting = false;
std::atomic<int> allocations{0};

void Count() {
  if (counting) allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* malloc(std::size_t size) {
  Count();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  Count();
  return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
  Count();
  return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  Count();
  *out = __libc_memalign(alignment, size);
  return *out != nullptr ? 0 : 12;  // ENOMEM
}
void free(void* p) { __libc_free(p); }
}

namespace {

// Renders seconds of audio and returns the allocations made meanwhile.
int AllocationsWhileRendering(SAudioOutput& output, double seconds) {
  std::vector<float> left(kBlock), right(kBlock);
  const int before = allocations.load();
  counting = true;
  for (std::size_t done = 0; done < Frames(seconds); done += kBlock) {
    output.Render(left.data(), right.data(), kBlock);
  }
  counting = false;
  return allocations.load() - before;
}

TEST(AudioCallback, TheCounterSeesAllocations) {
  counting = true;
  auto p = std::make_unique<std::vector<int>>(100);
  counting = false;
  EXPECT_GT(allocations.load(), 0);
}

TEST(AudioCallback, NeverAllocatesWhilePlayingFilesAndLiveNotes) {
  TempDir dir;
  const std::string midi = dir / "a.mid";
  const std::string wav = dir / "a.wav";
  ASSERT_TRUE(WriteGridMidi(midi, {{60, 0, 20}, {64, 21, 41}, {67, 42, 60}}));
  ASSERT_TRUE(WriteWav16(wav, Sine(440, 0.5, 22050, 0.5), 1, 22050));
  auto sink = std::make_shared<SAudioOutput>(SAudioOutput::Mode::Sink);
  SLiveNoteSink notes(sink, false);
  SMediaPlayer player(sink);

  player.SetFileName(midi);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  player.Play();
  notes.ShortMsg(0x90 + 48 * 256 + 112 * 65536);
  EXPECT_EQ(AllocationsWhileRendering(*sink, 1.0), 0) << "while the file and a live note play";
  notes.ShortMsg(0x80 + 48 * 256 + 112 * 65536);
  // To the file's end, its voices' release and the player's grace.
  EXPECT_EQ(AllocationsWhileRendering(*sink, 4.5), 0) << "at the end of the MIDI file";
  EXPECT_FALSE(player.IsPlaying());

  player.SetFileName(wav);
  ASSERT_TRUE(player.Open()) << player.GetErrorText();
  player.Play();
  EXPECT_EQ(AllocationsWhileRendering(*sink, 1.0), 0) << "while resampling a WAV to its end";
  EXPECT_FALSE(player.IsPlaying());
}

}  // namespace
