// What a finished recording must hold, built from the tests' own header
// bytes rather than the library's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wav_bytes.h"

namespace tolvane::test {

// Fills `out` with the `bytes` of second `second` as a test's source makes it.
using FillSecond = void (*)(std::uint32_t second, unsigned char* out, std::size_t bytes);

// An 8000 Hz recording of `seconds` whole seconds: the header that counts
// them, then each second as `fill` makes it, from second `first` on.
Bytes ExpectedRecording(std::uint32_t seconds, FillSecond fill, std::uint32_t first = 0);

}  // namespace tolvane::test
