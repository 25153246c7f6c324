// The two ways the program runs, for wWinMain and for the tests' copies of the
// program.
#pragma once

#include <windows.h>

#include "engine/file_system.hpp"

namespace tervan {

// Started as `tervan58-updater.exe --replace "<download folder>" "<install folder>"`:
// the replacement step that the update window starts with administrator rights.
bool StartedAsReplaceStep();

// The step: no window, no access screen, no one-copy mark (the window that started
// it holds that), no registry; the click's checks and replacement, nothing more.
// Returns the exit code (see StepResult). `dll_search_narrowed`: see
// LimitDllSearchToSystemFolder; without it the step refuses to run.
int RunReplaceStep(bool dll_search_narrowed);

// The access screen, then the update window, until the program ends. Tab, Enter and
// the Alt mnemonics work as in a dialog. `before_each_message`, for a test copy of the
// program, runs whenever a message was taken and before it is handled.
int RunWindows(FileSystem& files, bool may_ask_for_administrator,
               void (*before_each_message)() = nullptr);

} // namespace tervan
