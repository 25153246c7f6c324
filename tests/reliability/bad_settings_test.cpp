// Install-folder settings as broken installers, cleaners and users leave them,
// through the real program: each gives the program's own answer (no install
// folder, a copy failure, not newer, or a normal update where the setting still
// names the install folder), the window stays usable, and nothing appears on disk
// where it should not.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include <windows.h>

#include "platform/win32/text.hpp"
#include "tests/e2e/scenario.hpp"
#include "tests/reliability/reliability_support.hpp"

namespace tervan::reliability {
namespace {

namespace ids = e2e::expected::update_window;
namespace expected = e2e::expected;

// The folders of one case.
struct Place {
    std::string root, install, download;
};

// What the program answers to the start button.
enum class Answer { NoDestination, CopyFailed, NotNewer, Updated };

struct SettingCase {
    const char* name;
    // Stores the setting (or removes it); false when that failed.
    std::function<bool(const Place&, const e2e::RegistryValue&)> store;
    // The install folder the window shows.
    std::function<std::string(const Place&)> shown;
    Answer answer;
    const wchar_t* installed_version; // the window's label for the installed file
};

void PrintTo(const SettingCase& c, std::ostream* out) {
    *out << c.name;
}

// A folder path of exactly 32,767 characters below `base`, in parts short enough
// for any file system, none of which exists.
std::string LongestPathBelow(const std::string& base) {
    std::string path = base + "\\deep";
    while (path.size() < 32767)
        path += "\\" + std::string(std::min<std::size_t>(200, 32767 - path.size() - 1), 'd');
    return path;
}

// A drive letter that names no drive.
std::string UnusedDrive() {
    const DWORD drives = GetLogicalDrives();
    for (char letter = 'Q'; letter <= 'Y'; ++letter)
        if ((drives & (1u << (letter - 'A'))) == 0) return std::string(1, letter) + ":";
    return "B:";
}

std::function<bool(const Place&, const e2e::RegistryValue&)>
Text(std::function<std::string(const Place&)> value) {
    return [value](const Place& p, const e2e::RegistryValue& v) { return v.set_text(value(p)); };
}

bool StoreWide(const e2e::RegistryValue& v, DWORD type, const std::wstring& text) {
    return v.write(type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::function<std::string(const Place&)> Literally(std::string text) {
    return [text](const Place&) { return text; };
}

const std::function<std::string(const Place&)> kNothingShown = Literally("");

std::string LongRealFolder(const Place& p) {
    return p.root + "\\long\\" + std::string(70, 'a') + "\\" + std::string(70, 'b') + "\\" +
           std::string(70, 'c') + "\\" + std::string(70, 'd') + "\\TERVAN58";
}

const SettingCase kCases[] = {
    {"Missing", [](const Place&, const e2e::RegistryValue& v) { return v.remove(); }, kNothingShown,
     Answer::NoDestination, L"Ver."},
    {"Empty", Text(Literally("")), kNothingShown, Answer::NoDestination, L"Ver."},
    {"BlanksOnly", Text(Literally("    ")), Literally("    "), Answer::NoDestination, L"Ver."},
    {"Dword",
     [](const Place&, const e2e::RegistryValue& v) {
         return v.set_dword(0x003A0043); // "C:" if it were read as UTF-16
     },
     kNothingShown, Answer::NoDestination, L"Ver."},
    // The install folder's very name, but stored as bytes: not a setting to follow.
    {"BinaryHoldingTheInstallFolder",
     [](const Place& p, const e2e::RegistryValue& v) {
         return StoreWide(v, REG_BINARY, Widen(p.install));
     },
     kNothingShown, Answer::NoDestination, L"Ver."},
    {"MultiStringHoldingTheInstallFolder",
     [](const Place& p, const e2e::RegistryValue& v) {
         return StoreWide(v, REG_MULTI_SZ, Widen(p.install) + L'\0');
     },
     kNothingShown, Answer::NoDestination, L"Ver."},
    // Shown and used as stored: relative to the updater's folder, so nowhere.
    {"ExpandableNotExpanded",
     [](const Place&, const e2e::RegistryValue& v) {
         return StoreWide(v, REG_EXPAND_SZ, L"%TEMP%\\TERVAN58");
     },
     Literally("%TEMP%\\TERVAN58"), Answer::CopyFailed, L"Ver."},
    {"LongestValueOnePart", Text(Literally("C:\\" + std::string(32764, 'a'))),
     Literally("C:\\" + std::string(32764, 'a')), Answer::CopyFailed, L"Ver."},
    {"LongestValueManyParts", Text([](const Place& p) { return LongestPathBelow(p.root); }),
     [](const Place& p) { return LongestPathBelow(p.root); }, Answer::CopyFailed, L"Ver."},
    {"FolderThatIsGone", Text([](const Place& p) { return p.root + "\\gone\\TERVAN58"; }),
     [](const Place& p) { return p.root + "\\gone\\TERVAN58"; }, Answer::CopyFailed, L"Ver."},
    {"DriveThatIsGone", Text([](const Place&) { return UnusedDrive() + "\\TERVAN58"; }),
     [](const Place&) { return UnusedDrive() + "\\TERVAN58"; }, Answer::CopyFailed, L"Ver."},
    {"CharactersWindowsForbidsAtTheRoot", Text(Literally("C:\\a<b>|c")), Literally("C:\\a<b>|c"),
     Answer::CopyFailed, L"Ver."},
    {"CharactersWindowsForbids", Text([](const Place& p) { return p.root + "\\a*b?c\"d"; }),
     [](const Place& p) { return p.root + "\\a*b?c\"d"; }, Answer::CopyFailed, L"Ver."},
    {"DeviceName", Text(Literally("NUL")), Literally("NUL"), Answer::CopyFailed, L"Ver."},
    {"TheInstalledFileItself", Text([](const Place& p) { return p.install + "\\tervan58.exe"; }),
     [](const Place& p) { return p.install + "\\tervan58.exe"; }, Answer::CopyFailed, L"Ver."},
    // The download folder under other spellings: the same file on both sides is never
    // newer than itself, so the download is not replaced by itself.
    {"DownloadFolderWithTrailingBackslash", Text([](const Place& p) { return p.download + "\\"; }),
     [](const Place& p) { return p.download + "\\"; }, Answer::NotNewer, L"Ver.1.0.0.2"},
    {"CurrentFolder", Text(Literally(".")), Literally("."), Answer::NotNewer, L"Ver.1.0.0.2"},
    {"TrailingBackslash", Text([](const Place& p) { return p.install + "\\"; }),
     [](const Place& p) { return p.install + "\\"; }, Answer::Updated, L"Ver.1.0.0.1"},
    {"LongerThanMaxPathButReal", Text(LongRealFolder), LongRealFolder, Answer::Updated,
     L"Ver.1.0.0.1"},
};

class BadSettingTest : public ::testing::TestWithParam<SettingCase> {
protected:
    e2e::Sandbox box;
    e2e::InstallFolderSetting setting; // put back as it was afterwards
};

TEST_P(BadSettingTest, ProgramAnswersAndLeavesNothingBehind) {
    const SettingCase& c = GetParam();
    ASSERT_FALSE(e2e::BuiltUpdater().empty()) << "TERVAN_UPDATER_EXE names no updater";
    Place place{box.root(), box.folder("TERVAN58"), box.folder("ﾀﾞｳﾝﾛｰﾄﾞ")};
    if (c.answer == Answer::Updated) {
        // The cases that update name a real folder: it exists, with the old file.
        const std::string folder = c.shown(place);
        const std::string relative = folder.substr(place.root.size() + 1);
        place.install = box.folder(relative.back() == '\\' ? relative.substr(0, relative.size() - 1)
                                                           : relative);
    }
    box.put_tervan58(place.install, {1, 0, 0, 1}, 1);
    const std::string new_bytes = box.put_tervan58(place.download, {1, 0, 0, 2}, 2);
    const std::string exe = box.put_updater(place.download);
    ASSERT_FALSE(exe.empty());
    ASSERT_TRUE(c.store(place, setting));
    const Tree before = TreeOf(place.root);
    const auto root_before = NamesIn("C:\\");

    e2e::UpdaterRun run(exe, place.download);
    ASSERT_TRUE(run.open_update_window());
    const std::wstring shown = run.update.text(ids::kDestination);
    const std::wstring expected_shown = Widen(c.shown(place));
    EXPECT_TRUE(shown == expected_shown)
        << "the window shows " << shown.size() << " characters "
        << e2e::Printable(shown.substr(0, 80)) << ", expected " << expected_shown.size() << " "
        << e2e::Printable(expected_shown.substr(0, 80));
    EXPECT_TRUE(e2e::SameText(run.update.text(ids::kInstalledVersion), c.installed_version));

    ASSERT_TRUE(run.update.click(ids::kStart));
    // Not asserted: whatever the program said, the disk is looked at below.
    switch (c.answer) {
    case Answer::NoDestination:
        EXPECT_TRUE(run.answer_message(expected::kNoDestination, expected::kCheckTitle));
        break;
    case Answer::CopyFailed:
        EXPECT_TRUE(run.answer_message(expected::kCopyFailed, expected::kUpdateTitle));
        break;
    case Answer::NotNewer:
        EXPECT_TRUE(run.answer_message(expected::kNotNewer, expected::kUpdateTitle));
        break;
    case Answer::Updated:
        EXPECT_TRUE(run.answer_message(expected::kSuccess, expected::kUpdateTitle));
        break;
    }
    if (c.answer == Answer::Updated) {
        EXPECT_TRUE(run.exits(0));
    } else {
        // Nothing else follows: no second message, no folder browser.
        EXPECT_TRUE(run.idle(run.update));
    }
    if (run.process().running()) {
        EXPECT_TRUE(run.update.click(ids::kExit));
        EXPECT_TRUE(run.exits(0));
    }

    Tree expected_after = before;
    if (c.answer == Answer::Updated) {
        const std::string relative = place.install.substr(place.root.size() + 1) + "\\tervan58.exe";
        expected_after[relative] = EntryFor(new_bytes);
    }
    EXPECT_EQ(TreeDifference(expected_after, TreeOf(place.root)), "");
    const auto root_after = NamesIn("C:\\");
    EXPECT_EQ(root_after, root_before);
    // What a failed case put at the root of drive C: is removed, so that it does not
    // hide the same fault from the next run in this Wine prefix.
    for (const std::string& name : root_after)
        if (std::find(root_before.begin(), root_before.end(), name) == root_before.end())
            DeleteFileW(Widen("C:\\" + name).c_str());
}

INSTANTIATE_TEST_SUITE_P(Settings, BadSettingTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tervan::reliability
