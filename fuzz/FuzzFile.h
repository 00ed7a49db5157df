#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

// The fuzz input as a file the WAV reader can open by name: an in-memory file,
// reached through /proc/self/fd, so no disk is touched.
class FuzzFile {
 public:
  FuzzFile(const std::uint8_t* data, std::size_t size) {
    fd_ = ::memfd_create("zuroka-fuzz", MFD_CLOEXEC);
    if (fd_ < 0) std::abort();
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~FuzzFile() { ::close(fd_); }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// Stops the run with a crash the fuzzer records.
#define FUZZ_CHECK(cond)           \
  do {                             \
    if (!(cond)) __builtin_trap(); \
  } while (0)
