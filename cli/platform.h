// What the tolvane program does differently on POSIX and on Windows. All of
// it is defined in platform_posix.cpp and platform_win32.cpp, with the stop
// requests of stop_request.h and Utf8Arguments of utf16_args.h; the commands
// hold no platform code. (The recording monitor's read_back_file_* stay with
// the monitor.)
#pragma once

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "utf16_args.h"

namespace tolvane::cli {

// What the batch form needs to know about a path before it writes anything.
struct FileFacts {
    bool exists = false;
    bool directory = false;
    // Two paths reach the same file exactly when both exist and these match.
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;  // in bytes; 0 for anything but a regular file
};

// Follows links, as opening the path would. The path in both spellings: each
// system takes the one its file calls use.
FileFacts FactsOf(const std::string& utf8, const Utf16Path& utf16);

// A key under which two paths that differ only in their file names name the
// same entry: the path itself, or on Windows, whose file names ignore case,
// its upper case.
Utf16Path FileNameKey(const Utf16Path& path);

// The separator to put between `dir` and a name: '/', and on Windows '\'
// unless `dir` is spelt with '/' alone.
char SeparatorFor(const std::string& dir);

// A pipe, as POSIX's pipe() makes it. The other descriptor calls (dup, dup2,
// read, write, close, isatty) are POSIX's on both: Windows' C runtime has
// them under the same names, in <io.h>.
bool MakePipe(int fds[2]);

// Renames a finished file to its final name, never over another file, and
// makes the rename durable: on POSIX the folder is synced after it, on
// Windows the move is written through.
enum class RenameResult { kRenamed, kTaken, kFailed };
RenameResult RenameDurably(const std::string& fromUtf8, const Utf16Path& from, const std::string& toUtf8,
                           const Utf16Path& to);

// Opens a file to append to, by the spelling its system's file calls take.
std::FILE* OpenToAppend(const std::string& utf8, const Utf16Path& utf16);

// Removes a file that holds nothing (the trace of a file that could not be
// set up); anything else is left alone.
void RemoveIfEmpty(const std::string& utf8, const Utf16Path& utf16);

// Whether anything (a file, a folder, a dangling link) has this name.
bool NameTaken(const std::string& utf8, const Utf16Path& utf16);

// The names in a folder ("" for the working one), without "." and "..", as
// UTF-8; false when it cannot be read.
bool ListFolder(const std::string& folderUtf8, std::vector<std::string>& names);

// The bytes the recording may still write on the file system that holds
// `folderUtf8` ("" for the working folder); false when that is not known.
bool FreeBytes(const std::string& folderUtf8, std::uint64_t& bytes);

}  // namespace tolvane::cli
