#include "platform/recording_file.h"

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

}  // namespace tolvane::platform
