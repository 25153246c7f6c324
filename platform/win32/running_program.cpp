#include "platform/win32/running_program.hpp"

#include <optional>
#include <vector>

#include <windows.h>

#include <restartmanager.h>
#include <tlhelp32.h>

#include "platform/win32/system_library.hpp"

namespace tervan {

namespace {

// A file as the file system knows it, whatever path names it (8.3 names, links,
// letter case).
struct FileIdentity {
    DWORD volume = 0, high = 0, low = 0;
    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityOf(const std::wstring& path) {
    // No access to the contents: a running image may be opened this way.
    const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!known) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// The exe a process was started from; nullopt when the process cannot be looked into
// (another user's, a protected one) or has ended.
std::optional<std::wstring> ImageOf(DWORD process_id) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (process == nullptr) return std::nullopt;
    std::wstring path(32768, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    const bool known = QueryFullProcessImageNameW(process, 0, path.data(), &size) != 0;
    CloseHandle(process);
    if (!known) return std::nullopt;
    path.resize(size);
    return path;
}

struct RestartManagerApi {
    decltype(RmStartSession)* start = nullptr;
    decltype(RmRegisterResources)* add = nullptr;
    decltype(RmGetList)* list = nullptr;
    decltype(RmEndSession)* end = nullptr;
};

// rstrtmgr is no KnownDLL: loaded from the system folder, only when asked.
const RestartManagerApi& RestartManager() {
    static const RestartManagerApi api = [] {
        const HMODULE module = LoadSystemLibrary(L"rstrtmgr.dll");
        return RestartManagerApi{
            ProcedureOf<decltype(RmStartSession)>(module, "RmStartSession"),
            ProcedureOf<decltype(RmRegisterResources)>(module, "RmRegisterResources"),
            ProcedureOf<decltype(RmGetList)>(module, "RmGetList"),
            ProcedureOf<decltype(RmEndSession)>(module, "RmEndSession")};
    }();
    return api;
}

// The processes that the Restart Manager lists as using the file; none where it
// cannot tell (Wine's reports none at all).
std::vector<RM_PROCESS_INFO> RestartManagerUsers(const std::wstring& file) {
    const RestartManagerApi& rm = RestartManager();
    std::vector<RM_PROCESS_INFO> users;
    if (!rm.start || !rm.add || !rm.list || !rm.end) return users;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (rm.start(&session, 0, key) != ERROR_SUCCESS) return users;
    const wchar_t* files[] = {file.c_str()};
    bool listed = false;
    if (rm.add(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        // The list may grow between the calls.
        for (int attempt = 0; attempt < 3 && !listed; ++attempt) {
            UINT needed = 0;
            UINT count = static_cast<UINT>(users.size());
            DWORD reasons = 0;
            const DWORD result = rm.list(session, &needed, &count, users.data(), &reasons);
            listed = result == ERROR_SUCCESS;
            if (listed)
                users.resize(count);
            else if (result == ERROR_MORE_DATA)
                users.resize(needed);
            else
                break;
        }
    }
    if (!listed) users.clear();
    rm.end(session);
    return users;
}

// A program with a window or a console of its own, not a service or a part of the
// system: what a scanner or the search indexer is not.
bool IsApplication(const RM_PROCESS_INFO& user) {
    return user.ApplicationType == RmMainWindow || user.ApplicationType == RmOtherWindow ||
           user.ApplicationType == RmConsole;
}

} // namespace

bool ProgramRunsFrom(const std::wstring& exe) {
    const auto identity = IdentityOf(exe);
    if (!identity) return false;
    const auto started_from_exe = [&](const std::wstring& image) {
        return IdentityOf(image) == identity;
    };

    for (const RM_PROCESS_INFO& user : RestartManagerUsers(exe)) {
        const auto image = ImageOf(user.Process.dwProcessId);
        if (image ? started_from_exe(*image) : IsApplication(user)) return true;
    }

    const auto slash = exe.find_last_of(L'\\');
    const std::wstring name = exe.substr(slash == std::wstring::npos ? 0 : slash + 1);
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    PROCESSENTRY32W process{};
    process.dwSize = sizeof process;
    for (BOOL more = Process32FirstW(snapshot, &process); more && !found;
         more = Process32NextW(snapshot, &process)) {
        if (CompareStringOrdinal(process.szExeFile, -1, name.c_str(), -1, TRUE) != CSTR_EQUAL)
            continue;
        const auto image = ImageOf(process.th32ProcessID);
        found = image && started_from_exe(*image);
    }
    CloseHandle(snapshot);
    return found;
}

} // namespace tervan
