// Load and unload of the Windows DLL. There is nothing to set up: the
// recorder's state is plain static data with fixed initial values, and no
// framework needs the module registered with it.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}
