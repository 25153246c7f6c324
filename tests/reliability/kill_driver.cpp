// The replacement killed at random moments. Each round puts the old tervan58.exe
// in place, starts reliability_replace_child to replace it by the download (a file
// of the same size class, every byte different), waits a random part of the time
// one whole replacement took, and ends the child with TerminateProcess. The
// installed file must then be byte for byte the old file or the new one, never
// anything else; and a following replacement must clear any leftover
// tervan58.exe.updating and succeed.
//
//   reliability_kill [--kills N] [--mib M] [--seed S]
//
// The delays come from a Mersenne Twister seeded with S (printed), as fractions of
// the measured duration; the same seed gives the same fractions. Exit code 0 when
// every round kept the installed file whole, 1 otherwise, 2 for a wrong call or a
// setup that failed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <windows.h>

#include "platform/win32/program.hpp"
#include "platform/win32/text.hpp"
#include "tests/reliability/big_file.hpp"

namespace tervan::reliability {
namespace {

// Only against a hanging child; nothing is judged by time.
constexpr DWORD kGuardMs = 600000;
constexpr DWORD kKilledCode = 0xDEAD;

struct Options {
    int kills = 10;
    std::uint64_t mib = 64;
    std::uint64_t seed = 5816;
};

std::optional<Options> ParseOptions(int argc, wchar_t** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring name = argv[i];
        const unsigned long long value = std::wcstoull(argv[i + 1], nullptr, 10);
        if (name == L"--kills" && value > 0)
            options.kills = static_cast<int>(value);
        else if (name == L"--mib" && value > 0)
            options.mib = value;
        else if (name == L"--seed")
            options.seed = value;
        else
            return std::nullopt;
    }
    if (argc % 2 == 0) return std::nullopt;
    return options;
}

std::wstring NewWorkFolder() {
    wchar_t base[MAX_PATH + 1];
    std::wstring root(base, GetTempPathW(MAX_PATH + 1, base));
    if (!root.empty() && root.back() == L'\\') root.pop_back();
    const std::wstring folder = root + L"\\tervan-kill-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* sub : {L"\\store", L"\\download", L"\\TERVAN58"})
        CreateDirectoryW((folder + sub).c_str(), nullptr);
    return folder;
}

void RemoveFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolder(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

std::optional<std::uint64_t> SizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// One run of the child; `kill_after_ms` ends it that long after it started replacing.
struct Run {
    bool started = false;
    bool killed = false; // by us, before it ended by itself
    DWORD exit_code = 0;
    double replacing_ms = 0; // from the start of the replacement to the exit
};

Run RunChild(const std::wstring& child, const std::wstring& source, const std::wstring& destination,
             std::optional<DWORD> kill_after_ms) {
    Run run;
    static unsigned serial = 0;
    const std::wstring event_name = L"Local\\TervanKill." + std::to_wstring(GetCurrentProcessId()) +
                                    L"." + std::to_wstring(++serial);
    const HANDLE started = CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
    std::wstring command_line =
        L"\"" + child + L"\" \"" + source + L"\" \"" + destination + L"\" \"" + event_name + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(child.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        CloseHandle(started);
        return run;
    }
    CloseHandle(info.hThread);
    const HANDLE either[] = {started, info.hProcess};
    run.started = WaitForMultipleObjects(2, either, FALSE, kGuardMs) == WAIT_OBJECT_0;
    LARGE_INTEGER begin, end;
    QueryPerformanceCounter(&begin);
    if (run.started && kill_after_ms) {
        Sleep(*kill_after_ms);
        // Fails when the child has ended already: then it finished before the kill.
        run.killed = TerminateProcess(info.hProcess, kKilledCode) != 0;
    }
    if (WaitForSingleObject(info.hProcess, kGuardMs) != WAIT_OBJECT_0) {
        TerminateProcess(info.hProcess, kKilledCode);
        WaitForSingleObject(info.hProcess, kGuardMs);
        run.started = false;
    }
    QueryPerformanceCounter(&end);
    run.replacing_ms = Milliseconds(begin, end);
    GetExitCodeProcess(info.hProcess, &run.exit_code);
    // A kill that raced with the child's own end: its exit code tells.
    if (run.killed && run.exit_code != kKilledCode) run.killed = false;
    CloseHandle(info.hProcess);
    CloseHandle(started);
    return run;
}

const char* Name(Holds holds) {
    switch (holds) {
    case Holds::First:
        return "old";
    case Holds::Second:
        return "new";
    case Holds::Neither:
        return "CORRUPT";
    case Holds::Nothing:
        return "MISSING";
    }
    return "?";
}

int Main(const Options& options) {
    const std::uint64_t mib = 1 << 20;
    // The same size class, different sizes: a cut-off copy of one cannot pass for the other.
    const PatternFile old_file{options.seed * 2 + 1, options.mib * mib - 12345};
    const PatternFile new_file{options.seed * 2 + 2, options.mib * mib};
    const std::wstring child =
        tervan::Widen(tervan::OwnFolder()) + L"\\reliability_replace_child.exe";
    const std::wstring folder = NewWorkFolder();
    const std::wstring pristine = folder + L"\\store\\old.bin";
    const std::wstring source = folder + L"\\download\\tervan58.exe";
    const std::wstring installed = folder + L"\\TERVAN58\\tervan58.exe";
    const std::wstring temp = installed + L".updating";
    std::printf("kill check: %d kills, old file %llu bytes, new file %llu bytes, seed %llu\n"
                "  (replay: reliability_kill --kills %d --mib %llu --seed %llu)\n",
                options.kills, static_cast<unsigned long long>(old_file.size),
                static_cast<unsigned long long>(new_file.size),
                static_cast<unsigned long long>(options.seed), options.kills,
                static_cast<unsigned long long>(options.mib),
                static_cast<unsigned long long>(options.seed));

    if (!WritePattern(pristine, old_file) || !WritePattern(source, new_file) ||
        !CopyFileW(pristine.c_str(), installed.c_str(), FALSE)) {
        std::printf("setup failed: cannot write the files in %ls\n", folder.c_str());
        RemoveFolder(folder);
        return 2;
    }

    // How long one whole replacement takes: the median of three, after one that warms
    // the caches, each from the old file in place.
    std::vector<double> durations;
    for (int run = 0; run < 4; ++run) {
        const Run measured = RunChild(child, source, installed, std::nullopt);
        const Comparison after = Compare(installed, old_file, new_file);
        if (!measured.started || measured.exit_code != 0 || after.holds != Holds::Second ||
            !CopyFileW(pristine.c_str(), installed.c_str(), FALSE)) {
            std::printf("setup failed: an uninterrupted replacement ended with %lu, installed %s\n",
                        measured.exit_code, Name(after.holds));
            RemoveFolder(folder);
            return 2;
        }
        if (run > 0) durations.push_back(measured.replacing_ms);
    }
    std::sort(durations.begin(), durations.end());
    const double window_ms = durations[1];
    std::printf("one replacement took %.0f ms (median of %.0f, %.0f, %.0f); kills fall uniformly "
                "within that time\n",
                window_ms, durations[0], durations[1], durations[2]);

    std::mt19937_64 random(options.seed);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    int outcome_old = 0, outcome_new = 0, outcome_bad = 0, killed = 0, finished = 0;
    int leftovers = 0, retry_failures = 0;
    for (int round = 1; round <= options.kills; ++round) {
        if (!CopyFileW(pristine.c_str(), installed.c_str(), FALSE)) {
            std::printf("round %d: cannot put the old file back\n", round);
            RemoveFolder(folder);
            return 2;
        }
        const double at = fraction(random);
        const auto delay = static_cast<DWORD>(at * window_ms);
        const Run run = RunChild(child, source, installed, delay);
        const Comparison found = Compare(installed, old_file, new_file);
        const auto leftover = SizeOf(temp);
        (run.killed ? killed : finished)++;
        if (leftover) ++leftovers;
        switch (found.holds) {
        case Holds::First:
            ++outcome_old;
            break;
        case Holds::Second:
            ++outcome_new;
            break;
        default:
            ++outcome_bad;
        }

        // The next run clears the leftover and does the update.
        const Run retry = RunChild(child, source, installed, std::nullopt);
        const Comparison after_retry = Compare(installed, old_file, new_file);
        const bool retry_ok = retry.started && retry.exit_code == 0 &&
                              after_retry.holds == Holds::Second && !SizeOf(temp);
        if (!retry_ok) ++retry_failures;

        std::printf("round %2d: %s at %5.0f ms (%.3f of the run), installed %s (%llu bytes), "
                    "leftover %s, next run %s\n",
                    round, run.killed ? "killed" : "finished before the kill", at * window_ms, at,
                    Name(found.holds), static_cast<unsigned long long>(found.size),
                    leftover ? (std::to_string(*leftover) + " bytes").c_str() : "none",
                    retry_ok ? "replaced it and left nothing" : "FAILED");
        std::fflush(stdout);
    }

    const bool download_intact = Compare(source, old_file, new_file).holds == Holds::Second;
    std::printf("summary: %d rounds, %d killed before the child ended, %d finished before the "
                "kill; installed afterwards: %d old, %d new, %d neither; %d leftover temporary "
                "files, %d not cleared by the next run; download %s\n",
                options.kills, killed, finished, outcome_old, outcome_new, outcome_bad, leftovers,
                retry_failures, download_intact ? "intact" : "CHANGED");
    RemoveFolder(folder);
    return outcome_bad == 0 && retry_failures == 0 && download_intact ? 0 : 1;
}

} // namespace
} // namespace tervan::reliability

int wmain(int argc, wchar_t** argv) {
    const auto options = tervan::reliability::ParseOptions(argc, argv);
    if (!options) {
        std::printf("usage: reliability_kill [--kills N] [--mib M] [--seed S]\n");
        return 2;
    }
    return tervan::reliability::Main(*options);
}
