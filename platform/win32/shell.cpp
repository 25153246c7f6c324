#include "platform/win32/shell.hpp"

#include "platform/win32/system_library.hpp"

namespace tervan {

const ShellApi& Shell() {
    static const ShellApi api = [] {
        const HMODULE ole32 = LoadSystemLibrary(L"ole32.dll");
        const auto initialize = ProcedureOf<decltype(CoInitializeEx)>(ole32, "CoInitializeEx");
        if (!initialize) return ShellApi{};
        // The folder browser wants COM in a single-threaded apartment on this thread,
        // and ShellExecuteExW may hand its work to COM objects. Should something have
        // made it multi-threaded already (RPC_E_CHANGED_MODE), both still work there.
        initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        const HMODULE shell32 = LoadSystemLibrary(L"shell32.dll");
        return ShellApi{
            ProcedureOf<decltype(SHBrowseForFolderW)>(shell32, "SHBrowseForFolderW"),
            ProcedureOf<decltype(SHGetPathFromIDListEx)>(shell32, "SHGetPathFromIDListEx"),
            ProcedureOf<decltype(SHGetPathFromIDListW)>(shell32, "SHGetPathFromIDListW"),
            ProcedureOf<decltype(CoTaskMemFree)>(ole32, "CoTaskMemFree"),
            ProcedureOf<decltype(ShellExecuteExW)>(shell32, "ShellExecuteExW")};
    }();
    return api;
}

} // namespace tervan
