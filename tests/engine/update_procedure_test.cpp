// The update procedure through a recording view and an in-memory file system.
#include <gtest/gtest.h>

#include <functional>

#include "engine/update_procedure.hpp"
#include "tests/engine/fakes.hpp"

namespace tervan::testing {
namespace {

// The texts as the user must see them, written out again here on purpose.
const std::string kNoDestination =
    "message: ｱｯﾌﾟﾃﾞｰﾄのﾁｪｯｸ | ｲﾝｽﾄｰﾙ先情報が不明です、ｱｯﾌﾟﾃﾞｰﾄできません。";
const std::string kNoSource =
    "message: ｱｯﾌﾟﾃﾞｰﾄ | ｺﾋﾟｰ元が不明です。\r\rﾀﾞｳﾝﾛｰﾄﾞしたﾌｫﾙﾀﾞ名を選択して下さい。";
const std::string kNoSourceFile =
    "message: ｱｯﾌﾟﾃﾞｰﾄ | ｺﾋﾟｰ元ﾌｧｲﾙが存在しません。\r\rﾀﾞｳﾝﾛｰﾄﾞしたﾌｫﾙﾀﾞ名を選択して下さい。";
const std::string kSameFolder =
    "message: ｱｯﾌﾟﾃﾞｰﾄ | "
    "ｺﾋﾟｰ元とｺﾋﾟｰ先のﾌｫﾙﾀﾞｰが同一です。\r\rﾀﾞｳﾝﾛｰﾄﾞしたﾌｫﾙﾀﾞ名を選択して下さい。";
const std::string kNotNewer =
    "message: ｱｯﾌﾟﾃﾞｰﾄ | ｱｯﾌﾟﾃﾞｰﾄするﾊﾞｰｼﾞｮﾝが同じか、古いﾊﾞｰｼﾞｮﾝになっています。";
const std::string kSuccess =
    "message: ｱｯﾌﾟﾃﾞｰﾄ | "
    "ｱｯﾌﾟﾃﾞｰﾄに成功しました。\r\r[TERVAN58]を起動後ｱｯﾌﾟﾃﾞｰﾄを確認して下さい。";
const std::string kCopyFailed = "message: ｱｯﾌﾟﾃﾞｰﾄ | ｱｯﾌﾟﾃﾞｰﾄのｺﾋﾟｰに失敗しました。";
const std::string kUnknownPublisher =
    "message: ｱｯﾌﾟﾃﾞｰﾄのﾁｪｯｸ | ﾀﾞｳﾝﾛｰﾄﾞしたﾌｧｲﾙの発行元が確認できません、ｱｯﾌﾟﾃﾞｰﾄできません。";
const std::string kTervan58Running =
    "message: ｱｯﾌﾟﾃﾞｰﾄのﾁｪｯｸ | [TERVAN58]が起動しています、終了してからｱｯﾌﾟﾃﾞｰﾄを開始して下さい。";

const std::string kInstall = "C:\\Program Files\\Tervan58";
const std::string kDownload = "C:\\Users\\u\\Downloads";
const std::string kInstalledExe = kInstall + "\\tervan58.exe";
const std::string kDownloadedExe = kDownload + "\\tervan58.exe";

struct UpdateTest : ::testing::Test {
    FakeView view;
    MemoryFileSystem fs;

