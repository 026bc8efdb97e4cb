// Entry point of FendrixVC.asi. WINAPI matters: without it the runtime's
// default entry point runs instead and start-up silently never happens.
#include <windows.h>

#include "plugin/startup.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        fendrix::startup(instance);
    }
    return TRUE;
}
