// The shell's functions, from shell32 and ole32 loaded at run time.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

namespace tervan {

struct ShellApi {
    decltype(SHBrowseForFolderW)* browse = nullptr;
    decltype(SHGetPathFromIDListEx)* path_ex = nullptr; // newer systems only
    decltype(SHGetPathFromIDListW)* path = nullptr;
    decltype(CoTaskMemFree)* free = nullptr;
    decltype(ShellExecuteExW)* execute = nullptr;
};

// Loaded, and COM started on the calling thread (which stays initialised), on the
// first call: most runs never open the folder chooser or ask for administrator
// rights, and both DLLs with COM weigh on every start. A function is null when it
// cannot be loaded.
const ShellApi& Shell();

} // namespace tervan
