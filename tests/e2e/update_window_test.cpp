// The update window, driven through the real program: what it shows, and what
// each button does to the files, to the window and to the process.
#include <memory>

#include "tests/e2e/scenario.hpp"

namespace tervan::e2e {
namespace {

namespace ids = expected::update_window;

class UpdateWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(BuiltUpdater().empty()) << "TERVAN_UPDATER_EXE names no updater";
    }

    // The updater copied into `folder` and started there.
    std::unique_ptr<UpdaterRun> start_from(const std::string& folder,
                                           const std::string& working_folder = {}) {
        const std::string exe = box.put_updater(folder);
        EXPECT_FALSE(exe.empty()) << "could not copy the updater into " << folder;
        return std::make_unique<UpdaterRun>(exe, working_folder.empty() ? folder : working_folder);
    }

    // Folder names as users have them: blanks, brackets, Japanese, "&".
    Sandbox box;
    InstallFolderSetting setting;
    const std::string install = box.folder("Program Files (x86)\\TERVAN58");
    const std::string download = box.folder("ﾀﾞｳﾝﾛｰﾄﾞ & 新版");
};

TEST_F(UpdateWindowTest, LoadShowsFoldersVersionsAndTitle) {
    box.put_tervan58(install, {1, 2, 3, 4}, 1);
    box.put_tervan58(download, {1, 2, 3, 5}, 2);
    ASSERT_TRUE(setting.set_text(install));
    // Started with another current folder: the download folder is where the
    // updater itself lies.
    auto run = start_from(download, box.folder("elsewhere"));
    ASSERT_TRUE(run->open_update_window());

    EXPECT_TRUE(SameText(run->update.title(), expected::UpdateWindowTitle()));
    EXPECT_TRUE(SameText(run->update.text(ids::kDestination), install));
    EXPECT_TRUE(SameText(run->update.text(ids::kSource), download));
    EXPECT_TRUE(SameText(run->update.text(ids::kSourceVersion), L"Ver"));
    EXPECT_TRUE(SameText(run->update.text(ids::kInstalledVersion), L"Ver.1.2.3.4"));
    EXPECT_TRUE(run->idle(run->update));
    // The common controls are loaded at run time, by name, so that the manifest still
    // picks version 6 from WinSxS rather than version 5 from the system folder. (Windows
    // spells it "WinSxS", Wine "winsxs".)
    std::wstring comctl32 = LoadedModule(run->pid(), L"comctl32.dll");
    CharLowerBuffW(comctl32.data(), static_cast<DWORD>(comctl32.size()));
    EXPECT_NE(comctl32.find(L"\\winsxs\\"), std::wstring::npos) << Printable(comctl32);
}

TEST_F(UpdateWindowTest, NewerDownloadReplacesTheInstalledFileAndEnds) {
    // Files of several MiB, the old one longer than the new one: the copy works in
    // parts and must not leave the old file's tail behind.
    box.put_tervan58(install, {1, 0, 0, 1}, 1, 3300000);
    const std::string downloaded = box.put_tervan58(download, {1, 0, 0, 2}, 2, 1572870);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    const FolderContents download_before = Contents(download);

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    // No second message: the program ends right after the first.
    ASSERT_TRUE(run->exits(0));

    // Exactly the downloaded bytes, and no temporary file left beside them.
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
    EXPECT_EQ(Contents(download), download_before);
}

// A browser saves whatever it downloads into the same folder, a version.dll too.
// Windows looks there first for any DLL that is not a KnownDLL; the updater must read
// versions through the system's own version.dll all the same. (Wine's user32 links
// version.dll, so the look-alike may be loaded anyway, marking itself; what counts is
// that the program does not use it.)
TEST_F(UpdateWindowTest, VersionDllInTheDownloadFolderIsNotUsed) {
    const std::string planted = BuiltBesideUpdater("planted\\version.dll");
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    const std::string downloaded = box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(CopyFileW(Wide(planted).c_str(), Wide(download + "\\version.dll").c_str(), FALSE))
        << "no look-alike at " << planted;
    ASSERT_TRUE(setting.set_text(install));
    // Without this Wine always takes its own version.dll; with it Wine, like Windows,
    // takes the one beside the exe. (Wine reads WINEDLLOVERRIDES only from the Unix
    // side, so a child started from here would not see it; this key it reads.)
    const RegistryValue native_first(
        HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\tervan58-updater.exe\\DllOverrides",
        L"version");
    ASSERT_TRUE(native_first.set_text("native,builtin"));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    EXPECT_TRUE(SameText(run->update.text(ids::kInstalledVersion), L"Ver.1.0.0.1"));

    // The update goes ahead only when both versions were read.
    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
}

