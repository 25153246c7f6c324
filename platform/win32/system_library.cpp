#include "platform/win32/system_library.hpp"

#include <string>

namespace tervan {

bool LimitDllSearchToSystemFolder() {
    // Windows 7 and Vista have it only with KB2533623, hence looked up. kernel32 is in
    // every process, so GetModuleHandleW loads nothing.
    const auto set_default = ProcedureOf<decltype(SetDefaultDllDirectories)>(
        GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    // Without it the program's folder stays in the search; this at least drops the
    // current folder.
    SetDllDirectoryW(L"");
    return false;
}

HMODULE LoadCommonControlsLibrary() {
    // The side-by-side redirection comes before any folder of the search.
    const HMODULE module = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // The flag is unknown where SetDefaultDllDirectories is missing; there the plain
    // search has the program's folder first, but the redirection still comes before it.
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
        return LoadLibraryW(L"comctl32.dll");
    return module;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    std::wstring path(MAX_PATH, L'\0');
    UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    if (length >= path.size()) {
        path.resize(length);
        length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    }
    if (length == 0 || length >= path.size()) return nullptr;
    path.resize(length);
    path += L'\\';
    path += name;
    // The DLL's own imports from the system folder too. Where the flag is unknown
    // (no SetDefaultDllDirectories), the altered search looks for them in the DLL's
    // folder first; the two flags must not be combined.
    const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
        return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module;
}

} // namespace tervan
