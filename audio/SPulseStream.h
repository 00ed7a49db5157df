#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

// A playback stream to the PulseAudio server (or PipeWire's PulseAudio service) that
// asks the program for sound when the server wants it: the render function runs on
// libpulse's own thread, inside the server's write request, and writes straight into
// the stream's buffer, so no second thread stands between the server and the sound.
// The buffer's length is the output's latency; the server asks for more whenever a
// quarter of it has played, so a busy desktop has three quarters of it in hand.
//
// Threads: Open and the destructor run on the interface thread; render runs on the
// stream's thread (raised to real-time priority where the system allows it) and only
// between Open and the destructor's return.
class SPulseStream {
 public:
  // Adds frames of stereo sound into left and right, which are zeroed; valid only
  // during the call. Must not allocate, lock or wait.
  using RenderFunction = void (*)(void* data, float* left, float* right, int frames);

  // Connects to the default server and device and starts a stereo stream of float
  // samples at rate per second with latency seconds of buffer. Null on failure, with
  // error set to the cause.
  static std::unique_ptr<SPulseStream> Open(int rate, double latency, RenderFunction render,
                                            void* data, std::string& error);
  // Stops the stream and disconnects; render is not called any more once it returns.
  ~SPulseStream();
  SPulseStream(const SPulseStream&) = delete;
  SPulseStream& operator=(const SPulseStream&) = delete;

  // False once the server has gone or dropped the stream: it will not ask for sound
  // again, and a new stream has to be opened. Takes no lock: a thread of normal
  // priority that held the stream's lock could keep the stream's own thread waiting.
  bool IsGood() const { return good.load(); }
  // Times the server reported running out of this stream's sound.
  int GetUnderflows() const { return underflows.load(); }

 private:
  SPulseStream() = default;
  static void OnContextState(pa_context* c, void* self);
  static void OnStreamState(pa_stream* s, void* self);
  static void OnWrite(pa_stream* s, std::size_t bytes, void* self);
  static void OnUnderflow(pa_stream* s, void* self);
  // The server's write request: renders bytes of sound into the stream.
  void Write(std::size_t bytes);

  RenderFunction render = nullptr;
  void* data = nullptr;
  bool priorityTried = false;
  std::atomic<int> underflows{0};
  std::atomic<bool> good{true};  // set by the state callbacks
  std::vector<float> left;       // one chunk each, planar
  std::vector<float> right;
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  pa_stream* stream = nullptr;
};
