// Opening the recorder's output file by its UTF-16 name.
#pragma once

#include <cstdint>
#include <cstdio>

#include "TolvaneWAVTimeStretch.h"

namespace tolvane::platform {

// Creates or truncates `path` for binary writing. Returns null when it cannot
// be created (a null, empty or unconvertible path counts as such).
std::FILE* OpenRecordingFile(const TolvanePathChar* path);

// Puts the stream's position at byte `offset`, which may lie past 2 GiB.
// Returns false on failure.
bool SeekRecordingFile(std::FILE* file, std::uint64_t offset);

// Cuts the open file back to its first `size` bytes. The stream must hold no
// unwritten data (the recorder's is unbuffered). Returns false on failure.
bool CutRecordingFile(std::FILE* file, std::uint64_t size);

}  // namespace tolvane::platform
