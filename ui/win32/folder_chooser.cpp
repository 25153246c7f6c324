#include "ui/win32/folder_chooser.hpp"

#include <objbase.h>
#include <shlobj.h>
#include <vector>

#include "platform/win32/system_library.hpp"
#include "platform/win32/text.hpp"

namespace tervan {

namespace {

// shell32 and ole32 are loaded, and COM started, only when the chooser first opens:
// most runs never open it, and both DLLs with COM weigh on every start.
struct ShellApi {
    decltype(SHBrowseForFolderW)* browse = nullptr;
    decltype(SHGetPathFromIDListEx)* path_ex = nullptr; // newer systems only
    decltype(SHGetPathFromIDListW)* path = nullptr;
    decltype(CoTaskMemFree)* free = nullptr;
};

const ShellApi& Shell() {
    static const ShellApi api = [] {
        const HMODULE ole32 = LoadSystemLibrary(L"ole32.dll");
        const auto initialize = ProcedureOf<decltype(CoInitializeEx)>(ole32, "CoInitializeEx");
        if (!initialize) return ShellApi{};
        // The browser wants COM in a single-threaded apartment on this thread. Should
        // something have made it multi-threaded already (RPC_E_CHANGED_MODE), the
        // classic browser still works there.
        initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        const HMODULE shell32 = LoadSystemLibrary(L"shell32.dll");
        return ShellApi{
            ProcedureOf<decltype(SHBrowseForFolderW)>(shell32, "SHBrowseForFolderW"),
            ProcedureOf<decltype(SHGetPathFromIDListEx)>(shell32, "SHGetPathFromIDListEx"),
            ProcedureOf<decltype(SHGetPathFromIDListW)>(shell32, "SHGetPathFromIDListW"),
            ProcedureOf<decltype(CoTaskMemFree)>(ole32, "CoTaskMemFree")};
    }();
    return api;
}

} // namespace

std::string PickFolder(HWND owner) {
    const ShellApi& shell = Shell();
    if (!shell.browse || !shell.path || !shell.free) return {};
    const std::wstring title = Widen(kFolderChooserTitle);
    BROWSEINFOW request{};
    request.hwndOwner = owner;
    request.lpszTitle = title.c_str();
    request.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE item = shell.browse(&request);
    if (!item) return {};

    // Room for the longest path the file system allows, so that no folder is cut
    // short; MAX_PATH is only the fallback where the long form is missing.
    std::vector<wchar_t> path(32768, L'\0');
    BOOL ok = shell.path_ex &&
              shell.path_ex(item, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
    if (!ok) ok = shell.path(item, path.data());
    shell.free(item);
    return ok ? Narrow(path.data()) : std::string();
}

} // namespace tervan
