#include "SSourceFormat.h"

#include <cstdio>

double SSourceFormat::Seconds() const {
  return sampleRate > 0 ? static_cast<double>(frames) / sampleRate : 0.0;
}

std::string SSourceFormat::Describe() const {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%s, %s, %d Hz, %d channel%s, %.2f s", container.c_str(),
                sampleFormat.c_str(), sampleRate, channels, channels == 1 ? "" : "s", Seconds());
  return buf;
}
