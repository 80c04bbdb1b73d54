#include "file_facts.h"

#include <windows.h>

namespace tolvane::cli {

FileFacts FactsOf(const std::string&, const Utf16Path& path) {
    FileFacts facts;
    // Backup semantics let a directory be opened too; no access is asked for,
    // so files that others hold open are found as well.
    const HANDLE file = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return facts;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    if (!known) {
        return facts;
    }
    facts.exists = true;
    facts.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.volume = info.dwVolumeSerialNumber;
    facts.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    facts.size = facts.directory ? 0 : (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return facts;
}

Utf16Path FileNameKey(const Utf16Path& name) {
    Utf16Path key = name;
    if (!key.empty()) {
        ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    }
    return key;
}

}  // namespace tolvane::cli
