// Facts about the running updater itself.
#pragma once

#include <string>

namespace tervan {

// The running exe's full path, as the loader reports it; empty if it cannot be had.
std::wstring OwnExePath();

// The folder that holds the running exe, without a trailing "\" except for a
// drive root ("C:\"). A "\\?\" prefix the loader may report is removed, so the
// text can be shown and compared like any other folder text.
std::string OwnFolder();

struct OwnVersion {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned revision = 0;
};

// From the exe's own version resource: FILEVERSION a,b,c,d gives a, b and d (the
// third part has no place in the program's version). All zero without a resource.
OwnVersion ReadOwnVersion();

// Marks this process as the running copy of the updater and tells whether one was
// running already. The mark lasts until the process ends; asking again gives the
// first answer.
bool AnotherCopyRunning();

// The name of the mark, per logon session.
inline constexpr const wchar_t* kRunningMutexName = L"Local\\Tervan58Updater.Running";

// Ends the program at once: every window goes with the process and no further
// event procedure runs.
[[noreturn]] void EndProgram();

} // namespace tervan
