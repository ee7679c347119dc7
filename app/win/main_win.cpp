// Entry point of Taktor.exe. The program reads no command line.
#include <windows.h>

#include "app/win/configurator_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    static taktor::Configurator configurator;
    configurator.Run(instance);
}
