// The replacement of the installed tervan58.exe under faults, with the real Win32
// code: every file call it makes failing in turn, the installed file held open,
// read-only or without its folder, a leftover that cannot be removed, another
// process going for the download during the copy, and a volume that is too small.
// After every case the installed file is whole (the old or the new one, never
// anything else), the download is untouched, no temporary file is left, and the
// program said what happened: success only when the new file is in place.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "engine/messages.hpp"
#include "engine/replacement.hpp"
#include "engine/update_procedure.hpp"
#include "platform/win32/text.hpp"
#include "platform/win32/win32_file_system.hpp"
#include "tests/e2e/scenario.hpp"
#include "tests/reliability/kernel_faults.hpp"
#include "tests/reliability/reliability_support.hpp"
#include "tests/win32/test_support.hpp"

namespace tervan::reliability {
namespace {

using testing::Exists;
using testing::PutBytes;

enum class Outcome { Success, CopyFailed, NotNewer, NoSourceFile, Other };

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Success:
        return "success";
    case Outcome::CopyFailed:
        return "copy failure";
    case Outcome::NotNewer:
        return "not newer";
    case Outcome::NoSourceFile:
        return "no download";
    case Outcome::Other:
        break;
    }
    return "something else";
}

// What one click of the start button ended in, told by the messages alone.
Outcome OutcomeOf(const RecordingView& view) {
    if (view.messages.size() != 1 || view.messages[0].second != text::kUpdateTitle)
        return Outcome::Other;
    const std::string& prompt = view.messages[0].first;
    const bool chose = view.source_choices == 1, ended = view.exits == 1;
    if (prompt == text::kSuccess && ended && view.source_choices == 0) return Outcome::Success;
    if (view.exits != 0) return Outcome::Other;
    if (prompt == text::kCopyFailed && !chose) return Outcome::CopyFailed;
    if (prompt == text::kNotNewer && !chose) return Outcome::NotNewer;
    if (prompt == text::kNoSourceFile && chose) return Outcome::NoSourceFile;
    return Outcome::Other;
}

// An install folder with tervan58.exe 1.0.0.1 and a download folder with 1.0.0.2,
// of several MiB, so that the copy works in parts.
class ReplacementTest : public ::testing::Test {
protected:
    testing::TempFolder folder;
    Win32FileSystem fs;
    std::string install = folder / "TERVAN58";
    std::string download = folder / "download";
    std::string destination = install + "\\tervan58.exe";
    std::string source = download + "\\tervan58.exe";
    std::string temp = ReplacementTempPath(destination);
    std::string old_bytes = e2e::Tervan58Bytes({1, 0, 0, 1}, 1, 400000);
    // Three copy chunks of 1 MiB (the last one short): a fault in the first, a
    // middle and the last read of each pass.
    std::string new_bytes = e2e::Tervan58Bytes({1, 0, 0, 2}, 2, (2 << 20) + 123);
    Digest old_digest = DigestOf(old_bytes);
    Digest new_digest = DigestOf(new_bytes);
    // Only an install folder that refuses the temporary file outright (access denied,
    // nothing of that name in the way) is worth administrator rights.
    bool may_ask_for_administrator = false;

    void SetUp() override {
        ASSERT_TRUE(testing::MakeFolder(install));
        ASSERT_TRUE(testing::MakeFolder(download));
        ASSERT_TRUE(PutBytes(source, new_bytes));
        ASSERT_TRUE(PutBytes(destination, old_bytes));
    }

    // Puts the old file back and clears whatever a case left.
    void Restore() {
        testing::RemoveTree(temp);
        testing::SetReadOnly(destination, false);
        ASSERT_TRUE(PutBytes(destination, old_bytes));
    }

    RecordingView Click(FileSystem& files) {
        RecordingView view(install, download);
        UpdateProcedure(view, files);
        return view;
    }
    RecordingView Click() { return Click(fs); }

