#include "platform/win32/message_box.hpp"

#include "platform/win32/text.hpp"

namespace tervan {

void ShowMessage(HWND owner, const std::string& prompt, const std::string& title) {
    MessageBoxW(owner, Widen(prompt).c_str(), Widen(title).c_str(), MB_OK);
}

} // namespace tervan
