#include "file_name_pattern.h"

#include <cstdio>
#include <cstring>

#include "utc_time.h"

namespace tolvane::cli {
namespace {

constexpr const char* kFields = "YmdHMSjFTsN%";

// Where the file name begins: after the last separator (on Windows '\' and
// ':' separate too; elsewhere they are characters of a name).
std::size_t FileNameStart(const std::string& path) {
#if defined(_WIN32)
    const std::size_t last = path.find_last_of("/\\:");
#else
    const std::size_t last = path.find_last_of('/');
#endif
    return last == std::string::npos ? 0 : last + 1;
}

std::string Digits(long long value, int width) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*lld", width, value);
    return text;
}

}  // namespace

bool FileNamePattern::Parse(const std::string& pattern, std::string& problem) {
    const std::size_t nameStart = FileNameStart(pattern);
    folder_ = pattern.substr(0, nameStart);
    fileName_ = pattern.substr(nameStart);
    if (folder_.find('%') != std::string::npos) {
        problem = "the fields of a name (%...) go in its file name, not in its folder: " + pattern;
        return false;
    }
    if (fileName_.empty()) {
        problem = "the output path names no file: " + pattern;
        return false;
    }
    for (std::size_t i = 0; i < fileName_.size(); ++i) {
        if (fileName_[i] != '%') continue;
        if (i + 1 == fileName_.size() || std::strchr(kFields, fileName_[i + 1]) == nullptr) {
            problem = "unknown field in the output name: " + fileName_.substr(i, 2) +
                      " (known: %Y %m %d %H %M %S %j %F %T %s %N %%)";
            return false;
        }
        ++i;
    }
    leadingText_ = fileName_.substr(0, fileName_.find('%'));
    const std::size_t dot = fileName_.rfind('.');
    const std::size_t lastField = fileName_.rfind('%');
    extension_ = dot != std::string::npos && (lastField == std::string::npos || dot > lastField + 1)
                     ? fileName_.substr(dot)
                     : "";
    if (leadingText_.size() > fileName_.size() - extension_.size()) {
        leadingText_.resize(fileName_.size() - extension_.size());
    }
    return true;
}

std::string FileNamePattern::Expand(std::int64_t unixMs, std::uint32_t number) const {
    const UtcTime t = UtcFromUnixMs(unixMs);
    std::string name;
    for (std::size_t i = 0; i < fileName_.size(); ++i) {
        if (fileName_[i] != '%') {
            name += fileName_[i];
            continue;
        }
        switch (fileName_[++i]) {
            case 'Y': name += Digits(t.year, 4); break;
            case 'm': name += Digits(t.month, 2); break;
            case 'd': name += Digits(t.day, 2); break;
            case 'H': name += Digits(t.hour, 2); break;
            case 'M': name += Digits(t.minute, 2); break;
            case 'S': name += Digits(t.second, 2); break;
            case 'j': name += Digits(t.dayOfYear, 3); break;
            case 'F': name += Digits(t.year, 4) + "-" + Digits(t.month, 2) + "-" + Digits(t.day, 2); break;
            case 'T': name += Digits(t.hour, 2) + ":" + Digits(t.minute, 2) + ":" + Digits(t.second, 2); break;
            case 's': name += Digits(unixMs / 1000 - (unixMs % 1000 < 0 ? 1 : 0), 1); break;
            case 'N': name += Digits(number, 4); break;
            default: name += '%'; break;  // "%%": Parse let no other through
        }
    }
    return folder_ + name;
}

bool FileNamePattern::MayHaveMade(const std::string& fileName) const {
    return fileName.size() >= leadingText_.size() + extension_.size() &&
           fileName.compare(0, leadingText_.size(), leadingText_) == 0 &&
           fileName.compare(fileName.size() - extension_.size(), extension_.size(), extension_) == 0;
}

std::string NumberedPath(const std::string& path, std::uint32_t k) {
    const std::size_t nameStart = FileNameStart(path);
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) dot = path.size();
    return path.substr(0, dot) + "-" + std::to_string(k) + path.substr(dot);
}

}  // namespace tolvane::cli
