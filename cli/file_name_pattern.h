// The output argument of `tolvane record` as a pattern for the names of the
// files a recording is split into: strftime's fields, in UTC, for the time
// of a file's first sample, and %N for its number in the recording.
#pragma once

#include <cstdint>
#include <string>

namespace tolvane::cli {

class FileNamePattern {
public:
    // Takes the pattern apart. Fields: %Y %m %d %H %M %S %j %F (%Y-%m-%d)
    // %T (%H:%M:%S) %s (Unix seconds) %N (the file's number from 1, four
    // digits at least) and %% for '%'. They may stand in the file name only,
    // not in the folder, so that one folder holds a recording and the files
    // an earlier run left there can be found. Returns false, with `problem`
    // saying why, for an unknown field or one in the folder.
    bool Parse(const std::string& pattern, std::string& problem);

    // The path of file `number` whose first sample was taken at `unixMs`.
    std::string Expand(std::int64_t unixMs, std::uint32_t number) const;

    // The folder part with its separator ("" for the working folder).
    const std::string& folder() const { return folder_; }
    // Whether a file name (no folder) can be one this pattern made, numbered
    // or not: it begins with the text before the first field and ends with
    // the pattern's extension.
    bool MayHaveMade(const std::string& fileName) const;

private:
    std::string folder_;
    std::string fileName_;  // with its fields
    std::string leadingText_;
    std::string extension_;  // ".wav" or whatever the name ends with after its last '.'
};

// `path` with "-K" put in before its extension: the name tried when `path`
// is taken, K counting from 2.
std::string NumberedPath(const std::string& path, std::uint32_t k);

}  // namespace tolvane::cli
