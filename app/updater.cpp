#include "app/updater.hpp"

#include <cstdlib>
#include <cwchar>

#include <windows.h>

#include "engine/update_procedure.hpp"
#include "platform/win32/program.hpp"
#include "platform/win32/text.hpp"
#include "platform/win32/win32_file_system.hpp"
#include "ui/win32/updater_windows.hpp"

namespace tervan {

// The C runtime splits the command line as CommandLineToArgvW does for the quoting
// the update window uses, without loading shell32.
bool StartedAsReplaceStep() {
    return __argc >= 2 && std::wcscmp(__wargv[1], L"--replace") == 0;
}

int RunReplaceStep(bool dll_search_narrowed) {
    constexpr int kRefused = static_cast<int>(StepResult::Refused);
    // The step runs from the download folder with administrator rights: where that
    // folder stays in the DLL search, a DLL saved there would run with those rights.
    if (!dll_search_narrowed || __argc != 4) return kRefused;
    // Nobody sees this process: a removed disk fails the call instead of asking.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Windows gave the foreground to this process after the prompt; the update window
    // takes it back for its message once the step has ended.
    AllowSetForegroundWindow(ASFW_ANY);
    Win32FileSystem files;
    return static_cast<int>(ReplaceWithoutWindow(files, Narrow(__wargv[2]), Narrow(__wargv[3])));
}

int RunWindows(FileSystem& files, bool may_ask_for_administrator, void (*before_each_message)()) {
    UpdaterWindows windows(files, may_ask_for_administrator);
    if (!windows.open()) return 1;

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (before_each_message) before_each_message();
        const HWND top = GetAncestor(msg.hwnd, GA_ROOT);
        if (top && IsDialogMessageW(top, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    EndProgram();
}

} // namespace tervan