    std::string Holding(const std::string& path) const {
        const auto digest = DigestOfFile(path);
        if (!digest) return "nothing readable";
        if (*digest == old_digest) return "the old file";
        if (*digest == new_digest) return "the new file";
        return std::to_string(digest->size) + " bytes of neither file";
    }

    // The disk agrees with what the program said. `leftover_allowed`: the fault hit
    // the removal of the temporary file itself; `new_on_failure`: the fault was a
    // rename that happened although it reported failure.
    ::testing::AssertionResult Consistent(const RecordingView& view, bool leftover_allowed = false,
                                          bool new_on_failure = false) const {
        const Outcome outcome = OutcomeOf(view);
        const std::string installed = Holding(destination);
        auto fail = [&] {
            return ::testing::AssertionFailure()
                   << view.transcript() << " with the installed file holding " << installed;
        };
        if (installed != "the old file" && installed != "the new file") return fail();
        if (Holding(source) != "the new file") return fail() << "; the download was changed";
        if (view.administrator_steps > (may_ask_for_administrator ? 1 : 0))
            return fail() << "; administrator rights were asked for";
        if (Exists(temp) && !(leftover_allowed && outcome != Outcome::Success))
            return fail() << "; " << temp << " was left";
        switch (outcome) {
        case Outcome::Success:
            if (installed == "the new file") return ::testing::AssertionSuccess();
            break;
        case Outcome::CopyFailed:
            if (installed == "the old file" || new_on_failure) return ::testing::AssertionSuccess();
            break;
        case Outcome::NotNewer:
        case Outcome::NoSourceFile:
            if (installed == "the old file") return ::testing::AssertionSuccess();
            break;
        case Outcome::Other:
            break;
        }
        return fail();
    }

    // The user tries again with the old file in place (after a success too, as after
    // a restore) and whatever the case left beside it: that attempt succeeds and
    // leaves nothing behind.
    ::testing::AssertionResult RecoversOnRetry() {
        if (Holding(destination) == "the new file" && !PutBytes(destination, old_bytes))
            return ::testing::AssertionFailure() << "cannot put the old file back";
        RecordingView retry = Click();
        if (OutcomeOf(retry) != Outcome::Success || Holding(destination) != "the new file" ||
            Exists(temp))
            return ::testing::AssertionFailure()
                   << "the retry gave " << retry.transcript() << " with " << Holding(destination)
                   << (Exists(temp) ? " and a temporary file" : "");
        return ::testing::AssertionSuccess();
    }
};

// ---------------------------------------------------------------------------
// Every file call spoiled in turn.

enum class Expect { Fail, Succeed, Either };

struct FaultKind {
    const char* name;
    Call call;
    Effect effect;
    DWORD error;
    // During the replacement; before it (reading versions) any outcome may follow.
    Expect during;
    unsigned calls = 1; // see Fault
};

void PrintTo(const FaultKind& kind, std::ostream* out) {
    *out << kind.name;
}

class SystemCallFaultTest : public ReplacementTest,
                            public ::testing::WithParamInterface<FaultKind> {};

// Notes the counts of every call at the moment the replacement begins (its first
// removal of a leftover), so a fault can be placed before or inside it.
class MarkingFileSystem final : public testing::ForwardingFileSystem {
public:
    MarkingFileSystem(FileSystem& inner, const KernelFaults& faults)
        : ForwardingFileSystem(inner), faults_(faults) {}
    bool remove(const std::string& path) override {
        if (!marked_) {
            marked_ = true;
            for (int c = 0; c < kCallKinds; ++c)
                before_[c] = faults_.count(static_cast<Call>(c));
        }
        return inner_.remove(path);
    }
    unsigned before(Call call) const { return before_[static_cast<int>(call)]; }

private:
    const KernelFaults& faults_;
    bool marked_ = false;
    std::array<unsigned, kCallKinds> before_{};
};

