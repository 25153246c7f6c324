// Win32 side of scripts/bench.sh, run under Wine: times the portable version reader over
// Win32FileSystem next to GetFileVersionInfoW, ReplaceFileAllOrNothing over
// Win32FileSystem, and the start-up of the updater next to a minimal window program.
//
//   tervan58-bench-win32 version LABEL=FILE...
//   tervan58-bench-win32 version-once portable|api FILE
//   tervan58-bench-win32 version-parts FILE
//   tervan58-bench-win32 replace KEY SOURCE DESTINATION
//   tervan58-bench-win32 replace-signed KEY SOURCE DESTINATION
//   tervan58-bench-win32 sha256 KEY FILE
//   tervan58-bench-win32 startup ROUNDS UPDATER_EXE MINIMAL_EXE [MINIMAL_EXE_WITH_COMCTL32
//                                [EARLIER_UPDATER_EXE]]
#include <windows.h>

#include <psapi.h>
#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/file_version.hpp"
#include "engine/pe_reader.hpp"
#include "engine/replacement.hpp"
#include "engine/update_procedure.hpp"
#include "platform/win32/program.hpp"
#include "platform/win32/text.hpp"
#include "platform/win32/version_info.hpp"
#include "platform/win32/win32_file_system.hpp"
#include "tools/bench/bench_support.hpp"
#include "ui/forms/access_screen.hpp"

