#include "utf16_args.h"

#include <cstdint>

namespace tolvane::cli {

bool Utf8ToUtf16(const char* utf8, Utf16Path& out) {
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    while (*p != 0) {
        std::uint32_t codePoint = 0;
        int extra = 0;
        if (*p < 0x80) {
            codePoint = *p;
        } else if ((*p & 0xE0) == 0xC0) {
            codePoint = *p & 0x1Fu;
            extra = 1;
        } else if ((*p & 0xF0) == 0xE0) {
            codePoint = *p & 0x0Fu;
            extra = 2;
        } else if ((*p & 0xF8) == 0xF0) {
            codePoint = *p & 0x07u;
            extra = 3;
        } else {
            return false;
        }
        ++p;
        for (int i = 0; i < extra; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (*p & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static const std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (codePoint < kMinimum[extra] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            out.push_back(static_cast<TolvanePathChar>(0xD800 + (codePoint >> 10)));
            out.push_back(static_cast<TolvanePathChar>(0xDC00 + (codePoint & 0x3FF)));
        } else {
            out.push_back(static_cast<TolvanePathChar>(codePoint));
        }
    }
    return true;
}

}  // namespace tolvane::cli