TEST_P(SystemCallFaultTest, InstalledFileIsWholeAndTheMessageIsTrue) {
    const FaultKind& kind = GetParam();
    may_ask_for_administrator = kind.call == Call::CreateFileW && kind.error == ERROR_ACCESS_DENIED;
    KernelFaults faults;
    // The look ahead of a spoiled read needs the real seek.
    ASSERT_TRUE(faults.has(Call::ReadFile) && faults.has(Call::SetFilePointerEx));
    if (!faults.has(kind.call))
        GTEST_SKIP() << "the program makes no " << CallName(kind.call) << " call";

    // A clean click first: how often the call is made, and how often before the
    // replacement begins.
    MarkingFileSystem marking(fs, faults);
    faults.arm();
    RecordingView clean = Click(marking);
    faults.disarm();
    ASSERT_EQ(OutcomeOf(clean), Outcome::Success) << clean.transcript();
    const unsigned total = faults.count(kind.call), before = marking.before(kind.call);
    ASSERT_GT(total, before) << "the replacement makes no " << CallName(kind.call) << " call";

    // Every call of the replacement; of the version reading before it, which the
    // version reader's own suites and fuzzing cover byte by byte, a spread of eight.
    std::vector<unsigned> calls;
    const unsigned stride = before > 8 ? (before + 7) / 8 : 1;
    for (unsigned n = 1; n <= before; n += stride)
        calls.push_back(n);
    if (before > 0 && calls.back() != before) calls.push_back(before);
    for (unsigned n = before + 1; n <= total; ++n)
        calls.push_back(n);

    int outcomes[5] = {};
    unsigned during_runs = 0;
    for (const unsigned n : calls) {
        Restore();
        const Fault fault{kind.call, kind.effect, kind.error, n, kind.calls};
        SCOPED_TRACE(Describe(fault));
        faults.arm(fault);
        const RecordingView view = Click();
        faults.disarm();
        ASSERT_TRUE(faults.fired());

        const bool during = n > before;
        const bool in_cleanup_removal = kind.call == Call::DeleteFileW && during;
        const bool renamed_anyway =
            kind.call == Call::MoveFileExW && kind.effect == Effect::DoneButFailed;
        EXPECT_TRUE(Consistent(view, in_cleanup_removal, renamed_anyway));
        const Outcome outcome = OutcomeOf(view);
        ++outcomes[static_cast<int>(outcome)];
        if (during) {
            ++during_runs;
            // A read spoiled by hiding or changing bytes that turn out to be the end of
            // the file spoils nothing; an end reported as an error there may be taken
            // as the end; any other read error is an error wherever it lands.
            Expect expect = kind.during;
            if (kind.call == Call::ReadFile && !faults.spoiled_data()) {
                if (kind.effect == Effect::Nothing || kind.effect == Effect::Corrupt)
                    expect = Expect::Succeed;
                if (kind.effect == Effect::Fail && kind.error == ERROR_HANDLE_EOF)
                    expect = Expect::Either;
            }
            if (expect == Expect::Fail) {
                EXPECT_EQ(outcome, Outcome::CopyFailed) << view.transcript();
            }
            if (expect == Expect::Succeed) {
                EXPECT_EQ(outcome, Outcome::Success) << view.transcript();
            }
        }
        EXPECT_TRUE(RecoversOnRetry());
    }
    std::printf("%s: %u calls, %u before the replacement, %zu spoiled in turn; outcomes: %d "
                "success, %d copy failure, %d not newer, %d no download, %d other\n",
                kind.name, total, before, calls.size(), outcomes[0], outcomes[1], outcomes[2],
                outcomes[3], outcomes[4]);
    EXPECT_EQ(outcomes[static_cast<int>(Outcome::Other)], 0);
    EXPECT_GT(during_runs, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SystemCallFaultTest,
    ::testing::Values(
        // A lock that lasts: one that is let go soon is waited out (BriefLocksAreWaitedOut).
        FaultKind{"OpenDenied", Call::CreateFileW, Effect::Fail, ERROR_ACCESS_DENIED, Expect::Fail,
                  kLasting},
        FaultKind{"OpenSharingViolation", Call::CreateFileW, Effect::Fail, ERROR_SHARING_VIOLATION,
                  Expect::Fail, kLasting},
        FaultKind{"CreateDiskFull", Call::CreateFileW, Effect::Fail, ERROR_DISK_FULL, Expect::Fail},
        FaultKind{"ReadDeviceError", Call::ReadFile, Effect::Fail, ERROR_IO_DEVICE, Expect::Fail},
        FaultKind{"ReadLockViolation", Call::ReadFile, Effect::Fail, ERROR_LOCK_VIOLATION,
                  Expect::Fail},
        FaultKind{"ReadEndTooEarly", Call::ReadFile, Effect::Fail, ERROR_HANDLE_EOF, Expect::Fail},
        FaultKind{"ReadShort", Call::ReadFile, Effect::Short, 0, Expect::Succeed},
        FaultKind{"ReadNothing", Call::ReadFile, Effect::Nothing, 0, Expect::Fail},
        FaultKind{"ReadChangedByte", Call::ReadFile, Effect::Corrupt, 0, Expect::Fail},
        FaultKind{"WriteDiskFull", Call::WriteFile, Effect::Fail, ERROR_DISK_FULL, Expect::Fail},
        FaultKind{"WriteDeviceError", Call::WriteFile, Effect::Fail, ERROR_IO_DEVICE, Expect::Fail},
        FaultKind{"WriteShort", Call::WriteFile, Effect::Short, 0, Expect::Succeed},
        FaultKind{"WriteNothing", Call::WriteFile, Effect::Nothing, 0, Expect::Fail},
        FaultKind{"WriteChangedByte", Call::WriteFile, Effect::Corrupt, 0, Expect::Fail},
        FaultKind{"FlushFails", Call::FlushFileBuffers, Effect::Fail, ERROR_IO_DEVICE,
                  Expect::Fail},
        FaultKind{"RenameDenied", Call::MoveFileExW, Effect::Fail, ERROR_ACCESS_DENIED,
                  Expect::Fail, kLasting},
        FaultKind{"RenameSharingViolation", Call::MoveFileExW, Effect::Fail,
                  ERROR_SHARING_VIOLATION, Expect::Fail, kLasting},
        FaultKind{"RenameDoneButReportedFailed", Call::MoveFileExW, Effect::DoneButFailed,
                  ERROR_NETNAME_DELETED, Expect::Fail},
        FaultKind{"DeleteDenied", Call::DeleteFileW, Effect::Fail, ERROR_ACCESS_DENIED,
                  Expect::Either},
        FaultKind{"DeleteDoneButReportedFailed", Call::DeleteFileW, Effect::DoneButFailed,
                  ERROR_ACCESS_DENIED, Expect::Either},
        FaultKind{"AttributesUnreadable", Call::GetFileAttributesW, Effect::Fail,
                  ERROR_ACCESS_DENIED, Expect::Either},
        FaultKind{"FileTypeUnknown", Call::GetFileType, Effect::Fail, ERROR_INVALID_HANDLE,
                  Expect::Fail},
        FaultKind{"FileInformationDenied", Call::GetFileInformationByHandleEx, Effect::Fail,
                  ERROR_ACCESS_DENIED, Expect::Fail},
        FaultKind{"SeekFails", Call::SetFilePointerEx, Effect::Fail, ERROR_INVALID_PARAMETER,
                  Expect::Fail}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The installed file in the way.

class HeldDestinationTest : public ReplacementTest, public ::testing::WithParamInterface<DWORD> {};

std::string ShareName(const ::testing::TestParamInfo<DWORD>& info) {
    std::string name;
    if (info.param & FILE_SHARE_READ) name += "Read";
    if (info.param & FILE_SHARE_WRITE) name += "Write";
    if (info.param & FILE_SHARE_DELETE) name += "Delete";
    return name.empty() ? "NoSharing" : name + "Sharing";
}

// Tervan58 or a virus scanner has the installed file open. Without delete sharing
// Windows refuses the rename; with it, Windows may let the new file take the name
// while the holder keeps the old one. Either way the message must say which.
TEST_P(HeldDestinationTest, KeptWholeOrReplacedWhole) {
    RecordingView view("", "");
    {
        testing::HeldFile held(destination, GetParam());
        ASSERT_TRUE(held.holding());
        view = Click();
    }
    EXPECT_TRUE(Consistent(view));
    if ((GetParam() & FILE_SHARE_DELETE) == 0) {
        EXPECT_EQ(OutcomeOf(view), Outcome::CopyFailed) << view.transcript();
    }
    std::printf("held with share mode %lu: %s\n", GetParam(), OutcomeName(OutcomeOf(view)));
    EXPECT_TRUE(RecoversOnRetry());
}

INSTANTIATE_TEST_SUITE_P(
    ShareModes, HeldDestinationTest,
    ::testing::Values(DWORD{0}, DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE},
                      DWORD{FILE_SHARE_READ | FILE_SHARE_DELETE},
                      DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}),
    ShareName);

// The user starts Tervan58 while the copy runs: at each read of the download in turn,
// another process opens the installed file.
TEST_F(ReplacementTest, InstalledFileOpenedDuringTheCopyIsKept) {
    InterferingFileSystem counting(fs, source, 0, nullptr);
    ASSERT_EQ(OutcomeOf(Click(counting)), Outcome::Success);
    const unsigned reads = counting.reads();
    ASSERT_GT(reads, 2u);
    for (unsigned n = 1; n <= reads; ++n) {
        SCOPED_TRACE("opened before read " + std::to_string(n) + " of " + std::to_string(reads));
        Restore();
        std::unique_ptr<testing::HeldFile> held;
        InterferingFileSystem files(fs, source, n, [&] {
            held = std::make_unique<testing::HeldFile>(destination, FILE_SHARE_READ);
        });
        const RecordingView view = Click(files);
        ASSERT_TRUE(held && held->holding());
        held.reset();
        EXPECT_EQ(OutcomeOf(view), Outcome::CopyFailed) << view.transcript();
        EXPECT_TRUE(Consistent(view));
        EXPECT_TRUE(RecoversOnRetry());
    }
}

TEST_F(ReplacementTest, ReadOnlyInstalledFileIsKept) {
    ASSERT_TRUE(testing::SetReadOnly(destination, true));
    const RecordingView view = Click();
    EXPECT_EQ(OutcomeOf(view), Outcome::CopyFailed) << view.transcript();
    EXPECT_TRUE(Consistent(view));
    EXPECT_NE(GetFileAttributesW(testing::Literal(destination).c_str()) & FILE_ATTRIBUTE_READONLY,
              0u);
    ASSERT_TRUE(testing::SetReadOnly(destination, false));
    EXPECT_TRUE(RecoversOnRetry());
}

TEST_F(ReplacementTest, MissingInstallFolderIsNotCreated) {
    for (const std::string& gone : {folder / "uninstalled", folder / "uninstalled\\TERVAN58"}) {
        SCOPED_TRACE(gone);
        RecordingView view(gone, download);
        UpdateProcedure(view, fs);
        EXPECT_EQ(OutcomeOf(view), Outcome::CopyFailed) << view.transcript();
        EXPECT_FALSE(Exists(folder / "uninstalled"));
        EXPECT_EQ(Holding(source), "the new file");
    }
}

// Leftovers the replacement cannot clear away: it must give up without harm.
TEST_F(ReplacementTest, LeftoverThatCannotBeRemovedKeepsTheOldFile) {
    struct Obstacle {
        const char* name;
        std::function<bool()> put;
        std::function<void()> clear;
    };
    std::unique_ptr<testing::HeldFile> held;
    const Obstacle obstacles[] = {
        {"a leftover held open by another process",
         [&] {
             if (!PutBytes(temp, "half a copy")) return false;
             held = std::make_unique<testing::HeldFile>(temp, FILE_SHARE_READ);
             return held->holding();
         },
         [&] { held.reset(); }},
        {"a folder of that name", [&] { return testing::MakeFolder(temp); },
         [&] { testing::RemoveTree(temp); }},
        {"a read-only leftover",
         [&] { return PutBytes(temp, "half a copy") && testing::SetReadOnly(temp, true); },
         [&] { testing::SetReadOnly(temp, false); }},
    };
    for (const Obstacle& obstacle : obstacles) {
        SCOPED_TRACE(obstacle.name);
        Restore();
        ASSERT_TRUE(obstacle.put());
        const RecordingView view = Click();
        const Outcome outcome = OutcomeOf(view);
        std::printf("%s: %s\n", obstacle.name, OutcomeName(outcome));
        EXPECT_TRUE(outcome == Outcome::CopyFailed || outcome == Outcome::Success)
            << view.transcript();
        EXPECT_EQ(Holding(destination),
                  outcome == Outcome::Success ? "the new file" : "the old file");
        EXPECT_EQ(Holding(source), "the new file");
        obstacle.clear();
        EXPECT_TRUE(RecoversOnRetry());
    }
}

TEST_F(ReplacementTest, FolderInPlaceOfTheInstalledFileIsKept) {
    ASSERT_TRUE(DeleteFileW(testing::Literal(destination).c_str()));
    ASSERT_TRUE(testing::MakeFolder(destination));
    ASSERT_TRUE(PutBytes(destination + "\\keep.txt", "inside"));
    const RecordingView view = Click();
    EXPECT_EQ(OutcomeOf(view), Outcome::CopyFailed) << view.transcript();
    EXPECT_EQ(testing::GetBytes(destination + "\\keep.txt"), "inside");
    EXPECT_FALSE(Exists(temp));
}

// Windows file names end at 32,767 characters. A longer path must name no file at
// all, and above all not a shorter one: counted in bytes, the length of a path
// 32,768 characters longer than another wraps around a 16-bit count onto it, and
// Wine then opens, deletes and renames over that other file. Key_Path is such text.
TEST_F(ReplacementTest, OverlongPathNamesNoOtherFile) {
    const std::string victim = folder / "victim.txt";
    ASSERT_TRUE(PutBytes(victim, "precious"));
    const std::string overlong = victim + "\\" + std::string(32767, 'p');
    EXPECT_EQ(fs.open_read(overlong), nullptr) << "the overlong path opened another file";
    fs.remove(overlong);
    EXPECT_EQ(testing::GetBytes(victim), "precious") << "the overlong path removed another file";

    // The replacement itself, its temporary file's name wrapping onto the victim.
    ASSERT_TRUE(PutBytes(victim, "precious"));
    const Tree before = TreeOf(folder.path());
    const std::string destination_overlong = overlong.substr(0, overlong.size() - 9);
    EXPECT_EQ(ReplaceFileAllOrNothing(fs, source, destination_overlong), Replacement::Failed);
    EXPECT_EQ(TreeDifference(before, TreeOf(folder.path())), "");
}

// ---------------------------------------------------------------------------
// Another process goes for the download while it is being copied.

struct Interference {
    const char* name;
    const char* action; // for TryInAnotherProcess; nullptr: a lock
};

void PrintTo(const Interference& interference, std::ostream* out) {
    *out << interference.name;
}

class DownloadInterferenceTest : public ReplacementTest,
                                 public ::testing::WithParamInterface<Interference> {};

// A lock at each read of the download in turn, the others before the first and
// the last read. The updater reads it sharing only reading, so nobody may
// delete, rename or write it meanwhile, wherever the copy stands; a lock on it
// (which a reader may take) makes the next read fail on Windows, and the copy
// must then fail whole, after any part.
TEST_P(DownloadInterferenceTest, DuringTheCopy) {
    const Interference& interference = GetParam();
    InterferingFileSystem counting(fs, source, 0, nullptr);
    ASSERT_EQ(OutcomeOf(Click(counting)), Outcome::Success);
    const unsigned reads = counting.reads();
    std::vector<unsigned> at = {1, reads};
    if (!interference.action) {
        at.clear();
        for (unsigned n = 1; n <= reads; ++n)
            at.push_back(n);
    }
    int outcomes[5] = {};
    for (const unsigned n : at) {
        SCOPED_TRACE(std::string(interference.name) + " before read " + std::to_string(n) + " of " +
                     std::to_string(reads));
        Restore();
        std::unique_ptr<LockedFile> lock;
        DWORD attempt = ERROR_GEN_FAILURE;
        InterferingFileSystem files(fs, source, n, [&] {
            if (interference.action)
                attempt = TryInAnotherProcess(interference.action, source);
            else
                lock = std::make_unique<LockedFile>(source);
        });
        const RecordingView view = Click(files);
        ASSERT_TRUE(files.acted());
        if (lock) {
            ASSERT_EQ(lock->lock_error(), 0u) << "the other process could not lock the download";
            lock.reset();
        } else {
            EXPECT_EQ(attempt, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        ++outcomes[static_cast<int>(OutcomeOf(view))];
        EXPECT_TRUE(Consistent(view));
        if (interference.action) {
            EXPECT_EQ(OutcomeOf(view), Outcome::Success) << view.transcript();
        }
        EXPECT_TRUE(RecoversOnRetry());
    }
    std::printf("%s at %zu of %u reads: %d success, %d copy failure\n", interference.name,
                at.size(), reads, outcomes[0], outcomes[1]);
}

INSTANTIATE_TEST_SUITE_P(Actions, DownloadInterferenceTest,
                         ::testing::Values(Interference{"Lock", nullptr},
                                           Interference{"Delete", "delete"},
                                           Interference{"Rename", "rename"},
                                           Interference{"Overwrite", "overwrite"},
                                           Interference{"Truncate", "truncate"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A volume too small for the new file beside the old one: a real one, the tmpfs
// that scripts/test-windows.sh maps to a drive letter when it runs as root.

std::optional<std::string> SmallDrive() {
    const char* drive = std::getenv("TERVAN_FULL_DRIVE");
    if (drive == nullptr || *drive == '\0') return std::nullopt;
    return std::string(drive);
}

std::uint64_t FreeBytes(const std::string& root) {
    ULARGE_INTEGER free{};
    GetDiskFreeSpaceExW(Widen(root).c_str(), &free, nullptr, nullptr);
    return free.QuadPart;
}

struct TooBig {
    const char* name;
    std::size_t size;
};

void PrintTo(const TooBig& download, std::ostream* out) {
    *out << download.name;
}

class SmallVolumeTest : public ReplacementTest, public ::testing::WithParamInterface<TooBig> {};

TEST_P(SmallVolumeTest, OldFileIsKeptAndTheSpaceGivenBack) {
    const auto drive = SmallDrive();
    if (!drive) GTEST_SKIP() << "TERVAN_FULL_DRIVE not set (needs root to mount a tmpfs)";
    const std::string root = *drive + "\\reliability-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(testing::MakeFolder(root));
    install = root + "\\TERVAN58";
    ASSERT_TRUE(testing::MakeFolder(install));
    destination = install + "\\tervan58.exe";
    temp = ReplacementTempPath(destination);
    old_bytes = e2e::Tervan58Bytes({1, 0, 0, 1}, 1, 300 << 10);
    old_digest = DigestOf(old_bytes);
    new_bytes = e2e::Tervan58Bytes({1, 0, 0, 2}, 2, GetParam().size);
    new_digest = DigestOf(new_bytes);
    ASSERT_TRUE(PutBytes(destination, old_bytes));
    ASSERT_TRUE(PutBytes(source, new_bytes));
    const std::uint64_t free_before = FreeBytes(*drive + "\\");
    ASSERT_LT(free_before, new_bytes.size() + (64u << 10)) << "the volume is not small enough";

    const RecordingView view = Click();
    EXPECT_EQ(OutcomeOf(view), Outcome::CopyFailed) << view.transcript();
    EXPECT_TRUE(Consistent(view));
    EXPECT_EQ(FreeBytes(*drive + "\\"), free_before);
    testing::RemoveTree(root);
}

INSTANTIATE_TEST_SUITE_P(Downloads, SmallVolumeTest,
                         ::testing::Values(TooBig{"LargerThanTheVolume", 2 << 20},
                                           TooBig{"FitsOnlyWithoutTheOld", 900 << 10}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A virus scanner or the search indexer holds a file for a moment, just as the
// replacement removes a leftover, creates its temporary file or renames it into
// place: refused three times, then allowed. The update waits it out.

TEST_F(ReplacementTest, BriefLocksAreWaitedOut) {
    KernelFaults faults;
    MarkingFileSystem marking(fs, faults);
    faults.arm();
    ASSERT_EQ(OutcomeOf(Click(marking)), Outcome::Success);
    faults.disarm();
    struct Lock {
        const char* step;
        Call call;
        unsigned nth;
        Effect effect;
        DWORD error;
    };
    const Lock locks[] = {
        {"removing the leftover", Call::DeleteFileW, marking.before(Call::DeleteFileW) + 1,
         Effect::Fail, ERROR_SHARING_VIOLATION},
        // After the download's open: the leftover just removed is still held.
        {"creating the temporary file", Call::CreateFileW, marking.before(Call::CreateFileW) + 2,
         Effect::DeletePending, 0},
        {"renaming", Call::MoveFileExW, marking.before(Call::MoveFileExW) + 1, Effect::Fail,
         ERROR_SHARING_VIOLATION},
    };
    for (const Lock& lock : locks) {
        const Fault fault{lock.call, lock.effect, lock.error, lock.nth, 3};
        SCOPED_TRACE(std::string(lock.step) + ": " + Describe(fault));
        Restore();
        ASSERT_TRUE(PutBytes(temp, "half a copy"));
        faults.arm(fault);
        const RecordingView view = Click();
        faults.disarm();
        EXPECT_GT(faults.count(lock.call), lock.nth + 2) << "the fault did not run its course";
        EXPECT_EQ(OutcomeOf(view), Outcome::Success) << view.transcript();
        EXPECT_TRUE(Consistent(view));
    }
}

// Locks that last are waited for out of one allowance for the whole replacement, not
// one per step (the window thread would look hung after 5 s): with every removal
// refused, the leftover's removal spends it all. The clean-up after the failure has a
// smaller allowance of its own, so that it gets more than one try.
TEST_F(ReplacementTest, LastingLocksShareOneAllowance) {
    const Fault lasting{Call::DeleteFileW, Effect::Fail, ERROR_SHARING_VIOLATION, 1, kLasting};
    KernelFaults faults;
    ASSERT_TRUE(PutBytes(temp, "half a copy"));
    faults.arm(lasting);
    Win32FileSystem().remove(temp);
    const unsigned one_allowance = faults.count(Call::DeleteFileW);
    faults.arm(lasting);
    const RecordingView view = Click();
    faults.disarm();
    EXPECT_EQ(OutcomeOf(view), Outcome::CopyFailed) << view.transcript();
    EXPECT_TRUE(Consistent(view, true));
    EXPECT_GT(one_allowance, 2u);
    const unsigned clean_up = faults.count(Call::DeleteFileW) - one_allowance;
    EXPECT_GT(clean_up, 1u);
    EXPECT_LT(clean_up, one_allowance);
}

} // namespace
} // namespace tervan::reliability
