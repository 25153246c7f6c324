#include "tests/win32/test_support.hpp"

#include <aclapi.h>
#include <shellapi.h>

#include "platform/win32/administrator.hpp"
#include "platform/win32/program.hpp"
#include "platform/win32/text.hpp"

namespace tervan::testing {

namespace {

unsigned NextSerial() {
    static unsigned serial = 0;
    return ++serial;
}

HANDLE OpenNamedEvent(const std::wstring& name) {
    return OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
}

bool SetNamed(const std::wstring& name) {
    const HANDLE event = OpenNamedEvent(name);
    if (event == nullptr) return false;
    SetEvent(event);
    CloseHandle(event);
    return true;
}

void WaitNamed(const std::wstring& name) {
    const HANDLE event = OpenNamedEvent(name);
    if (event == nullptr) return;
    WaitForSingleObject(event, 60000);
    CloseHandle(event);
}

} // namespace

std::wstring Literal(const std::string& path) {
    return L"\\\\?\\" + Widen(path);
}

TempFolder::TempFolder() {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, base);
    std::string root = Narrow(std::wstring(base, length));
    if (!root.empty() && root.back() == '\\') root.pop_back();
    path_ = root + "\\tervan-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(NextSerial());
    MakeFolder(path_);
}

TempFolder::~TempFolder() {
    RemoveTree(path_);
}

bool MakeFolder(const std::string& path) {
    return CreateDirectoryW(Literal(path).c_str(), nullptr) ||
           GetLastError() == ERROR_ALREADY_EXISTS;
}

