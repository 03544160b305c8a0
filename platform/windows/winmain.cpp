// The updater's entry point: no window of its own, no command line, no show state.

#include "driver/update_flow.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return RunUpdater();
}
