// Turning the UTF-16 paths that callers pass into names the system opens.
#pragma once

#include "TolvaneWAVTimeStretch.h"

namespace tolvane::platform {

#if defined(_WIN32)
// Windows opens the wide-character name itself, so no conversion or copy is
// needed; the pointer only has to be checked.
struct NativePath {
    const wchar_t* name = nullptr;
};
#else
// Linux names are bytes; callers' UTF-16 is turned into UTF-8. PATH_MAX on
// Linux is 4096 including the terminator: anything longer cannot be opened.
constexpr unsigned kMaxNativePath = 4096;
struct NativePath {
    char name[kMaxNativePath];
};
#endif

// Fills `out` from the zero-terminated UTF-16 `path`. Returns false for a null
// pointer, an empty path, an unpaired surrogate or a name too long for the
// system: each is a file that cannot be opened.
bool ToNativePath(const TolvanePathChar* path, NativePath& out);

}  // namespace tolvane::platform
