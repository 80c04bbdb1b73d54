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

}  // namespace tolvane::cli
