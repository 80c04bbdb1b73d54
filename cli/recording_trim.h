// Cutting a finished recording back to a whole number of seconds, for a
// timed recording whose file filled later than the seconds passed (storage
// lagging behind capture), so that the library had more to write at Stop.
#pragma once

#include <cstdint>

#include "utf16_args.h"

namespace tolvane::cli {

// Rewrites the header of the WAV file the recorder finished to count
// `seconds` one-second blocks and cuts the file after them. The header is
// made durable first, so a power cut in between leaves a valid file that
// counts the seconds wanted. Returns false on failure; `headerCounts` is
// then whether the header was rewritten all the same (the file is valid
// either way, with the rest of the sound uncounted behind the header's).
bool TrimRecording(const char* utf8Path, const Utf16Path& utf16Path, std::uint32_t seconds, bool& headerCounts);

}  // namespace tolvane::cli
