// The source folder chooser: the shell's folder browser, file-system folders only.
#pragma once

#include <string>

#include <windows.h>

namespace tervan {

inline constexpr const char* kFolderChooserTitle = "「TERVAN58」ｱｯﾌﾟﾃﾞｰﾄﾌｫﾙﾀﾞ ";

// The chosen folder's path, or empty text when the user cancels. The browser is
// modal to `owner`. COM must be initialised on this thread.
std::string PickFolder(HWND owner);

} // namespace tervan
