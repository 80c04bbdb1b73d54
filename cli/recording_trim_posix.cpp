#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include "recording_trim.h"
#include "wav_sizes.h"

namespace tolvane::cli {

bool TrimRecording(const char* utf8Path, const Utf16Path&, std::uint32_t seconds, bool& headerCounts) {
    headerCounts = false;
    const int fd = ::open(utf8Path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const WavSizes sizes = SizesFor(seconds);
    // The data size goes first: a header left half-written by a failure then
    // counts fewer bytes than the file holds, never more.
    headerCounts = ::pwrite(fd, sizes.data, sizeof sizes.data, kDataSizeOffset) == sizeof sizes.data;
    const bool done = headerCounts &&
                      ::pwrite(fd, sizes.riff, sizeof sizes.riff, kRiffSizeOffset) == sizeof sizes.riff &&
                      ::fsync(fd) == 0 && ::ftruncate(fd, static_cast<off_t>(sizes.fileBytes)) == 0 &&
                      ::fsync(fd) == 0;
    return ::close(fd) == 0 && done;
}

}  // namespace tolvane::cli
