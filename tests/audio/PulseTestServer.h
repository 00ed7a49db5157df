#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

// A private PulseAudio daemon for a test or a benchmark: its own folder for sockets and
// state, a null sink (float32, 44100 Hz, stereo) as the only and default device, the
// native protocol on a socket of its own, and suspend-on-idle as a desktop has it. No
// sound card is needed. The daemon dies with the process that started it, whatever
// way that process ends, and the destructor stops it and waits for it.
class PulseTestServer {
 public:
  static constexpr const char* kSink = "zuroka_test";
  static constexpr int kRate = 44100;

  // Starts the daemon and waits (at most 10 s) until it answers.
  PulseTestServer();
  ~PulseTestServer();
  PulseTestServer(const PulseTestServer&) = delete;
  PulseTestServer& operator=(const PulseTestServer&) = delete;

  // True when the daemon runs and answers; otherwise GetError says why.
  bool IsUp() const { return up; }
  const std::string& GetError() const { return error; }
  // True when the pulseaudio and parec programs are installed.
  static bool IsInstalled();

  // The server string for PULSE_SERVER ("unix:/tmp/.../native").
  std::string GetServer() const;
  pid_t GetPid() const { return daemon; }
  // Makes every PulseAudio client of this process use the daemon (sets PULSE_SERVER).
  void UseInThisProcess() const;
  // Runs pactl with args against the daemon; returns what it printed (empty on failure).
  std::string Pactl(const std::vector<std::string>& args) const;
  // The daemon's CPU time so far, in seconds (user + system).
  double GetCpuSeconds() const;

  // Records the sink's monitor with parec as float32 stereo at kRate.
  class Recording {
   public:
    explicit Recording(const PulseTestServer& server);
    // Stops parec if it still runs.
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    bool IsRunning() const { return recorder > 0; }
    // Waits at most seconds until the monitor delivers (a null sink that was suspended
    // sends its first data only after a while); false if it never does.
    bool WaitForSound(double seconds) const;
    // What parec wrote to its standard error.
    std::string GetLog() const;
    // Stops parec and returns what it recorded, interleaved left, right.
    std::vector<float> Stop();

   private:
    std::filesystem::path file;
    pid_t recorder = -1;
  };

 private:
  std::filesystem::path dir;
  pid_t daemon = -1;
  bool up = false;
  std::string error;
};

// CPU time of this whole process so far (every thread), in seconds.
double ProcessCpuSeconds();
