// One libFuzzer program per target; ORVELLE_FUZZ_TARGET names the function it drives.

#include <cstddef>
#include <cstdint>

#include "targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orvelle::fuzz::ORVELLE_FUZZ_TARGET({reinterpret_cast<const char*>(data), size});
  return 0;
}
