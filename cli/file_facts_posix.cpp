#include "file_facts.h"

#include <sys/stat.h>

namespace tolvane::cli {

FileFacts FactsOf(const std::string& utf8, const Utf16Path&) {
    FileFacts facts;
    struct stat info {};
    if (::stat(utf8.c_str(), &info) != 0) {
        return facts;
    }
    facts.exists = true;
    facts.directory = S_ISDIR(info.st_mode);
    facts.volume = static_cast<std::uint64_t>(info.st_dev);
    facts.index = static_cast<std::uint64_t>(info.st_ino);
    facts.size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
    return facts;
}

Utf16Path FileNameKey(const Utf16Path& name) { return name; }

}  // namespace tolvane::cli