    void SetUp() override {
        view.captions[Caption::Destination] = kInstall;
        view.captions[Caption::Source] = kDownload;
        view.captions[Caption::SourceVersion] = "Ver";
        view.captions[Caption::InstalledVersion] = "Ver.1.0.0.1";
    }
    void click() { UpdateProcedure(view, fs); }
    std::vector<std::string> events() const { return view.events; }
};

TEST_F(UpdateTest, BlankDestinationStopsWithoutOpeningTheChooser) {
    for (const std::string destination : {"", "   "}) {
        view.events.clear();
        view.captions[Caption::SourceVersion] = "Ver.9.9.9.9";
        view.captions[Caption::Destination] = destination;
        click();
        EXPECT_EQ(events(), std::vector<std::string>{kNoDestination});
        EXPECT_EQ(view.captions[Caption::SourceVersion], "");
        EXPECT_EQ(view.captions[Caption::InstalledVersion], "Ver.1.0.0.1");
    }
}

TEST_F(UpdateTest, BlankSourceAsksForTheDownloadFolder) {
    view.captions[Caption::Source] = "  ";
    view.chosen_folder = "D:\\";
    click();
    EXPECT_EQ(events(), (std::vector<std::string>{kNoSource, "choose source"}));
    EXPECT_EQ(view.captions[Caption::Source], "D:\\");
    EXPECT_EQ(view.captions[Caption::SourceVersion], "");
}

TEST_F(UpdateTest, MissingOrUnreadableDownloadAsksForTheDownloadFolder) {
    fs.add_exe(kInstall, "1.0.0.1");
    click(); // nothing downloaded yet
    EXPECT_EQ(events(), (std::vector<std::string>{kNoSourceFile, "choose source"}));

    fs.add_exe(kDownload, "1.0.0.2");
    fs.unreadable.insert(kDownloadedExe);
    view.events.clear();
    click();
    EXPECT_EQ(events(), (std::vector<std::string>{kNoSourceFile, "choose source"}));
    EXPECT_EQ(view.captions[Caption::InstalledVersion], "Ver.1.0.0.1");
}

TEST_F(UpdateTest, SameFolderEmptiesTheSourceAndACancelledChoiceKeepsItEmpty) {
    fs.add_exe(kInstall, "1.0.0.1");
    view.captions[Caption::Source] = " " + kInstall + " ";
    click();
    EXPECT_EQ(events(), (std::vector<std::string>{kSameFolder, "choose source"}));
    EXPECT_EQ(view.captions[Caption::Source], "");

    view.events.clear();
    click();
    EXPECT_EQ(events(), (std::vector<std::string>{kNoSource, "choose source"}));
}

TEST_F(UpdateTest, SameFolderSpelledWithATrailingBackslashMeetsTheVersionCheck) {
    fs.add_exe(kInstall, "1.0.0.1");
    view.captions[Caption::Source] = kInstall + "\\";
    click();
    EXPECT_EQ(events(), std::vector<std::string>{kNotNewer});
    EXPECT_EQ(view.captions[Caption::SourceVersion], "Ver.1.0.0.1");
    EXPECT_EQ(view.captions[Caption::InstalledVersion], "Ver.1.0.0.1");
}

// Which pairs of versions lead to a copy.
struct VersionCase {
    const char* installed; // nullptr: no tervan58.exe in the install folder
    const char* downloaded;
    bool copied;
};

// "installed 1.0.0.9, downloaded 1.0.0.10, copied": GoogleTest would otherwise print
// the pointers' bytes, which differ from run to run.
void PrintTo(const VersionCase& c, std::ostream* out) {
    auto version = [](const char* v) { return !v ? "nothing" : *v ? v : "no version"; };
    *out << "installed " << version(c.installed) << ", downloaded " << version(c.downloaded)
         << (c.copied ? ", copied" : ", not copied");
}

class VersionOrderTest : public UpdateTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionOrderTest, CopiesOnlyANewerDownload) {
    const VersionCase c = GetParam();
    fs.add_folder(kInstall);
    if (c.installed) fs.add_exe(kInstall, c.installed, "old");
    fs.add_exe(kDownload, c.downloaded, "new");
    const auto before = fs.files;
    click();

