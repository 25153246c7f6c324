// Program start: the access screen first, then the message loop until the program
// ends. Ending the program is always EndProgram, which does not return here.
#include <windows.h>

#include <commctrl.h>

#include "platform/win32/system_library.hpp"
#include "ui/win32/form_window.hpp"
#include "ui/win32/windows.hpp"
#ifdef TERVAN_SENT_FIRST
#include "app/sent_first.hpp"
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // First: every DLL loaded from here on, also by system DLLs, comes from the system
    // folder and not from the download folder the program runs from.
    tervan::LimitDllSearchToSystemFolder();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    if (!tervan::OpenAccessScreen()) return 1;

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
#ifdef TERVAN_SENT_FIRST
        AnswerSentMessagesFirst();
#endif
        // Tab, Enter and the Alt mnemonics work as in a dialog.
        const HWND top = GetAncestor(msg.hwnd, GA_ROOT);
        if (top && IsDialogMessageW(top, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    tervan::EndProgram();
}