bool PutBytes(const std::string& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(Literal(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    CloseHandle(file);
    return ok;
}

std::optional<std::string> GetBytes(const std::string& path) {
    const HANDLE file = CreateFileW(Literal(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(Literal(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SetReadOnly(const std::string& path, bool read_only) {
    return SetFileAttributesW(Literal(path).c_str(),
                              read_only ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

void RemoveTree(const std::string& path) {
    const std::wstring literal = Literal(path);
    const DWORD attributes = GetFileAttributesW(literal.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(literal.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(literal.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((literal + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") RemoveTree(path + "\\" + Narrow(name));
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(literal.c_str());
}

std::string PatternBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 23);
    }
    return bytes;
}

std::string SelfPath() {
    return Narrow(OwnExePath());
}

namespace {

// The folder as the Unix side names it (Wine's own call); empty outside Wine.
std::string UnixName(const std::string& folder) {
    using UnixNameFn = char*(CDECL*)(LPCWSTR);
    const auto unix_name = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unix_name ? unix_name(Widen(folder).c_str()) : nullptr;
    if (name == nullptr) return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs `command` with the Unix shell and waits for its end: Wine starts Unix programs
// but gives no handle to wait on, so the shell leaves a mark when it is done.
bool RunUnixCommand(const std::string& command) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    const std::string done = Narrow(std::wstring(temp, length)) + "tervan-unix-" +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(NextSerial()) + ".done";
    const std::string script = command + "; touch '" + UnixName(done) + "'";
    std::wstring command_line = L"sh -c " + QuotedArgument(Widen(script));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(L"Z:\\bin\\sh", command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    for (int i = 0; i < 200 && !Exists(done); ++i)
        Sleep(50);
    return DeleteFileW(Literal(done).c_str()) != 0;
}

} // namespace

// Folder names here are the tests' own: no quote in them.
RefusingFolder::RefusingFolder(const std::string& folder) : folder_(folder) {
    if (deny_add_file() && refuses_now()) {
        refusing_ = true;
        return;
    }
    restore_acl();
    why_not_ = "this system does not enforce an ACE that denies adding files to a folder";
    const std::string unix_name = UnixName(folder);
    if (unix_name.empty()) return;
    why_not_ += " (Wine), and chattr +i failed: it needs root and a file system with that flag";
    immutable_ = RunUnixCommand("chattr +i '" + unix_name + "' 2>/dev/null");
    refusing_ = immutable_ && refuses_now();
}

RefusingFolder::~RefusingFolder() {
    restore_acl();
    const std::string unix_name = UnixName(folder_);
    if (immutable_) RunUnixCommand("chattr -i '" + unix_name + "' 2>/dev/null");
}

bool RefusingFolder::refuses_now() {
    const std::string probe = folder_ + "\\refusal-probe";
    if (PutBytes(probe, "")) {
        DeleteFileW(Literal(probe).c_str());
        return false;
    }
    return GetLastError() == ERROR_ACCESS_DENIED;
}

// The folder's own ACL is kept and given back as it was; the denying entry comes
// first, as Windows orders denials before grants.
bool RefusingFolder::deny_add_file() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    const bool known = GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    if (!known) return false;
    std::wstring name = Literal(folder_);
    if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &saved_acl_, nullptr, &saved_) != ERROR_SUCCESS)
        return false;
    EXPLICIT_ACCESSW deny{};
    deny.grfAccessPermissions = FILE_ADD_FILE;
    deny.grfAccessMode = DENY_ACCESS;
    deny.grfInheritance = NO_INHERITANCE;
    deny.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    deny.Trustee.TrusteeType = TRUSTEE_IS_USER;
    deny.Trustee.ptstrName =
        static_cast<LPWSTR>(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
    PACL denying = nullptr;
    if (SetEntriesInAclW(1, &deny, saved_acl_, &denying) != ERROR_SUCCESS) return false;
    const bool set = SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                           nullptr, nullptr, denying, nullptr) == ERROR_SUCCESS;
    LocalFree(denying);
    return set;
}

void RefusingFolder::restore_acl() {
    if (saved_ == nullptr) return;
    std::wstring name = Literal(folder_);
    SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          saved_acl_, nullptr);
    LocalFree(saved_);
    saved_ = nullptr;
}

NewRegistryKeys::NewRegistryKeys(HKEY root, const std::wstring& path) : root_(root) {
    for (std::size_t end = 0; end != std::wstring::npos;) {
        end = path.find(L'\\', end + 1);
        const std::wstring key = path.substr(0, end);
        HKEY opened = nullptr;
        if (!missing_.empty() ||
            RegOpenKeyExW(root_, key.c_str(), 0, KEY_READ, &opened) == ERROR_FILE_NOT_FOUND)
            missing_.push_back(key);
        if (opened != nullptr) RegCloseKey(opened);
    }
}

NewRegistryKeys::~NewRegistryKeys() {
    for (auto key = missing_.rbegin(); key != missing_.rend(); ++key) {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(root_, key->c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) continue;
        DWORD subkeys = 1, values = 1;
        RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(opened);
        if (subkeys != 0 || values != 0) return;
        RegDeleteKeyW(root_, key->c_str());
    }
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool Interactive() {
    wchar_t value[8];
    return GetEnvironmentVariableW(L"TERVAN_INTERACTIVE", value, 8) == 1 && value[0] == L'1';
}

void TellPerson(const std::string& utf8) {
    const HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) return;
    const std::wstring line = L"\r\n" + Widen(utf8) + L"\r\n";
    DWORD written = 0;
    WriteConsoleW(console, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(console);
}

Event::Event()
    : name_(L"Local\\TervanTest." + std::to_wstring(GetCurrentProcessId()) + L"." +
            std::to_wstring(NextSerial())),
      handle_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str())) {}

Event::~Event() {
    if (handle_ != nullptr) CloseHandle(handle_);
}

std::string Event::name() const {
    return Narrow(name_);
}

void Event::set() {
    SetEvent(handle_);
}

bool Event::wait(DWORD timeout_ms) {
    return WaitForSingleObject(handle_, timeout_ms) == WAIT_OBJECT_0;
}

Child::Child(const std::vector<std::string>& args, const std::string& exe) {
    std::wstring command_line = QuotedArgument(Widen(exe));
    for (const auto& arg : args)
        command_line += L" " + QuotedArgument(Widen(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(Widen(exe).c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info)) {
        start_error_ = GetLastError();
        return;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
}

Child::~Child() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
}

std::optional<DWORD> Child::wait(DWORD timeout_ms) {
    if (process_ == nullptr || WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

HeldFile::HeldFile(const std::string& path, DWORD share_mode)
    : child_({"--hold", path, std::to_string(share_mode), ready_.name(), release_.name()}) {
    holding_ = child_.started() && ready_.wait();
}

HeldFile::~HeldFile() {
    release_.set();
    child_.wait();
}

// Modes:
//   --hold PATH SHARE READY RELEASE   open PATH for reading with SHARE, set READY,
//                                     wait for RELEASE
//   --wait READY RELEASE              set READY, wait for RELEASE (a running exe)
//   --hold-mutex READY RELEASE        exit 1 if another copy runs, else mark this
//                                     one as running, set READY, wait for RELEASE
//   --check-mutex                     exit 1 if another copy runs, else 0
//   --own-folder OUT                  write OwnFolder() to OUT
std::vector<std::wstring> OwnArguments() {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) return {};
    std::vector<std::wstring> args(argv + 1, argv + count);
    LocalFree(argv);
    return args;
}

std::optional<int> RunChildMode() {
    const std::vector<std::wstring> args = OwnArguments();
    if (args.empty()) return std::nullopt;
    const std::wstring& mode = args[0];

    if (mode == L"--hold" && args.size() == 5) {
        const HANDLE file = CreateFileW(args[1].c_str(), GENERIC_READ, std::stoul(args[2]), nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 2;
        SetNamed(args[3]);
        WaitNamed(args[4]);
        CloseHandle(file);
        return 0;
    }
    if (mode == L"--wait" && args.size() == 3) {
        SetNamed(args[1]);
        WaitNamed(args[2]);
        return 0;
    }
    if (mode == L"--hold-mutex" && args.size() == 3) {
        if (AnotherCopyRunning()) return 1;
        SetNamed(args[1]);
        WaitNamed(args[2]);
        return 0;
    }
    if (mode == L"--check-mutex" && args.size() == 1) return AnotherCopyRunning() ? 1 : 0;
    if (mode == L"--own-folder" && args.size() == 2)
        return PutBytes(Narrow(args[1]), OwnFolder()) ? 0 : 2;
    return std::nullopt;
}

} // namespace tervan::testing
