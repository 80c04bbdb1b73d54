#include "platform/recording_file.h"

#include "platform/native_path.h"

namespace tolvane::platform {

std::FILE* OpenRecordingFile(const TolvanePathChar* path) {
    NativePath name;
    if (!ToNativePath(path, name)) {
        return nullptr;
    }
    // "N": the file stays open for the whole recording and must not be
    // inherited by programs the host starts meanwhile.
    return ::_wfopen(name.name, L"wbN");
}

}  // namespace tolvane::platform
