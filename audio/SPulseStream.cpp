#include "SPulseStream.h"

#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <sched.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kChunkFrames = 2048;     // rendered per step of a write request
constexpr int kRealtimePriority = 60;  // SCHED_FIFO, as FluidSynth's own audio threads
constexpr const char* kClientName = "Zuroka";
// The server asks for more each time a quarter of the buffer has played: a late
// answer still has three quarters of it in hand.
constexpr std::uint32_t kRequestsPerBuffer = 4;

}  // namespace

std::unique_ptr<SPulseStream> SPulseStream::Open(int rate, double latency, RenderFunction render,
                                                 void* data, std::string& error) {
  std::unique_ptr<SPulseStream> p(new SPulseStream());
  p->render = render;
  p->data = data;
  p->left.assign(kChunkFrames, 0.0f);
  p->right.assign(kChunkFrames, 0.0f);
  p->loop = pa_threaded_mainloop_new();
  if (p->loop == nullptr) {
    error = "out of memory";
    return nullptr;
  }
  pa_proplist* props = pa_proplist_new();
  pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
  pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, kClientName);
  p->context =
      pa_context_new_with_proplist(pa_threaded_mainloop_get_api(p->loop), kClientName, props);
  pa_proplist_free(props);
  if (p->context == nullptr) {
    error = "out of memory";
    return nullptr;
  }
  pa_context_set_state_callback(p->context, &SPulseStream::OnContextState, p.get());
  // No autospawn: a server that is not running is reported, not started behind the
  // user's back.
  if (pa_context_connect(p->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
      pa_threaded_mainloop_start(p->loop) < 0) {
    error = pa_strerror(pa_context_errno(p->context));
    return nullptr;
  }

  pa_threaded_mainloop_lock(p->loop);
  for (;;) {
    const pa_context_state_t state = pa_context_get_state(p->context);
    if (state == PA_CONTEXT_READY) break;
    if (!PA_CONTEXT_IS_GOOD(state)) {
      error = pa_strerror(pa_context_errno(p->context));
      pa_threaded_mainloop_unlock(p->loop);
      return nullptr;
    }
    pa_threaded_mainloop_wait(p->loop);
  }
  pa_sample_spec sampleFormat{};
  sampleFormat.format = PA_SAMPLE_FLOAT32NE;
  sampleFormat.rate = static_cast<std::uint32_t>(rate);
  sampleFormat.channels = 2;
  p->stream = pa_stream_new(p->context, kClientName, &sampleFormat, nullptr);
  if (p->stream == nullptr) {
    error = pa_strerror(pa_context_errno(p->context));
    pa_threaded_mainloop_unlock(p->loop);
    return nullptr;
  }
  pa_stream_set_state_callback(p->stream, &SPulseStream::OnStreamState, p.get());
  pa_stream_set_write_callback(p->stream, &SPulseStream::OnWrite, p.get());
  pa_stream_set_underflow_callback(p->stream, &SPulseStream::OnUnderflow, p.get());
  const auto total = static_cast<std::uint32_t>(
      pa_usec_to_bytes(static_cast<pa_usec_t>(latency * 1e6), &sampleFormat));
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = total;
  attr.prebuf = static_cast<std::uint32_t>(-1);
  const std::size_t frame = pa_frame_size(&sampleFormat);
  attr.minreq = static_cast<std::uint32_t>(total / kRequestsPerBuffer / frame * frame);
  attr.fragsize = static_cast<std::uint32_t>(-1);
  if (pa_stream_connect_playback(p->stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                 nullptr) < 0) {
    error = pa_strerror(pa_context_errno(p->context));
    pa_threaded_mainloop_unlock(p->loop);
    return nullptr;
  }
  for (;;) {
    const pa_stream_state_t state = pa_stream_get_state(p->stream);
    if (state == PA_STREAM_READY) break;
    if (!PA_STREAM_IS_GOOD(state)) {
      error = pa_strerror(pa_context_errno(p->context));
      pa_threaded_mainloop_unlock(p->loop);
      return nullptr;
    }
    pa_threaded_mainloop_wait(p->loop);
  }
  pa_threaded_mainloop_unlock(p->loop);
  return p;
}

SPulseStream::~SPulseStream() {
  if (loop == nullptr) return;
  // Under the loop's lock no callback runs; once the stream is disconnected none will.
  pa_threaded_mainloop_lock(loop);
  if (stream != nullptr) {
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
  }
  if (context != nullptr) {
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
  pa_threaded_mainloop_unlock(loop);
  pa_threaded_mainloop_stop(loop);
  pa_threaded_mainloop_free(loop);
}

void SPulseStream::OnContextState(pa_context* c, void* self) {
  auto* p = static_cast<SPulseStream*>(self);
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c))) p->good.store(false);
  pa_threaded_mainloop_signal(p->loop, 0);
}

void SPulseStream::OnStreamState(pa_stream* s, void* self) {
  auto* p = static_cast<SPulseStream*>(self);
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) p->good.store(false);
  pa_threaded_mainloop_signal(p->loop, 0);
}

void SPulseStream::OnUnderflow(pa_stream*, void* self) {
  static_cast<SPulseStream*>(self)->underflows.fetch_add(1);
}

void SPulseStream::OnWrite(pa_stream*, std::size_t bytes, void* self) {
  static_cast<SPulseStream*>(self)->Write(bytes);
}

void SPulseStream::Write(std::size_t bytes) {
  if (!priorityTried) {
    // Where the system allows it (rtkit limits, root), the busy desktop cannot delay
    // this thread; elsewhere it stays as it is and the buffer has to cover.
    priorityTried = true;
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  }
  constexpr std::size_t kFrameBytes = 2 * sizeof(float);
  while (bytes >= kFrameBytes) {
    void* buffer = nullptr;
    std::size_t size = std::min(bytes, kChunkFrames * kFrameBytes);
    if (pa_stream_begin_write(stream, &buffer, &size) < 0 || buffer == nullptr) return;
    const int frames = static_cast<int>(std::min(size, kChunkFrames * kFrameBytes) / kFrameBytes);
    std::fill_n(left.data(), frames, 0.0f);
    std::fill_n(right.data(), frames, 0.0f);
    render(data, left.data(), right.data(), frames);
    auto* out = static_cast<float*>(buffer);
    for (int i = 0; i < frames; ++i) {
      out[2 * i] = left[static_cast<std::size_t>(i)];
      out[2 * i + 1] = right[static_cast<std::size_t>(i)];
    }
    const std::size_t written = static_cast<std::size_t>(frames) * kFrameBytes;
    if (pa_stream_write(stream, buffer, written, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    bytes -= std::min(bytes, written);
  }
}
