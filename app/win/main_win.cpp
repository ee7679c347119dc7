// Entry point of Taktor.exe. The program reads no command line.
#include <windows.h>

#include "app/win/configurator_win.h"
#include "common/win/dll_search_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    taktor::RestrictDllSearch();
    static taktor::Configurator configurator;
    configurator.Run(instance);
}