// A signed install and a download that another publisher signed: the check's own
// message, nothing copied, and the window stays with both versions in view.
TEST_F(UpdateWindowTest, SignedInstallRefusesAnotherPublishersDownload) {
    const auto installed = testing::GetBytes(BuiltBesideUpdater("signed\\installed.exe"));
    const auto foreign = testing::GetBytes(BuiltBesideUpdater("signed\\other.exe"));
    ASSERT_TRUE(installed && foreign) << "no signed fixtures beside the updater";
    ASSERT_TRUE(testing::PutBytes(install + "\\tervan58.exe", *installed));
    ASSERT_TRUE(testing::PutBytes(download + "\\tervan58.exe", *foreign));
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kUnknownPublisher, expected::kCheckTitle));
    EXPECT_TRUE(run->idle(run->update));
    EXPECT_TRUE(SameText(run->update.text(ids::kSourceVersion), L"Ver.1.0.0.2"));
    EXPECT_TRUE(SameText(run->update.text(ids::kInstalledVersion), L"Ver.1.0.0.1"));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", *installed}}));
}

// A run that was cut off (power failure, killed) may have left its temporary copy.
TEST_F(UpdateWindowTest, LeftoverOfAnInterruptedUpdateIsCleanedUp) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    ASSERT_TRUE(testing::PutBytes(install + "\\tervan58.exe.updating", "half a copy"));
    const std::string downloaded = box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
}

TEST_F(UpdateWindowTest, VersionPartsCompareAsNumbers) {
    box.put_tervan58(install, {1, 0, 0, 9}, 1);
    const std::string downloaded = box.put_tervan58(download, {1, 0, 0, 10}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    EXPECT_TRUE(SameText(run->update.text(ids::kInstalledVersion), L"Ver.1.0.0.9"));

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
}

TEST_F(UpdateWindowTest, MissingInstalledFileIsPutInPlace) {
    const std::string downloaded = box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    EXPECT_TRUE(SameText(run->update.text(ids::kInstalledVersion), L"Ver."));

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
}

TEST_F(UpdateWindowTest, ReadOnlyInstalledFileIsACopyFailure) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(testing::SetReadOnly(install + "\\tervan58.exe", true));
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    const FolderContents install_before = Contents(install);

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kCopyFailed, expected::kUpdateTitle));
    ASSERT_TRUE(run->idle(run->update));
    EXPECT_EQ(Contents(install), install_before);
    EXPECT_NE(GetFileAttributesW(testing::Literal(install + "\\tervan58.exe").c_str()) &
                  FILE_ATTRIBUTE_READONLY,
              0u);
}

// A broken download, for instance one cut short, has no version to compare.
TEST_F(UpdateWindowTest, DownloadWithoutVersionIsRefused) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    const std::string broken = Tervan58Bytes({9, 0, 0, 0}, 2).substr(0, 700);
    ASSERT_TRUE(testing::PutBytes(download + "\\tervan58.exe", broken));
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    const FolderContents install_before = Contents(install);

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kNotNewer, expected::kUpdateTitle));
    ASSERT_TRUE(run->idle(run->update));
    EXPECT_TRUE(SameText(run->update.text(ids::kSourceVersion), L"Ver."));
    EXPECT_TRUE(SameText(run->update.text(ids::kInstalledVersion), L"Ver.1.0.0.1"));
    EXPECT_EQ(Contents(install), install_before);
}

struct Refusal {
    const char* name;
    Version installed, downloaded;
    const wchar_t* installed_label;
    const wchar_t* downloaded_label;
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
    *out << refusal.name;
}

class NotNewerTest : public UpdateWindowTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(NotNewerTest, IsRefusedAndTheWindowStays) {
    const Refusal& r = GetParam();
    box.put_tervan58(install, r.installed, 1);
    box.put_tervan58(download, r.downloaded, 2); // other bytes even when the version is equal
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    const FolderContents install_before = Contents(install), download_before = Contents(download);

    // Twice: a refusal leaves the window as ready as before.
    for (int click = 0; click < 2; ++click) {
        SCOPED_TRACE(click);
        ASSERT_TRUE(run->update.click(ids::kStart));
        ASSERT_TRUE(run->answer_message(expected::kNotNewer, expected::kUpdateTitle));
        ASSERT_TRUE(run->idle(run->update));
        EXPECT_TRUE(SameText(run->update.text(ids::kSourceVersion), r.downloaded_label));
        EXPECT_TRUE(SameText(run->update.text(ids::kInstalledVersion), r.installed_label));
    }
    EXPECT_EQ(Contents(install), install_before);
    EXPECT_EQ(Contents(download), download_before);
}

