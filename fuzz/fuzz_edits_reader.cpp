// The reader of --edits files on arbitrary bytes: a clear error or a valid list.
#include <string>

#include "EditsFile.h"
#include "FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const auto edits =
      zuroka::ParseEdits(std::string(reinterpret_cast<const char*>(data), size), error);
  if (!edits) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  for (const SGesture& g : *edits) {
    FUZZ_CHECK(g.button == SButton::Left || g.button == SButton::Right ||
               g.button == SButton::Middle);
  }
  return 0;
}
