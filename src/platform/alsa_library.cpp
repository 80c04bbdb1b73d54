#include "platform/alsa_library.h"

#include <dlfcn.h>
#include <string.h>

#include "platform/threads.h"

namespace tolvane::platform {

AlsaLibrary theAlsa;

namespace {

Mutex loading;
bool loaded = false;  // guarded by `loading`

// A function pointer from dlsym's object pointer, without a cast between
// the two kinds that the language leaves to the implementation.
template <typename Function>
bool Find(void* library, const char* name, Function& function) {
    void* const symbol = dlsym(library, name);
    static_assert(sizeof symbol == sizeof function, "function and object pointers differ in size");
    memcpy(&function, &symbol, sizeof function);
    return symbol != nullptr;
}

}  // namespace

bool LoadAlsaLibrary() {
    const MutexGuard guard(loading);
    if (loaded) return true;
    void* const library = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return false;
    AlsaLibrary found;
    bool complete = true;
#define TOLVANE_ALSA_FIND(name) complete = Find(library, #name, found.name) && complete;
    TOLVANE_ALSA_FUNCTIONS(TOLVANE_ALSA_FIND)
#undef TOLVANE_ALSA_FIND
    if (!complete) {
        dlclose(library);
        return false;
    }
    theAlsa = found;
    loaded = true;
    return true;
}

}  // namespace tolvane::platform