INSTANTIATE_TEST_SUITE_P(
    SameOrOlder, NotNewerTest,
    ::testing::Values(
        Refusal{"Equal", {1, 0, 0, 5}, {1, 0, 0, 5}, L"Ver.1.0.0.5", L"Ver.1.0.0.5"},
        Refusal{"OlderRevision", {1, 0, 0, 5}, {1, 0, 0, 4}, L"Ver.1.0.0.5", L"Ver.1.0.0.4"},
        Refusal{"OlderMajor", {2, 0, 0, 0}, {1, 99, 99, 99}, L"Ver.2.0.0.0", L"Ver.1.99.99.99"},
        Refusal{"FewerDigits", {1, 0, 0, 10}, {1, 0, 0, 9}, L"Ver.1.0.0.10", L"Ver.1.0.0.9"}),
    [](const auto& info) { return std::string(info.param.name); });

// The installed file open in another process, readable by others (or not at
// all) but neither writable nor deletable.
class LockedTest : public UpdateWindowTest, public ::testing::WithParamInterface<DWORD> {};

TEST_P(LockedTest, InstalledFileStaysIntactUntilItIsFree) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    const std::string downloaded = box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    const FolderContents install_before = Contents(install);
    {
        testing::HeldFile held(install + "\\tervan58.exe", GetParam());
        ASSERT_TRUE(held.holding());
        ASSERT_TRUE(run->update.click(ids::kStart));
        ASSERT_TRUE(run->answer_message(expected::kCopyFailed, expected::kUpdateTitle));
        ASSERT_TRUE(run->idle(run->update));
    }
    // Looked at once it is free: without sharing, not even this test may read it.
    EXPECT_EQ(Contents(install), install_before);
    // Once the other process has let go, the same window updates.
    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
}

INSTANTIATE_TEST_SUITE_P(ShareModes, LockedTest,
                         ::testing::Values(DWORD{FILE_SHARE_READ}, DWORD{0}), [](const auto& info) {
                             return std::string(info.param ? "ReadSharing" : "NoSharing");
                         });

// What the red line on the window warns about: Tervan58 still running. It is named
// at once, before anything is copied, and the update works once it has ended.
TEST_F(UpdateWindowTest, RunningTervan58IsNamedAndNotReplaced) {
    // This test program stands in for Tervan58; it has no version resource, so
    // the update goes ahead until that check.
    const std::string installed_exe = install + "\\tervan58.exe";
    ASSERT_TRUE(CopyFileW(Wide(testing::SelfPath()).c_str(), Wide(installed_exe).c_str(), FALSE));
    const std::string downloaded = box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    const FolderContents install_before = Contents(install);

    testing::Event ready, release;
    {
        testing::Child tervan58({"--wait", ready.name(), release.name()}, installed_exe);
        ASSERT_TRUE(tervan58.started());
        ASSERT_TRUE(ready.wait());
        ASSERT_TRUE(run->update.click(ids::kStart));
        ASSERT_TRUE(run->answer_message(expected::kTervan58Running, expected::kCheckTitle));
        ASSERT_TRUE(run->idle(run->update));
        EXPECT_EQ(Contents(install), install_before);
        release.set();
        ASSERT_EQ(tervan58.wait(), 0u);
    }
    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
}

// A damaged installation: its file has no version, any download is newer.
TEST_F(UpdateWindowTest, InstalledFileWithoutVersionIsReplaced) {
    ASSERT_TRUE(testing::PutBytes(install + "\\tervan58.exe", "MZ damaged"));
    const std::string downloaded = box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    EXPECT_TRUE(SameText(run->update.text(ids::kInstalledVersion), L"Ver."));

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
}

TEST_F(UpdateWindowTest, RunFromTheInstallFolderAsksForTheDownloadFolder) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(install);
    ASSERT_TRUE(run->open_update_window());
    ASSERT_TRUE(SameText(run->update.text(ids::kSource), install));
    const FolderContents install_before = Contents(install);

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSameFolder, expected::kUpdateTitle));
    std::optional<FolderBrowser> browser;
    ASSERT_TRUE(run->wait_browser(browser));
    EXPECT_TRUE(SameText(run->update.text(ids::kSource), L""));
    ASSERT_TRUE(browser->cancel());
    ASSERT_TRUE(run->idle(run->update));
    EXPECT_TRUE(SameText(run->update.text(ids::kSource), L""));

    // With no source folder left, the next click asks for one again.
    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kNoSource, expected::kUpdateTitle));
    ASSERT_TRUE(run->wait_browser(browser));
    ASSERT_TRUE(browser->cancel());
    ASSERT_TRUE(run->idle(run->update));
    EXPECT_TRUE(SameText(run->update.text(ids::kSource), L""));
    EXPECT_EQ(Contents(install), install_before);
}

