// DLLs that are not KnownDLLs are never found through the search order, whose first
// stop is the program's own folder: that is the download folder, where a browser may
// have saved anything named version.dll or wintrust.dll.
#pragma once

#include <windows.h>

namespace tervan {

// Narrows the process's DLL search to the system folder, for the DLLs that system
// DLLs themselves load later (uxtheme, dwmapi, ...). Must come before anything that
// may load a DLL. False where Windows lacks SetDefaultDllDirectories (Windows 7 or
// Vista without KB2533623): there only the current folder leaves the search, and the
// program's own folder stays first in it.
bool LimitDllSearchToSystemFolder();

// The DLL of that file name from the system folder, loaded by its full path; nullptr
// when it cannot be loaded. Never unloaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The common controls, version 6 where the program's manifest asks for it: loaded by
// name, so that the manifest's activation context finds the side-by-side copy (a full
// path would give version 5 from the system folder), and otherwise only from the
// system folder. nullptr when they cannot be loaded.
HMODULE LoadCommonControlsLibrary();

// The exported function `name` of `module` as a pointer of type `Function`; nullptr
// when the module is missing or does not export it.
template <typename Function> Function* ProcedureOf(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    // Through void*: a cast between unrelated function pointer types draws a warning.
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace tervan
