// Feeds arbitrary bytes to the version readers, which must neither crash, hang nor read
// outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/executable_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static_cast<void>(kalo::platform::ParseExecutableVersion(std::as_bytes(std::span(data, size))));
  return 0;
}
