#include "platform/native_path.h"

#include <stddef.h>
#include <stdint.h>

namespace tolvane::platform {

bool ToNativePath(const TolvanePathChar* path, NativePath& out) {
    out.name[0] = '\0';
    if (path == nullptr || path[0] == 0) {
        return false;
    }
    size_t used = 0;
    // Appends `count` bytes, keeping room for the terminator.
    auto room = [&](size_t count) { return used + count < kMaxNativePath; };
    for (size_t i = 0; path[i] != 0; ++i) {
        uint32_t unit = static_cast<uint16_t>(path[i]);
        uint32_t codePoint = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const uint32_t low = static_cast<uint16_t>(path[i + 1]);
            if (low < 0xDC00 || low > 0xDFFF) {
                return false;  // high surrogate without its low half
            }
            codePoint = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;  // low surrogate on its own
        }
        if (codePoint < 0x80) {
            if (!room(1)) return false;
            out.name[used++] = static_cast<char>(codePoint);
        } else if (codePoint < 0x800) {
            if (!room(2)) return false;
            out.name[used++] = static_cast<char>(0xC0 | (codePoint >> 6));
            out.name[used++] = static_cast<char>(0x80 | (codePoint & 0x3F));
        } else if (codePoint < 0x10000) {
            if (!room(3)) return false;
            out.name[used++] = static_cast<char>(0xE0 | (codePoint >> 12));
            out.name[used++] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            out.name[used++] = static_cast<char>(0x80 | (codePoint & 0x3F));
        } else {
            if (!room(4)) return false;
            out.name[used++] = static_cast<char>(0xF0 | (codePoint >> 18));
            out.name[used++] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
            out.name[used++] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            out.name[used++] = static_cast<char>(0x80 | (codePoint & 0x3F));
        }
    }
    out.name[used] = '\0';
    return true;
}

}  // namespace tolvane::platform