TEST_F(UpdateWindowTest, MissingDownloadIsChosenInTheFolderBrowser) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    const std::string other = box.folder("USB\\新しいﾌｫﾙﾀﾞｰ");
    const std::string downloaded = box.put_tervan58(other, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download); // only the updater lies there
    ASSERT_TRUE(run->open_update_window());

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kNoSourceFile, expected::kUpdateTitle));
    std::optional<FolderBrowser> browser;
    ASSERT_TRUE(run->wait_browser(browser));
    ASSERT_TRUE(browser->pick(run->process().handle(), Wide(other)));
    ASSERT_TRUE(run->idle(run->update));
    ASSERT_TRUE(SameText(run->update.text(ids::kSource), other));

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
    EXPECT_EQ(Contents(other), (FolderContents{{"tervan58.exe", downloaded}}));
}

TEST_F(UpdateWindowTest, BrowseButtonChangesTheSourceOnlyWhenAFolderIsChosen) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    box.put_tervan58(download, {1, 0, 0, 2}, 2);
    const std::string other = box.folder("other");
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());

    ASSERT_TRUE(run->update.click(ids::kBrowse));
    std::optional<FolderBrowser> browser;
    ASSERT_TRUE(run->wait_browser(browser));
    ASSERT_TRUE(browser->cancel());
    ASSERT_TRUE(run->idle(run->update));
    EXPECT_TRUE(SameText(run->update.text(ids::kSource), download));

    ASSERT_TRUE(run->update.click(ids::kBrowse));
    ASSERT_TRUE(run->wait_browser(browser));
    ASSERT_TRUE(browser->pick(run->process().handle(), Wide(other)));
    ASSERT_TRUE(run->idle(run->update));
    EXPECT_TRUE(SameText(run->update.text(ids::kSource), other));
}

TEST_F(UpdateWindowTest, LookUpReadsTheSettingAgain) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    const std::string moved = box.folder("D-drive\\TERVAN58");
    box.put_tervan58(moved, {1, 0, 0, 1}, 3);
    const std::string downloaded = box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    ASSERT_TRUE(SameText(run->update.text(ids::kDestination), install));
    const FolderContents install_before = Contents(install);

    // Tervan58 was installed again elsewhere while the window was open.
    ASSERT_TRUE(setting.set_text(moved));
    ASSERT_TRUE(run->update.click(ids::kLookUp));
    EXPECT_TRUE(run->shows(run->update, ids::kDestination, Wide(moved)));
    ASSERT_TRUE(run->idle(run->update));

    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(moved), (FolderContents{{"tervan58.exe", downloaded}}));
    EXPECT_EQ(Contents(install), install_before);
}

TEST_F(UpdateWindowTest, LookUpWithTheSettingGoneEmptiesTheDestination) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    const FolderContents install_before = Contents(install);

    ASSERT_TRUE(setting.remove());
    ASSERT_TRUE(run->update.click(ids::kLookUp));
    EXPECT_TRUE(run->shows(run->update, ids::kDestination, L""));
    ASSERT_TRUE(run->idle(run->update));
    ASSERT_TRUE(run->update.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kNoDestination, expected::kCheckTitle));
    ASSERT_TRUE(run->idle(run->update));
    EXPECT_EQ(Contents(install), install_before);
}

TEST_F(UpdateWindowTest, ExitButtonEndsTheProgramAndTouchesNothing) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    const FolderContents install_before = Contents(install), download_before = Contents(download);

    ASSERT_TRUE(run->update.click(ids::kExit));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), install_before);
    EXPECT_EQ(Contents(download), download_before);
}

TEST_F(UpdateWindowTest, CloseBoxEndsTheProgram) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    const FolderContents install_before = Contents(install);

    ASSERT_TRUE(run->update.close());
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), install_before);
}

// ---------------------------------------------------------------------------
// A virus scanner looks at the installed file for a moment, without letting anyone
// delete it, just as the update renames over it: the update waits and succeeds.
TEST_F(UpdateWindowTest, InstalledFileHeldForAMomentIsWaitedFor) {
    box.put_tervan58(install, {1, 0, 0, 1}, 1);
    const std::string downloaded = box.put_tervan58(download, {1, 0, 0, 2}, 2);
    ASSERT_TRUE(setting.set_text(install));
    auto run = start_from(download);
    ASSERT_TRUE(run->open_update_window());
    {
        testing::HeldFile held(install + "\\tervan58.exe", FILE_SHARE_READ);
        ASSERT_TRUE(held.holding());
        ASSERT_TRUE(run->update.click(ids::kStart));
        Sleep(700);
    }
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
}

} // namespace
} // namespace tervan::e2e
