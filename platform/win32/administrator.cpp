#include "platform/win32/administrator.hpp"

#include "platform/win32/program.hpp"
#include "platform/win32/shell.hpp"
#include "platform/win32/text.hpp"

namespace tervan {

bool RunsElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    // TokenElevation rather than the elevation type alone: the built-in Administrator
    // has a full token of the "default" type, and asking would only start a copy with
    // the same rights. A standard user's token is not elevated: the prompt then asks
    // for an administrator's password.
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool elevated =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
        elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

std::wstring QuotedArgument(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

namespace {

// Waits for `process` to end, dispatching this thread's messages meanwhile.
bool WaitWithMessagesFlowing(HANDLE process) {
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) return true;
        if (woke != WAIT_OBJECT_0 + 1) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

} // namespace

ElevatedStep RunElevatedReplace(HWND owner, const std::string& source_folder,
                                const std::string& destination_folder) {
    const ShellApi& shell = Shell();
    const std::wstring exe = OwnExePath();
    if (!shell.execute || exe.empty()) return ElevatedStep::NotRun;
    const std::wstring parameters = L"--replace " + QuotedArgument(Widen(source_folder)) + L" " +
                                    QuotedArgument(Widen(destination_folder));
    SHELLEXECUTEINFOW request{};
    request.cbSize = sizeof request;
    // NOASYNC: the prompt is answered before the call returns. FLAG_NO_UI: should the
    // start fail, the program's own copy-failure message is the only one shown.
    // NOZONECHECKS: the user started this very file already; a zip's "downloaded from
    // the Internet" mark must not bring a security warning before the prompt.
    request.fMask =
        SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
    request.hwnd = owner; // the prompt belongs to this window, not behind it
    request.lpVerb = L"runas";
    request.lpFile = exe.c_str();
    request.lpParameters = parameters.c_str();
    request.nShow = SW_HIDE;

    const HWND focus = GetFocus();
    EnableWindow(owner, FALSE);
    ElevatedStep result = ElevatedStep::NotRun; // declined (ERROR_CANCELLED), or no start
    if (shell.execute(&request) && request.hProcess != nullptr) {
        DWORD code = 1;
        const bool ended = WaitWithMessagesFlowing(request.hProcess) &&
                           GetExitCodeProcess(request.hProcess, &code);
        result = ended && code == static_cast<DWORD>(StepResult::Replaced) ? ElevatedStep::Replaced
                                                                           : ElevatedStep::Failed;
        CloseHandle(request.hProcess);
    }
    EnableWindow(owner, TRUE);
    // The prompt and the step had the foreground; the message that follows belongs
    // in front (the step allowed it, see RunReplaceStep).
    SetForegroundWindow(owner);
    if (focus != nullptr) SetFocus(focus);
    return result;
}

} // namespace tervan
