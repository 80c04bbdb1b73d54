// The tolvane program's platform layer on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include "platform.h"
#include "stop_request.h"

namespace tolvane::cli {
namespace {

HANDLE stopEvent = nullptr;

// Runs on a thread of the console's; it only signals the waiting thread.
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    SetEvent(stopEvent);
    return TRUE;
}

}  // namespace

void CatchStopRequests() {
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool WaitForStopRequest(std::chrono::milliseconds timeout) {
    return WaitForSingleObject(stopEvent, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

// Windows has no SIGPIPE: such writes already just fail.
void IgnoreBrokenPipes() {}

bool StderrIsTerminal() { return _isatty(2) != 0; }

// `argv` is in the ANSI code page, which cannot spell every file name, so the
// wide command line is read instead.
std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return {argv, argv + argc};
    }
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? static_cast<std::size_t>(size) : 1u, '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), size, nullptr, nullptr);
        arg.resize(arg.size() - 1);  // the terminator
        out.push_back(arg);
    }
    ::LocalFree(wide);
    return out;
}

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

Utf16Path FileNameKey(const Utf16Path& path) {
    Utf16Path key = path;
    if (!key.empty()) {
        ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    }
    return key;
}

char SeparatorFor(const std::string& dir) {
    const bool slashes = dir.find('/') != std::string::npos && dir.find('\\') == std::string::npos;
    return slashes ? '/' : '\\';
}

bool MakePipe(int fds[2]) { return _pipe(fds, 65536, _O_BINARY) == 0; }

// Without MOVEFILE_REPLACE_EXISTING a move never replaces; written through,
// it is on storage when it returns (Windows has no folder sync to add).
RenameResult RenameDurably(const std::string&, const Utf16Path& from, const std::string&, const Utf16Path& to) {
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return RenameResult::kRenamed;
    const DWORD error = ::GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? RenameResult::kTaken : RenameResult::kFailed;
}

std::FILE* OpenToAppend(const std::string&, const Utf16Path& path) { return ::_wfopen(path.c_str(), L"ab"); }

void RemoveIfEmpty(const std::string& utf8, const Utf16Path& path) {
    const FileFacts facts = FactsOf(utf8, path);
    if (facts.exists && !facts.directory && facts.size == 0) ::DeleteFileW(path.c_str());
}

bool NameTaken(const std::string&, const Utf16Path& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ||
           ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

namespace {

std::wstring Wide(const std::string& utf8) {
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? static_cast<std::size_t>(size) : 1u, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), size);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string Narrow(const wchar_t* wide) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? static_cast<std::size_t>(size) : 1u, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

std::wstring FolderPath(const std::string& folder) { return folder.empty() ? std::wstring(L".\\") : Wide(folder); }

}  // namespace

bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((FolderPath(folder) + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::string name = Narrow(found.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return true;
}

bool FreeBytes(const std::string& folder, std::uint64_t& bytes) {
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(FolderPath(folder).c_str(), &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    return true;
}

}  // namespace tolvane::cli
