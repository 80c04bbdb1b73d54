#include "platform/recording_file.h"

#include <sys/types.h>
#include <unistd.h>

#include "platform/native_path.h"

namespace tolvane::platform {

std::FILE* OpenRecordingFile(const TolvanePathChar* path) {
    NativePath name;
    if (!ToNativePath(path, name)) {
        return nullptr;
    }
    // "e": the file stays open for the whole recording and must not leak
    // into programs the host starts meanwhile.
    return std::fopen(name.name, "wbe");
}

bool SeekRecordingFile(std::FILE* file, std::uint64_t offset) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool CutRecordingFile(std::FILE* file, std::uint64_t size) {
    return ::ftruncate(::fileno(file), static_cast<off_t>(size)) == 0;
}

}  // namespace tolvane::platform
