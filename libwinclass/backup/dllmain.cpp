// The library's entry point. All set-up is static initialisation; the library starts no
// thread and needs no per-thread notice.
#include <platform/tvplatform.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID)
{
    DisableThreadLibraryCalls(instance);
    return TRUE;
}
