// Opening the recorder's output file by its UTF-16 name, and making what was
// written to it durable.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "TolvaneWAVTimeStretch.h"

namespace tolvane::platform {

// Which file an open recording file is, whatever name reached it.
struct RecordingFileId {
    uint64_t volume = 0;
    uint64_t file = 0;
    bool known = false;  // false: the system could not tell
};

// Creates or truncates `path` for binary writing, and says in `id` which file
// that is. Returns null when it cannot be created (a null, empty or
// unconvertible path counts as such), and when it is the file `keep` names:
// that one is left untouched, not even truncated.
FILE* OpenRecordingFile(const TolvanePathChar* path, const RecordingFileId& keep, RecordingFileId& id);

// Puts the stream's position at byte `offset`, which may lie past 2 GiB.
// Returns false on failure.
bool SeekRecordingFile(FILE* file, uint64_t offset);

// Cuts the open file back to its first `size` bytes. The stream must hold no
// unwritten data (the recorder's is unbuffered). Returns false on failure.
bool CutRecordingFile(FILE* file, uint64_t size);

// Makes the newly created file survive a power cut: its contents and its
// entry in the directory that holds it (`path`, as it was opened). Returns
// false when either cannot be made durable, except that a file system that
// cannot sync a directory at all is taken as keeping its entries itself.
bool SyncNewRecordingFile(FILE* file, const TolvanePathChar* path);

// Makes everything written to the file so far durable, as far as reading it
// back needs (its size, not its times). Returns false on failure, after
// which any of those writes may be lost.
bool SyncRecordingFile(FILE* file);

}  // namespace tolvane::platform
