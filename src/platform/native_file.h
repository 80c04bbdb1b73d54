// The converter's two files, over the system's own file calls: large reads
// straight into the caller's buffer, file identity, and removal of an
// incomplete output.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/native_path.h"

namespace tolvane::platform {

// Which file an open handle refers to, whatever name reached it.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t file = 0;
};

class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Opens for reading. Fails for anything that cannot be read as a stream
    // of bytes, a directory included.
    bool Open(const NativePath& path);

    // Reads until `size` bytes are in or the input ends. Returns the bytes
    // read, or -1 on a read error.
    ptrdiff_t ReadFully(void* buffer, size_t size);

    // The file's size, when it is a regular file and so known in advance.
    bool SizeKnown() const { return sizeKnown_; }
    uint64_t Size() const { return size_; }
    const FileIdentity& Identity() const { return identity_; }

private:
    intptr_t handle_ = -1;
    bool sizeKnown_ = false;
    uint64_t size_ = 0;
    FileIdentity identity_;
};

class OutputFile {
public:
    enum class OpenResult { kOpened, kFailed, kSameAsInput };

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Closes without removing; call Discard() to drop an incomplete file.
    ~OutputFile();

    // Opens for writing, creating the file. An existing file is never
    // truncated here: it is overwritten and cut to length by Close(), and
    // one that turns out to be `input` is left untouched. `path` must outlive
    // this object; it may be rewritten to the name of the file created when
    // it was reached through a link.
    OpenResult Open(NativePath& path, const InputFile& input);

    // Appends all `size` bytes; false on failure.
    bool Write(const void* data, size_t size);
    // Overwrites the file's first `size` bytes, leaving the end where it is;
    // false when the output cannot seek (a pipe) or the write fails.
    bool WriteAtStart(const void* data, size_t size);
    // Cuts a regular file to the bytes appended, then closes; false if
    // either fails.
    bool Close();
    // Closes, and removes the file if it is a regular file that this object
    // created, or one that `path` named itself rather than through a link.
    void Discard();

private:
    intptr_t handle_ = -1;
    bool regular_ = false;
    FileIdentity identity_;
#if defined(_WIN32)
    const wchar_t* name_ = nullptr;
#else
    uint64_t end_ = 0;  // bytes appended so far, where Close cuts the file
    const char* name_ = nullptr;
#endif
};

}  // namespace tolvane::platform