    const std::string installed_text = c.installed ? c.installed : "";
    EXPECT_EQ(view.captions[Caption::SourceVersion], std::string("Ver.") + c.downloaded);
    EXPECT_EQ(view.captions[Caption::InstalledVersion], "Ver." + installed_text);
    if (c.copied) {
        EXPECT_EQ(events(), (std::vector<std::string>{kSuccess, "exit"}));
        EXPECT_EQ(fs.files[kInstalledExe], fs.files[kDownloadedExe]);
        EXPECT_EQ(fs.files.size(), before.size() + (c.installed ? 0 : 1)); // no temporary left
    } else {
        EXPECT_EQ(events(), std::vector<std::string>{kNotNewer});
        EXPECT_EQ(fs.files, before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, VersionOrderTest,
    ::testing::Values(VersionCase{"1.0.0.1", "1.0.0.2", true},
                      VersionCase{"1.0.0.9", "1.0.0.10", true},  // numbers, not text
                      VersionCase{"1.0.0.10", "1.0.0.9", false}, // an older download
                      VersionCase{"1.2.0.0", "1.10.0.0", true},
                      VersionCase{"9.0.0.0", "10.0.0.0", true},
                      VersionCase{"1.0.0.1", "1.0.0.1", false},
                      VersionCase{"2.0.0.0", "1.65535.65535.65535", false},
                      VersionCase{"65535.65535.65535.65534", "65535.65535.65535.65535", true},
                      VersionCase{"0.0.0.0", "0.0.0.1", true},
                      VersionCase{"", "0.0.0.0", true},      // installed file without a version
                      VersionCase{nullptr, "1.0.0.1", true}, // nothing installed yet
                      VersionCase{"1.0.0.1", "", false},     // download without a version
                      VersionCase{"", "", false}),
    [](const ::testing::TestParamInfo<VersionCase>& info) {
        // "Installed1_0_0_9Download1_0_0_10": only letters, digits and "_" may appear.
        auto part = [](const char* version) {
            if (!version) return std::string("Nothing");
            if (!*version) return std::string("NoVersion");
            std::string name = version;
            for (char& c : name)
                if (c == '.') c = '_';
            return name;
        };
        return "Installed" + part(info.param.installed) + "Download" + part(info.param.downloaded);
    });

// A signed install takes only what its publisher signed (see Win32FileSystem): else
// nothing is touched, and the window keeps both versions in view.
// The checks after the versions, in the window and in the step alike: nothing is
// touched, nobody is asked for administrator rights (the install folder here refuses
// new files), and the window keeps both versions in view.
TEST_F(UpdateTest, ChecksAfterTheVersionsStopBeforeAnythingIsCopiedOrAsked) {
    struct Case {
        const char* name;
        std::function<void(MemoryFileSystem&)> arrange;
        std::string message;
    };
    const Case cases[] = {
        // A signed install takes only what its publisher signed (see Win32FileSystem).
        {"another publisher", [](auto& fs) { fs.foreign.insert(kDownloadedExe); },
         kUnknownPublisher},
        // There, but its publisher cannot be read: no telling what it would take.
        {"unreadable install", [](auto& fs) { fs.unreadable.insert(kInstalledExe); }, kCopyFailed},
        {"Tervan58 running", [](auto& fs) { fs.running.insert(kInstalledExe); }, kTervan58Running},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs = MemoryFileSystem();
        fs.add_exe(kInstall, "1.0.0.1", "old");
        fs.add_exe(kDownload, "1.0.0.2", "new");
        fs.refusing.insert(kInstall);
        c.arrange(fs);
        const auto before = fs.files;
        view.events.clear();
        click();
        EXPECT_EQ(events(), std::vector<std::string>{c.message});
        EXPECT_EQ(fs.files, before);
        EXPECT_EQ(view.captions[Caption::SourceVersion], "Ver.1.0.0.2");
        EXPECT_EQ(view.captions[Caption::InstalledVersion], "Ver.1.0.0.1");
        EXPECT_EQ(ReplaceWithoutWindow(fs, kDownload, kInstall), StepResult::Refused);
        EXPECT_EQ(fs.files, before);
    }
}

TEST_F(UpdateTest, FailedCopyKeepsTheWindowOpenAndTheInstalledFile) {
    fs.add_exe(kInstall, "1.0.0.1", "old");
    fs.add_exe(kDownload, "1.0.0.2", "new");
    fs.read_only.insert(kInstalledExe);
    click();
    EXPECT_EQ(events(), std::vector<std::string>{kCopyFailed});
    EXPECT_EQ(fs.files[kInstalledExe], "version:1.0.0.1\nold");
    EXPECT_EQ(fs.files.count(kInstalledExe + ".updating"), 0u);
    EXPECT_EQ(view.captions[Caption::SourceVersion], "Ver.1.0.0.2");
    EXPECT_EQ(view.captions[Caption::InstalledVersion], "Ver.1.0.0.1");
}

// An install folder that takes no new files (Program Files without administrator
// rights) is tried once more, with those rights; what that step comes to decides the
// message, and the window shows what is installed afterwards. (The other copy
// failures, above and below, never ask.)
TEST_F(UpdateTest, RefusingInstallFolderIsTriedOnceWithAdministratorRights) {
    const std::string asked = "administrator: " + kDownload + " -> " + kInstall;
    const std::string leftover = kInstalledExe + ".updating";
    view.captions[Caption::Destination] = " " + kInstall + " ";
    for (const ElevatedStep step :
         {ElevatedStep::Replaced, ElevatedStep::Failed, ElevatedStep::NotRun}) {
        // Also when an ended run left its temporary file, which this user cannot
        // remove there: the name is taken, but other rights would clear it.
        for (const bool with_leftover : {false, true}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(step)) +
                         (with_leftover ? " leftover" : ""));
            view.events.clear();
            fs = MemoryFileSystem();
            fs.add_exe(kInstall, "1.0.0.1", "old");
            fs.add_exe(kDownload, "1.0.0.2", "new");
            fs.refusing.insert(kInstall);
            if (with_leftover) {
                fs.files[leftover] = "half a copy";
                fs.stuck.insert(leftover);
            }
            view.administrator = [&] {
                if (step == ElevatedStep::Replaced) {
                    fs.files[kInstalledExe] = fs.files[kDownloadedExe];
                    fs.files.erase(leftover);
                }
                return step;
            };
            click();
            if (step == ElevatedStep::Replaced) {
                EXPECT_EQ(events(), (std::vector<std::string>{asked, kSuccess, "exit"}));
                EXPECT_EQ(view.captions[Caption::InstalledVersion], "Ver.1.0.0.2");
            } else {
                EXPECT_EQ(events(), (std::vector<std::string>{asked, kCopyFailed}));
                EXPECT_EQ(view.captions[Caption::InstalledVersion], "Ver.1.0.0.1");
            }
            // No temporary file of this run; a leftover only where nobody removed it.
            EXPECT_EQ(fs.files.size(), 2u + (with_leftover && step != ElevatedStep::Replaced));
        }
    }
}

TEST_F(UpdateTest, MissingInstallFolderIsACopyFailure) {
    fs.add_exe(kDownload, "1.0.0.2");
    click();
    EXPECT_EQ(events(), std::vector<std::string>{kCopyFailed});
    EXPECT_EQ(fs.files.size(), 1u);
    EXPECT_EQ(view.captions[Caption::InstalledVersion], "Ver.");
}

TEST_F(UpdateTest, FolderTextsAreTrimmedAndATrailingBackslashIsNotDoubled) {
    fs.add_exe(kInstall, "1.0.0.1");
    fs.add_exe(kDownload, "1.0.0.2");
    view.captions[Caption::Destination] = "  " + kInstall + "\\  ";
    view.captions[Caption::Source] = kDownload + "\\ ";
    click();
    EXPECT_EQ(events(), (std::vector<std::string>{kSuccess, "exit"}));
    EXPECT_EQ(fs.files[kInstalledExe], fs.files[kDownloadedExe]);
}

TEST(FolderText, PathDerivationAndTrimming) {
    EXPECT_EQ(TargetExePath("C:\\A"), "C:\\A\\tervan58.exe");
    EXPECT_EQ(TargetExePath("D:\\"), "D:\\tervan58.exe");
    EXPECT_EQ(TargetExePath(""), "\\tervan58.exe");
    EXPECT_EQ(TrimBlanks("  a b  "), "a b");
    EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t"); // only blanks are trimmed
    EXPECT_EQ(TrimBlanks("    "), "");
}

TEST(FileIsPresent, ProbesByOpeningAndIgnoresATrailingBackslash) {
    MemoryFileSystem fs;
    fs.add_exe("C:\\A", "1.0.0.1");
    EXPECT_FALSE(FileIsPresent(fs, ""));
    const std::string file = "C:\\A\\tervan58.exe";
    EXPECT_TRUE(FileIsPresent(fs, file));
    EXPECT_TRUE(FileIsPresent(fs, file));
    EXPECT_TRUE(FileIsPresent(fs, file + "\\"));
    EXPECT_FALSE(FileIsPresent(fs, "C:\\A\\"));
    fs.unreadable.insert(file);
    EXPECT_FALSE(FileIsPresent(fs, file));
}

} // namespace
} // namespace tervan::testing
