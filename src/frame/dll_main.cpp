// Load and unload of the Windows DLL. There is nothing to set up: the
// recorder's state is plain static data with fixed initial values, and no
// framework needs the module registered with it.
//
// The DLL links no C runtime startup code, so this is its entry point under
// the name the linkers look for; the C runtime it calls (msvcrt.dll) sets
// itself up when it is loaded.
#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}
