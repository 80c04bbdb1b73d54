// The files of a recording under their two names: NAME.part while the
// recorder writes it, NAME once it is finished. A folder watcher or rsync
// that skips *.part so sees only complete files, under their final names.
#pragma once

#include <cstdint>
#include <string>

#include "file_name_pattern.h"

namespace tolvane::cli {

constexpr const char* kPartSuffix = ".part";

// NAME for NAME.part.
std::string FinalNameOf(const std::string& part);

// `wanted`, or the first of its numbered names (NumberedPath) for which
// neither NAME nor NAME.part is taken: a recording never writes over a file.
std::string FreeName(const std::string& wanted);

// Renames `part` to `wanted`, or to its first numbered name that is free,
// durably. Returns false when it cannot (then `part` stays); `finalPath`
// is the name it has now.
bool FinishPart(const std::string& part, const std::string& wanted, std::string& finalPath);

// Gives the .part files that a recording into the same folder left (a power
// cut, a kill) their final names. They are valid WAVs by the recorder's
// design: each second is counted only once it is on storage. Only files
// that the pattern may have made and that begin with a recorder's header
// are touched, and nothing is removed. Each is named on standard error.
void RecoverParts(const FileNamePattern& pattern);

}  // namespace tolvane::cli
