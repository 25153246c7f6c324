// Program start: the replacement step when started for it, else the windows. Ending
// the program is always EndProgram, which does not return here.
#include <windows.h>

#include "app/updater.hpp"
#include "platform/win32/administrator.hpp"
#include "platform/win32/system_library.hpp"
#include "platform/win32/win32_file_system.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // First, before anything loads a DLL: the DLLs loaded from here on, also by system
    // DLLs, come from the system folder and not from the download folder the program
    // runs from, where Windows has SetDefaultDllDirectories (every supported Windows;
    // see system_library.hpp for older ones). The exe links only KnownDLLs, which
    // never come from anywhere else.
    const bool narrowed = tervan::LimitDllSearchToSystemFolder();
    if (tervan::StartedAsReplaceStep()) return tervan::RunReplaceStep(narrowed);

    tervan::Win32FileSystem files;
    // Administrator rights are asked for only where they would add something, and
    // only where the step, which runs from the download folder, loads no DLL from it.
    return tervan::RunWindows(files, narrowed && !tervan::RunsElevated());
}
