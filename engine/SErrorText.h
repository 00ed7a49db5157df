#pragma once

#include <string>

// The C library's text for an errno value, safe on any thread (std::strerror may
// share one buffer between threads).
std::string SErrorText(int errnum);
