#include "finished_file_log.h"

#include "platform.h"
#include "utc_time.h"

namespace tolvane::cli {
namespace {

const char* EndName(FileEnd end) {
    switch (end) {
        case FileEnd::kSplit: return "split";
        case FileEnd::kLimit: return "limit";
        case FileEnd::kStop: return "stop";
        case FileEnd::kDiskFull: return "disk full";
        case FileEnd::kCaptureStopped: return "capture stopped";
    }
    return "stop";
}

// A JSON string: quotes, backslashes and control characters escaped; the
// rest (UTF-8 included) as it is.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::string LogLine(const FinishedFile& file) {
    char lost[32];
    std::snprintf(lost, sizeof lost, "%.1f", file.lostSeconds);
    return "{\"file\":" + Quoted(file.path) + ",\"first_sample_utc\":" + Quoted(Iso8601(file.firstSampleUnixMs)) +
           ",\"seconds\":" + std::to_string(file.seconds) + ",\"finished_utc\":" +
           Quoted(Iso8601(file.finishedUnixMs)) + ",\"lost_seconds\":" + lost + ",\"ended\":" +
           Quoted(EndName(file.end)) + "}\n";
}

FinishedFileLog::~FinishedFileLog() {
    if (file_ != nullptr) std::fclose(file_);
}

bool FinishedFileLog::Open(const std::string& path) {
    path_ = path;
    Utf16Path wide;
    file_ = Utf8ToUtf16(path.c_str(), wide) ? OpenToAppend(path, wide) : nullptr;
    return file_ != nullptr;
}

void FinishedFileLog::Append(const FinishedFile& file) {
    if (file_ == nullptr) return;
    const std::string line = LogLine(file);
    const bool written = std::fwrite(line.data(), 1, line.size(), file_) == line.size() && std::fflush(file_) == 0;
    if (!written && !failed_) {
        std::fprintf(stderr, "tolvane record: cannot append to %s: the log misses files from %s on\n", path_.c_str(),
                     file.path.c_str());
    }
    failed_ = failed_ || !written;
}

}  // namespace tolvane::cli
