#pragma once

#include <unistd.h>

// Owns one open file descriptor (-1: none) and closes it; a lock taken with flock
// on it ends with it.
class SFileHandle {
 public:
  SFileHandle() = default;
  explicit SFileHandle(int fd) : fd(fd) {}
  ~SFileHandle() { Reset(); }
  SFileHandle(SFileHandle&& other) noexcept : fd(other.fd) { other.fd = -1; }
  SFileHandle& operator=(SFileHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      fd = other.fd;
      other.fd = -1;
    }
    return *this;
  }
  SFileHandle(const SFileHandle&) = delete;
  SFileHandle& operator=(const SFileHandle&) = delete;

  int Get() const { return fd; }
  bool IsOpen() const { return fd >= 0; }
  void Reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

 private:
  int fd = -1;
};
