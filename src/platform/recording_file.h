// Opening the recorder's output file by its UTF-16 name.
#pragma once

#include <cstdio>

#include "TolvaneWAVTimeStretch.h"

namespace tolvane::platform {

// Creates or truncates `path` for binary writing. Returns null when it cannot
// be created (a null, empty or unconvertible path counts as such).
std::FILE* OpenRecordingFile(const TolvanePathChar* path);

}  // namespace tolvane::platform