namespace tervan::bench {
namespace {

int Fail(const std::string& what) {
    std::fprintf(stderr, "tervan58-bench-win32: %s\n", what.c_str());
    return 1;
}

std::string PortableVersion(Win32FileSystem& fs, const std::string& path) {
    const auto file = fs.open_read(path);
    return file ? FileVersionText(*file) : std::string();
}

std::string ApiVersion(const std::string& path) {
    const auto version = QueryFileVersion(Win32Path(path));
    return version ? VersionText(*version) : std::string();
}

int Version(const std::vector<std::string>& arguments) {
    Win32FileSystem fs;
    for (const std::string& argument : arguments) {
        const auto [label, path] = SplitLabel(argument);
        auto opened = fs.open_read(path);
        if (!opened) return Fail("cannot open " + path);
        CountingFile counted(std::move(opened));
        const std::string version = FileVersionText(counted);
        const std::string api_version = ApiVersion(path);
        if (version.empty() || version != api_version)
            return Fail("versions differ in " + path + ": " + version + " / " + api_version);
        const std::string portable = "ver_wine_portable_" + label;
        Put(portable + "_version", version);
        Put(portable + "_bytes", counted.bytes());
        Put(portable + "_reads", counted.reads());

        std::string text;
        Put(portable + "_us",
            MicrosecondsPerCall([&] { text = PortableVersion(fs, path); }, 7, 0.15));
        Put("ver_wine_api_" + label + "_us",
            MicrosecondsPerCall([&] { text = ApiVersion(path); }, 7, 0.15));
        // What the program calls: the portable reader first, then the API.
        Put("ver_wine_program_" + label + "_us",
            MicrosecondsPerCall([&] { text = fs.file_version_text(path); }, 7, 0.15));
        if (text != version) return Fail("unstable version in " + path);
    }
    return 0;
}

int VersionOnce(const std::string& how, const std::string& path) {
    Win32FileSystem fs;
    const std::string text = how == "api" ? ApiVersion(path) : PortableVersion(fs, path);
    return text.empty() ? Fail("no version in " + path) : 0;
}

// Where the portable reader's time goes under Wine: opening and closing the file, one
// small read, the reader on a file already open, and the file information call that
// opening makes (next to a cheaper one that answers the same question).
int VersionParts(const std::string& path) {
    Win32FileSystem fs;
    Put("ver_wine_part_open_close_us",
        MicrosecondsPerCall([&] { const auto file = fs.open_read(path); }, 7, 0.1));
    const auto file = fs.open_read(path);
    if (!file) return Fail("cannot open " + path);
    unsigned char bytes[64];
    Put("ver_wine_part_read_at_us",
        MicrosecondsPerCall([&] { file->read_at(0, bytes, sizeof bytes); }, 7, 0.1));
    Put("ver_wine_part_reader_us",
        MicrosecondsPerCall([&] { ReadFixedFileVersion(*file); }, 7, 0.1));

    const HANDLE handle = CreateFileW(Win32Path(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Fail("cannot open " + path);
    const auto file_information = [&] {
        BY_HANDLE_FILE_INFORMATION info;
        GetFileInformationByHandle(handle, &info);
    };
    const auto standard_info = [&] {
        FILE_STANDARD_INFO info;
        GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof info);
    };
    const auto plain_read = [&] {
        LARGE_INTEGER at{};
        DWORD got = 0;
        SetFilePointerEx(handle, at, nullptr, FILE_BEGIN);
        ReadFile(handle, bytes, sizeof bytes, &got, nullptr);
    };
    Put("ver_wine_part_file_information_us", MicrosecondsPerCall(file_information, 7, 0.1));
    Put("ver_wine_part_standard_info_us", MicrosecondsPerCall(standard_info, 7, 0.1));
    Put("ver_wine_part_plain_read_us", MicrosecondsPerCall(plain_read, 7, 0.1));
    CloseHandle(handle);
    return 0;
}

// `signed_install`: the publisher check that a signed install makes first is timed
// with the replacement, and on its own as KEY_check.
int Replace(const std::string& key, const std::string& source, const std::string& destination,
            bool signed_install = false) {
    Win32FileSystem fs;
    const auto start = std::chrono::steady_clock::now();
    if (signed_install && fs.publisher_check(destination, source) != PublisherCheck::Passed)
        return Fail("the signed download was refused");
    const double checked = SecondsSince(start);
    const bool replaced = ReplaceFileAllOrNothing(fs, source, destination) == Replacement::Replaced;
    const double seconds = SecondsSince(start);
    if (!replaced) return Fail("ReplaceFileAllOrNothing failed");
    Put(key, seconds);
    if (signed_install) Put(key + "_check", checked);
    return 0;
}

// One SHA-256 pass over the file with the system's own crypto, reading it in 1 MiB
// parts: what hashing the download costs here, next to the publisher check, which
// hashes it once (under Wine with Wine's SHA-256).
int Sha256(const std::string& key, const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    const HANDLE file = CreateFileW(Win32Path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok =
        file != INVALID_HANDLE_VALUE &&
        CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
        CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash);
    std::vector<BYTE> buffer(1 << 20);
    DWORD got = 0;
    while (ok && ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
           got > 0)
        ok = CryptHashData(hash, buffer.data(), got, 0);
    BYTE digest[32];
    DWORD size = sizeof digest;
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0);
    if (hash) CryptDestroyHash(hash);
    if (provider) CryptReleaseContext(provider, 0);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!ok) return Fail("cannot hash " + path);
    Put(key, SecondsSince(start));
    return 0;
}

// ---- start-up ----

constexpr int kEntryId = 301;
constexpr DWORD kGiveUpMs = 20000;
// After the screen is ready, so that its first painting counts in the peak working set.
constexpr DWORD kSettleMs = 150;

struct Target {
    std::string key;
    std::wstring exe;
    const wchar_t* window_class;
    std::wstring title_prefix;
};

// Ready means what a user needs to type the code: the program's window is visible, its
// entry is there and has the keyboard focus, and the window's thread answers messages.
bool Ready(DWORD pid, const Target& target) {
    for (HWND window = nullptr;
         (window = FindWindowExW(nullptr, window, target.window_class, nullptr)) != nullptr;) {
        DWORD owner = 0;
        const DWORD thread = GetWindowThreadProcessId(window, &owner);
        if (owner != pid || !IsWindowVisible(window)) continue;
        wchar_t title[256] = {};
        GetWindowTextW(window, title, 256);
        if (std::wstring(title).rfind(target.title_prefix, 0) != 0) continue;
        const HWND entry = GetDlgItem(window, kEntryId);
        if (!entry || !IsWindowVisible(entry)) continue;
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        if (!GetGUIThreadInfo(thread, &gui) || gui.hwndFocus != entry) continue;
        wchar_t text[32];
        DWORD_PTR copied = 0;
        if (SendMessageTimeoutW(entry, WM_GETTEXT, 32, reinterpret_cast<LPARAM>(text),
                                SMTO_ABORTIFHUNG, 2000, &copied))
            return true;
    }
    return false;
}

struct StartResult {
    double ms = 0;
    double peak_kib = 0;
};

bool StartOnce(const Target& target, StartResult& result) {
    const std::wstring folder = target.exe.substr(0, target.exe.find_last_of(L'\\'));
    std::wstring command = L"\"" + target.exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const auto start = std::chrono::steady_clock::now();
    if (!CreateProcessW(target.exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
        std::fprintf(stderr, "cannot start %s: error %lu\n", target.key.c_str(), GetLastError());
        return false;
    }
    bool ready = false;
    while (SecondsSince(start) * 1000 < kGiveUpMs) {
        if (Ready(process.dwProcessId, target)) {
            ready = true;
            break;
        }
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break; // ended early
        Sleep(1);
    }
    result.ms = SecondsSince(start) * 1000;
    if (ready) {
        Sleep(kSettleMs);
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory))
            result.peak_kib = static_cast<double>(memory.PeakWorkingSetSize) / 1024;
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // The next copy of the updater only opens its screen once this one's mark is gone.
    for (int i = 0; i < 5000; ++i) {
        const HANDLE mark = OpenMutexW(SYNCHRONIZE, FALSE, kRunningMutexName);
        if (!mark) break;
        CloseHandle(mark);
        Sleep(1);
    }
    if (!ready) std::fprintf(stderr, "%s: the screen did not become ready\n", target.key.c_str());
    return ready;
}

std::string Samples(const std::vector<double>& values) {
    std::string text;
    char one[32];
    for (const double value : values) {
        std::snprintf(one, sizeof one, "%s%.1f", text.empty() ? "" : ",", value);
        text += one;
    }
    return text;
}

int Startup(int rounds, const std::vector<std::wstring>& exes) {
    std::vector<Target> targets = {
        {"updater", exes[0], L"Tervan58UpdaterForm", Widen(AccessScreenTitle())},
        {"minimal", exes[1], L"Tervan58BenchMinimal", L""},
    };
    if (exes.size() > 2) targets.push_back({"minimal_cc", exes[2], L"Tervan58BenchMinimal", L""});
    // Another build of the updater, to compare a change in the same session.
    if (exes.size() > 3)
        targets.push_back(
            {"updater_before", exes[3], targets[0].window_class, targets[0].title_prefix});
    std::vector<std::vector<double>> ms(targets.size()), peak(targets.size());
    // One start of each first, not counted: the first start after a build reads the exe
    // and its DLLs from the disk.
    for (int round = -1; round < rounds; ++round) {
        for (std::size_t k = 0; k < targets.size(); ++k) {
            // Each round begins with the next program, so none always follows another.
            const std::size_t which = (k + static_cast<std::size_t>(round + 1)) % targets.size();
            StartResult result;
            if (!StartOnce(targets[which], result)) return 1;
            if (round < 0) continue;
            ms[which].push_back(result.ms);
            peak[which].push_back(result.peak_kib);
        }
    }
    for (std::size_t k = 0; k < targets.size(); ++k) {
        Put("start_" + targets[k].key + "_ms", Median(ms[k]));
        // The fastest run: on a machine shared with other work, the least disturbed one.
        Put("start_" + targets[k].key + "_ms_min", *std::min_element(ms[k].begin(), ms[k].end()));
        Put("start_" + targets[k].key + "_ms_samples", Samples(ms[k]));
        Put("start_" + targets[k].key + "_peak_kib", Median(peak[k]));
    }
    return 0;
}

} // namespace
} // namespace tervan::bench

int wmain(int argc, wchar_t** argv) {
    using namespace tervan;
    using namespace tervan::bench;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(Narrow(argv[i]));
    const std::string command = args.empty() ? "" : args[0];
    if (command == "version" && args.size() > 1)
        return Version(std::vector<std::string>(args.begin() + 1, args.end()));
    if (command == "version-once" && args.size() == 3) return VersionOnce(args[1], args[2]);
    if (command == "version-parts" && args.size() == 2) return VersionParts(args[1]);
    if (command == "replace" && args.size() == 4) return Replace(args[1], args[2], args[3]);
    if (command == "replace-signed" && args.size() == 4)
        return Replace(args[1], args[2], args[3], true);
    if (command == "sha256" && args.size() == 3) return Sha256(args[1], args[2]);
    if (command == "startup" && args.size() >= 4 && args.size() <= 6)
        return Startup(std::stoi(args[1]), std::vector<std::wstring>(argv + 3, argv + argc));
    std::fprintf(stderr, "usage: see the comment at the top of tools/bench/win32_bench.cpp\n");
    return 2;
}
