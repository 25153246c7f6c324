#include "ui/win32/folder_chooser.hpp"

#include <vector>

#include "platform/win32/shell.hpp"
#include "platform/win32/text.hpp"

namespace tervan {

std::string PickFolder(HWND owner, const std::string& title) {
    const ShellApi& shell = Shell();
    if (!shell.browse || !shell.path || !shell.free) return {};
    const std::wstring prompt = Widen(title);
    BROWSEINFOW request{};
    request.hwndOwner = owner;
    request.lpszTitle = prompt.c_str();
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
