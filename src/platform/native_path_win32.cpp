#include "platform/native_path.h"

#include <stddef.h>

namespace tolvane::platform {
namespace {

// The longest name the system's wide-character file calls take, "\\?\"
// prefix included; anything longer cannot name a file.
constexpr size_t kMaxNativePath = 32767;

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

bool ToNativePath(const TolvanePathChar* path, NativePath& out) {
    out.name = nullptr;
    if (path == nullptr || path[0] == 0) {
        return false;
    }
    // Windows itself would take a lone surrogate as part of a name and create
    // a file that no other program can spell; refuse it as other systems do.
    for (size_t i = 0; path[i] != 0; ++i) {
        if (i >= kMaxNativePath) {
            return false;
        }
        if (IsHighSurrogate(path[i])) {
            if (!IsLowSurrogate(path[i + 1])) {
                return false;
            }
            ++i;
        } else if (IsLowSurrogate(path[i])) {
            return false;
        }
    }
    out.name = path;
    return true;
}

}  // namespace tolvane::platform
