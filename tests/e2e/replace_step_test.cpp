// The replacement step that the update window starts with administrator rights (the
// updater run as `--replace "<download>" "<install>"`): its command line, the step on
// its own with every check the click makes, and the step started through the window.
#include "tests/e2e/scenario.hpp"

#include <shellapi.h>

#include "platform/win32/administrator.hpp"

namespace tervan::e2e {
namespace {

// The window quotes the two folders so that Windows splits the command line back into
// exactly these texts, the trailing "\" of "C:\" included.
TEST(ReplaceStepCommandLine, FoldersComeBackExactly) {
    const std::wstring folders[] = {
        L"C:\\",
        L"C:\\Program Files (x86)\\TERVAN58",
        L"\\\\server\\share\\ﾀﾞｳﾝﾛｰﾄﾞ 新版\\\\",
        L"D:\\\"quoted\" \\\"",
        L"D:\\Λήψη 😀 ",
    };
    for (const std::wstring& folder : folders) {
        const std::wstring line = L"tervan58-updater.exe --replace " + QuotedArgument(folder) +
                                  L" " + QuotedArgument(L"C:\\");
        int count = 0;
        wchar_t** args = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(args, nullptr);
        EXPECT_EQ(count, 4) << Printable(line);
        if (count == 4) {
            EXPECT_TRUE(SameText(args[2], folder));
            EXPECT_TRUE(SameText(args[3], L"C:\\"));
        }
        LocalFree(args);
    }
}

class ReplaceStepTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(updater.empty()) << "could not copy the updater";
        ASSERT_FALSE(box.put_tervan58(install, {1, 0, 0, 1}, 1).empty());
        ASSERT_FALSE(box.put_tervan58(download, {1, 0, 0, 2}, 2).empty());
    }

    // The step's exit code; nullopt when it did not end.
    std::optional<DWORD> step(const std::vector<std::string>& args) {
        testing::Child child(args, updater);
        return child.wait();
    }

    Sandbox box;
    const std::string install = box.folder("Program Files (x86)\\TERVAN58");
    const std::string download = box.folder("ﾀﾞｳﾝﾛｰﾄﾞ & 新版");
    const std::string updater = box.put_updater(download);
};

TEST_F(ReplaceStepTest, ReplacesANewerDownloadAndNothingElse) {
    const FolderContents download_before = Contents(download);
    // The install folder as a setting may hold it: with a trailing "\".
    EXPECT_EQ(step({"--replace", download, install + "\\"}), 0u);
    EXPECT_EQ(Contents(install),
              (FolderContents{{"tervan58.exe", download_before.at("tervan58.exe")}}));
    EXPECT_EQ(Contents(download), download_before);
}

TEST_F(ReplaceStepTest, RefusesBeforeTouchingAnything) {
    const FolderContents install_before = Contents(install), download_before = Contents(download);
    const std::string empty = box.folder("empty");
    const std::vector<std::vector<std::string>> refusals = {
        {"--replace"},
        {"--replace", download},
        {"--replace", download, install, install},
        {"--replace", "ﾀﾞｳﾝﾛｰﾄﾞ & 新版", install}, // relative to some current folder
        {"--replace", download, "C:TERVAN58"},     // relative to the drive's folder
        {"--replace", "   ", install},
        {"--replace", empty, install},    // no download there
        {"--replace", install, install},  // the same folder
        {"--replace", install, download}, // the download is the older one
    };
    for (const auto& args : refusals) {
        std::string shown;
        for (const std::string& arg : args)
            shown += " [" + arg + "]";
        SCOPED_TRACE(shown);
        EXPECT_EQ(step(args), 2u);
        EXPECT_EQ(Contents(install), install_before);
        EXPECT_EQ(Contents(download), download_before);
        EXPECT_EQ(Contents(empty), FolderContents{});
    }
}

// A folder that refuses new files even to an administrator (a read-only share, a
// policy): the step fails, the old file stays, nothing is left beside it.
TEST_F(ReplaceStepTest, FolderThatRefusesNewFilesKeepsTheOldFile) {
    const FolderContents install_before = Contents(install);
    testing::RefusingFolder refusing(install);
    if (!refusing.refusing()) GTEST_SKIP() << refusing.why_not();
    const auto code = step({"--replace", download, install});
    EXPECT_TRUE(code == 1u || code == 2u) << (code ? std::to_string(*code) : "no end");
    EXPECT_EQ(Contents(install), install_before);
}

