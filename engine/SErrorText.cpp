#include "SErrorText.h"

#include <string.h>

#include <type_traits>

std::string SErrorText(int errnum) {
  char buf[256];
  // glibc's strerror_r returns the text, in buf or in a static table; the POSIX form
  // returns 0 and fills buf. Both overloads are handled so either library builds.
  const auto r = strerror_r(errnum, buf, sizeof buf);
  if constexpr (std::is_same_v<decltype(r), const int>) {
    return r == 0 ? std::string(buf) : "Unknown error " + std::to_string(errnum);
  } else {
    return std::string(r);
  }
}
