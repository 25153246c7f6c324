#include "platform/win32/program.hpp"

#include <windows.h>

#include "platform/win32/text.hpp"
#include "platform/win32/version_info.hpp"

namespace tervan {

// The call truncates silently when the buffer is short, and systems with long paths
// enabled can run an exe from beyond MAX_PATH: grow until the answer fits.
std::wstring OwnExePath() {
    std::wstring buffer(128, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() > 65536) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string OwnFolder() {
    std::wstring path = OwnExePath();
    if (path.starts_with(L"\\\\?\\UNC\\"))
        path = L"\\\\" + path.substr(8);
    else if (path.starts_with(L"\\\\?\\"))
        path = path.substr(4);
    const auto slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return {};
    path.resize(slash);
    if (path.size() == 2 && path[1] == L':') path += L'\\';
    return Narrow(path);
}

// The version API on the exe file, as for any file, so that the program shows what Explorer
// shows; unlike a file from outside, its own resource needs no portable reader in front.
OwnVersion ReadOwnVersion() {
    const auto version = QueryFileVersion(OwnExePath());
    if (!version) return {};
    return {HIWORD(version->ms), LOWORD(version->ms), LOWORD(version->ls)};
}

bool AnotherCopyRunning() {
    static const bool running = [] {
        // Never closed: the open handle is what tells a later copy that this one runs.
        const HANDLE mutex = CreateMutexW(nullptr, FALSE, kRunningMutexName);
        const DWORD error = GetLastError();
        // Access denied: the mutex exists but was made with rights we lack.
        return mutex == nullptr ? error == ERROR_ACCESS_DENIED : error == ERROR_ALREADY_EXISTS;
    }();
    return running;
}

[[noreturn]] void EndProgram() {
    ExitProcess(0);
}

} // namespace tervan
