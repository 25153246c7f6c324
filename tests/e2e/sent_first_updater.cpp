// A test copy of the updater, never shipped. Windows may keep answering messages sent
// from other threads while a posted message waits, for as long as such messages keep
// coming; Wine hardly ever does. This copy always does: it holds each message it took
// until no message was sent to it for a few milliseconds, so that a test which reads a
// window's state through sent messages before its own posted click was handled fails
// here nearly every time instead of once in a hundred runs (scripts/test-sent-first.sh).
#include <windows.h>

#include "app/updater.hpp"
#include "platform/win32/system_library.hpp"
#include "platform/win32/win32_file_system.hpp"

namespace {

void AnswerSentMessagesFirst() {
    constexpr DWORD kQuietMs = 15;
    // A test that polls without pause must not keep the message back for good.
    constexpr ULONGLONG kMostMs = 200;
    const ULONGLONG until = GetTickCount64() + kMostMs;
    while (GetTickCount64() < until &&
           MsgWaitForMultipleObjectsEx(0, nullptr, kQuietMs, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE) ==
               WAIT_OBJECT_0) {
        // Answers what was sent and leaves posted messages queued.
        MSG ignored;
        PeekMessageW(&ignored, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const bool narrowed = tervan::LimitDllSearchToSystemFolder();
    if (tervan::StartedAsReplaceStep()) return tervan::RunReplaceStep(narrowed);
    tervan::Win32FileSystem files;
    return tervan::RunWindows(files, false, AnswerSentMessagesFirst);
}