// A signed install takes only an intact download signed by its publisher, whose
// certificate may be a new one that spells the name in other string types and adds
// attributes; an unsigned install takes what it always took. The
// fixtures are the demo tervan58.exe signed with throwaway certificates
// (signed_fixtures.sh). Wine checks the digest but not the chain to a trusted root;
// Windows refuses these self-signed downloads outright, the publisher's own too.
TEST_F(ReplaceStepTest, SignedInstallTakesOnlyItsPublishersDownload) {
    struct Case {
        const char* installed; // nullptr: an unsigned 1.0.0.1
        const char* download;
        DWORD code;
    };
    const Case cases[] = {
        {"installed.exe", "same.exe", 0},      {"installed.exe", "renewed.exe", 0},
        {"installed.exe", "reencoded.exe", 0}, {"installed.exe", "other.exe", 2},
        {"installed.exe", "other-o.exe", 2},   {"installed.exe", "changed.exe", 2},
        {"installed.exe", "unsigned.exe", 2},  {nullptr, "other.exe", 0},
    };
    const auto fixture = [](const char* name) {
        const auto bytes = testing::GetBytes(BuiltBesideUpdater(std::string("signed\\") + name));
        EXPECT_TRUE(bytes) << "no signed fixture " << name << " beside the updater";
        return bytes.value_or("");
    };
    const bool chain_checked = !testing::UnderWine();
    bool taken_untested = false;
    for (Case c : cases) {
        SCOPED_TRACE(std::string(c.installed ? c.installed : "unsigned") + " <- " + c.download);
        if (chain_checked && c.installed && c.code == 0) {
            c.code = 2;
            taken_untested = true;
        }
        // The demo's 1.0.0.2 over its 1.0.0.1.
        const std::string old_bytes =
            c.installed ? fixture(c.installed) : Tervan58Bytes({1, 0, 0, 1}, 3);
        const std::string downloaded = fixture(c.download);
        ASSERT_TRUE(testing::PutBytes(install + "\\tervan58.exe", old_bytes));
        ASSERT_TRUE(testing::PutBytes(download + "\\tervan58.exe", downloaded));
        EXPECT_EQ(step({"--replace", download, install}), c.code);
        EXPECT_EQ(Contents(install),
                  (FolderContents{{"tervan58.exe", c.code == 0 ? downloaded : old_bytes}}));
    }
    if (taken_untested)
        GTEST_SKIP() << "Windows trusts none of the throwaway publishers, so it refused their "
                        "downloads as it should; taking a trusted publisher's download was "
                        "not checked";
}

// Through the window, as a standard user meets it under Program Files: the test copy
// of the updater can neither create nor remove files there, asks Windows to run the
// step with administrator rights, and the step updates, also where an ended run left
// its temporary file, which only the step can remove. From an elevated prompt (and
// under Wine) the step starts without a prompt; from a standard one Windows shows its
// consent prompt, which a person declines once, and then accepts.
TEST(AdministratorStep, RefusedInstallFolderIsUpdatedByTheStep) {
    const bool prompted = !RunsElevated();
    if (prompted && !testing::Interactive())
        GTEST_SKIP() << "not elevated: Windows would ask for administrator rights; "
                        "run-tests.cmd /interactive runs this case with a person to answer";
    constexpr DWORD kPersonMs = 300000;
    Sandbox box;
    InstallFolderSetting setting;
    const std::string install = box.folder("Program Files (x86)\\TERVAN58");
    const std::string download = box.folder("ﾀﾞｳﾝﾛｰﾄﾞ & 新版");
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    ASSERT_TRUE(testing::PutBytes(install + "\\tervan58.exe.updating", "half a copy"));
    const std::string downloaded = box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    const std::string exe =
        box.put_updater(download, BuiltBesideUpdater("tervan58-updater-limited-token.exe"));
    ASSERT_FALSE(exe.empty()) << "no test copy beside the updater";
    UpdaterRun run(exe, download);
    ASSERT_TRUE(run.open_update_window());

    if (prompted) {
        const FolderContents install_before = Contents(install);
        testing::TellPerson("Windows asks for administrator rights for tervan58-updater.exe: "
                            "click No.");
        ASSERT_TRUE(run.update.click(expected::update_window::kStart));
        ASSERT_TRUE(run.answer_message(expected::kCopyFailed, expected::kUpdateTitle, kPersonMs));
        ASSERT_TRUE(run.idle(run.update));
        EXPECT_EQ(Contents(install), install_before);
        testing::TellPerson("Windows asks once more: click Yes this time.");
    }
    ASSERT_TRUE(run.update.click(expected::update_window::kStart));
    ASSERT_TRUE(run.answer_message(expected::kSuccess, expected::kUpdateTitle,
                                   prompted ? kPersonMs : kGuardMs));
    ASSERT_TRUE(run.exits(0));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
}

} // namespace
} // namespace tervan::e2e
