// The access screen in front of the update window, driven through the real
// program: which entries let the user in, what a wrong one costs, and how the
// screen ends the program.
#include <memory>

#include <oleacc.h>

#include "tests/e2e/scenario.hpp"

namespace tervan::e2e {
namespace {

namespace ids = expected::access_screen;

class AccessScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(BuiltUpdater().empty()) << "TERVAN_UPDATER_EXE names no updater";
        box.put_tervan58(install, {1, 0, 0, 1}, 1);
        downloaded = box.put_tervan58(download, {1, 0, 0, 2}, 2);
        ASSERT_TRUE(setting.set_text(install));
        exe = box.put_updater(download);
        ASSERT_FALSE(exe.empty());
        run = std::make_unique<UpdaterRun>(exe, download);
        ASSERT_TRUE(run->wait_access_screen());
    }

    // One wrong entry, its message answered.
    ::testing::AssertionResult enter_wrong_code() {
        if (!run->access.type(ids::kEntry, L"123456") || !run->access.click(ids::kStart))
            return ::testing::AssertionFailure() << "could not post the entry";
        return run->answer_message(expected::kWrongCode, expected::kAccessTitle);
    }

    // Marks, entry and focus after `count` wrong entries. The focus comes back
    // to the entry in the program's own time after its message box has gone.
    void expect_marked(int count) {
        SCOPED_TRACE(count);
        std::wstring marks;
        for (int i = 0; i < count; ++i)
            marks += L"* ";
        EXPECT_TRUE(run->shows(run->access, ids::kMarks, marks));
        EXPECT_TRUE(run->shows(run->access, ids::kEntry, L""));
        const HWND entry = run->access.control(ids::kEntry);
        EXPECT_TRUE(PollUntil([&] { return run->access.focus() == entry; }))
            << "the focus is on " << run->access.focus() << ", not on the entry";
        ASSERT_TRUE(run->idle(run->access));
    }

    Sandbox box;
    InstallFolderSetting setting;
    const std::string install = box.folder("TERVAN58");
    const std::string download = box.folder("ﾀﾞｳﾝﾛｰﾄﾞ");
    std::string downloaded;
    std::string exe;
    std::unique_ptr<UpdaterRun> run;
};

struct Entry {
    const char* name;
    const wchar_t* text;
};

void PrintTo(const Entry& entry, std::ostream* out) {
    *out << Printable(entry.text);
}

std::string EntryName(const ::testing::TestParamInfo<Entry>& info) {
    return info.param.name;
}

class AcceptedSpellingTest : public AccessScreenTest,
                             public ::testing::WithParamInterface<Entry> {};

TEST_P(AcceptedSpellingTest, OpensTheUpdateWindow) {
    ASSERT_TRUE(run->access.type(ids::kEntry, GetParam().text));
    ASSERT_TRUE(run->access.click(ids::kStart));
    ASSERT_TRUE(run->wait_update_window());
    EXPECT_FALSE(run->access.exists());
    ASSERT_TRUE(run->idle(run->update));
    EXPECT_TRUE(SameText(run->update.title(), expected::UpdateWindowTitle()));
}

// Only the wiring: the engine's own suite reads every spelling. The entry is
// passed whole, blanks and all.
INSTANTIATE_TEST_SUITE_P(Entries, AcceptedSpellingTest,
                         ::testing::Values(Entry{"BlanksAround", L"  503816 "},
                                           Entry{"Hex", L"&H7B008"}),
                         EntryName);

class RejectedEntryTest : public AccessScreenTest, public ::testing::WithParamInterface<Entry> {};

TEST_P(RejectedEntryTest, IsAWrongCode) {
    ASSERT_TRUE(run->access.type(ids::kEntry, GetParam().text));
    ASSERT_TRUE(run->access.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kWrongCode, expected::kAccessTitle));
    expect_marked(1);
}

INSTANTIATE_TEST_SUITE_P(Entries, RejectedEntryTest,
                         ::testing::Values(Entry{"Empty", L""}, Entry{"NextNumber", L"503817"}),
                         EntryName);

TEST_F(AccessScreenTest, EachWrongEntryAddsAMarkAndClearsTheEntry) {
    for (int count = 1; count <= 5; ++count) {
        ASSERT_TRUE(enter_wrong_code());
        expect_marked(count);
    }
    // Five wrong entries are tolerated: the right code still lets the user in.
    ASSERT_TRUE(run->access.type(ids::kEntry, expected::kAccessCode));
    ASSERT_TRUE(run->access.click(ids::kStart));
    ASSERT_TRUE(run->wait_update_window());
}

TEST_F(AccessScreenTest, SixthWrongEntryEndsTheProgram) {
    for (int count = 1; count <= 5; ++count)
        ASSERT_TRUE(enter_wrong_code());
    ASSERT_TRUE(run->access.type(ids::kEntry, L"999999"));
    ASSERT_TRUE(run->access.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kWrongCode, expected::kAccessTitle));
    ASSERT_TRUE(run->answer_message(expected::kWrongCodeEnd, expected::kAccessTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install).at("tervan58.exe"), Tervan58Bytes({1, 0, 0, 1}, 1));
}

TEST_F(AccessScreenTest, EnterInTheEntryIsTheStartButton) {
    ASSERT_TRUE(run->access.type(ids::kEntry, L"111"));
    ASSERT_TRUE(run->access.press_enter(ids::kEntry));
    ASSERT_TRUE(run->answer_message(expected::kWrongCode, expected::kAccessTitle));
    expect_marked(1);

    ASSERT_TRUE(run->access.type(ids::kEntry, expected::kAccessCode));
    ASSERT_TRUE(run->access.press_enter(ids::kEntry));
    ASSERT_TRUE(run->wait_update_window());
    ASSERT_TRUE(run->idle(run->update));
}

TEST_F(AccessScreenTest, EntryHoldsAtMostTenTypedCharacters) {
    ASSERT_TRUE(run->access.type_now(ids::kEntry, L"123456789012"));
    EXPECT_TRUE(SameText(run->access.text(ids::kEntry), L"1234567890"));
}

TEST_F(AccessScreenTest, EntryHoldsAtMostTenPastedCharacters) {
    ASSERT_TRUE(run->access.paste(ids::kEntry, L"abcdefghijkl"));
    EXPECT_TRUE(SameText(run->access.text(ids::kEntry), L"abcdefghij"));
    // Into a partly filled entry, only what still fits.
    ASSERT_TRUE(run->access.click(ids::kStart));
    ASSERT_TRUE(run->answer_message(expected::kWrongCode, expected::kAccessTitle));
    expect_marked(1);
    ASSERT_TRUE(run->access.type_now(ids::kEntry, L"1234567"));
    ASSERT_TRUE(run->access.paste(ids::kEntry, L"89012"));
    EXPECT_TRUE(SameText(run->access.text(ids::kEntry), L"1234567890"));
}

TEST_F(AccessScreenTest, PastedCodeLetsTheUserIn) {
    ASSERT_TRUE(run->access.paste(ids::kEntry, expected::kAccessCode));
    ASSERT_TRUE(run->access.click(ids::kStart));
    ASSERT_TRUE(run->wait_update_window());
}

TEST_F(AccessScreenTest, CancelEndsTheProgram) {
    ASSERT_TRUE(run->access.type(ids::kEntry, expected::kAccessCode));
    ASSERT_TRUE(run->access.click(ids::kCancel));
    ASSERT_TRUE(run->exits(0));
}

TEST_F(AccessScreenTest, CloseBoxEndsTheProgram) {
    ASSERT_TRUE(run->access.close());
    ASSERT_TRUE(run->exits(0));
}

TEST_F(AccessScreenTest, SecondCopyEndsAtOnceWithoutAWindow) {
    Process second(Wide(exe), Wide(download));
    ASSERT_TRUE(second.started());
    bool window_seen = false;
    ASSERT_TRUE(PollUntil([&] {
        window_seen = window_seen || !VisibleTopLevel(second.pid()).empty();
        return !second.running();
    })) << "the second copy did not end";
    EXPECT_FALSE(window_seen);
    EXPECT_EQ(second.wait_exit(), 0u);

    // The first copy is unharmed and still lets the user in.
    ASSERT_TRUE(run->idle(run->access));
    ASSERT_TRUE(run->access.type(ids::kEntry, expected::kAccessCode));
    ASSERT_TRUE(run->access.click(ids::kStart));
    ASSERT_TRUE(run->wait_update_window());
}

TEST_F(AccessScreenTest, SecondCopyEndsWhileTheUpdateWindowIsOpen) {
    ASSERT_TRUE(run->open_update_window());
    Process second(Wide(exe), Wide(download));
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.wait_exit(), 0u);
    ASSERT_TRUE(run->idle(run->update));
}

// Keyboard only: Enter both sends the entry and dismisses the message, and neither
// key press may count twice.
TEST_F(AccessScreenTest, KeyboardOnlyWrongEntryCountsOnce) {
    const HWND entry = run->access.control(ids::kEntry);
    ASSERT_TRUE(PollUntil([&] { return run->access.focus() == entry; }));
    ASSERT_TRUE(SendKeys(run->access.hwnd(), L"111"));
    ASSERT_TRUE(PollUntil([&] { return run->access.text(ids::kEntry) == L"111"; }));
    ASSERT_TRUE(SendEnter(run->access.hwnd()));
    const auto box = WaitMessageBox(run->pid());
    ASSERT_TRUE(box);
    EXPECT_TRUE(SameText(box->prompt, expected::kWrongCode));
    ASSERT_TRUE(SendEnter(box->hwnd));
    ASSERT_TRUE(WaitGone(box->hwnd));
    expect_marked(1);

    ASSERT_TRUE(SendKeys(run->access.hwnd(), expected::kAccessCode));
    ASSERT_TRUE(PollUntil([&] { return run->access.text(ids::kEntry) == expected::kAccessCode; }))
        << Printable(run->access.text(ids::kEntry));
    // The keys came through the input queue after the Enter that closed the box:
    // had that Enter counted twice, it would have done so by now.
    EXPECT_TRUE(SameText(run->access.text(ids::kMarks), L"* "));
    EXPECT_FALSE(FindDialog(run->pid()));
    ASSERT_TRUE(SendEnter(run->access.hwnd()));
    ASSERT_TRUE(run->wait_update_window());
    ASSERT_TRUE(run->idle(run->update));
}

// What a screen reader announces for a control, asked from this process as a
// screen reader asks: the Active Accessibility name, or why there is none.
std::wstring AccessibleName(HWND control) {
    IAccessible* object = nullptr;
    const HRESULT got = AccessibleObjectFromWindow(control, OBJID_CLIENT, __uuidof(IAccessible),
                                                   reinterpret_cast<void**>(&object));
    if (FAILED(got)) return L"(no accessible object: " + std::to_wstring(got) + L")";
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::wstring result = L"(no name)";
    if (object->get_accName(self, &name) == S_OK && name) result = name;
    SysFreeString(name);
    object->Release();
    return result;
}

// Screen readers name an entry or a field after the label just before it in
// window order, and a button after its text without the "&".
TEST_F(AccessScreenTest, EveryControlHasAnAccessibleName) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(run->idle(run->access));
    const auto expect_name = [](const Window& window, int id, const wchar_t* name) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(SameText(AccessibleName(window.control(id)), name));
    };
    expect_name(run->access, ids::kEntry, L"ﾊﾟｽﾜｰﾄﾞ入力(TERVAN58で使用するﾊﾟｽﾜｰﾄﾞ)");
    expect_name(run->access, ids::kStart, L"開始(G)");
    expect_name(run->access, ids::kCancel, L"中止(C)");

    ASSERT_TRUE(run->access.type(ids::kEntry, expected::kAccessCode));
    ASSERT_TRUE(run->access.click(ids::kStart));
    ASSERT_TRUE(run->wait_update_window());
    ASSERT_TRUE(run->idle(run->update));
    namespace update = expected::update_window;
    expect_name(run->update, update::kExit, L"終了");
    expect_name(run->update, update::kStart, L"ｱｯﾌﾟﾃﾞｰﾄを開始");
    expect_name(run->update, update::kLookUp, L"ｺﾋﾟｰ先の検索");
    expect_name(run->update, update::kBrowse, L"参照");
    expect_name(run->update, update::kDestination, L"[TERVAN58]ｲﾝｽﾄｰﾙﾌｫﾙﾀﾞ名（ｺﾋﾟｰ先）");
    expect_name(run->update, update::kSource, L"ﾀﾞｳﾝﾛｰﾄﾞした、格納ﾌｫﾙﾀﾞ（ｺﾋﾟｰ元）");
    if (SUCCEEDED(com)) CoUninitialize();
}

// As a user does it: the code typed on the keyboard, Enter, then the update.
TEST_F(AccessScreenTest, KeyboardCodeThenUpdate) {
    ASSERT_TRUE(PollUntil([&] { return run->access.focus() == run->access.control(ids::kEntry); }))
        << "the entry never had the focus";
    ASSERT_TRUE(SendKeys(run->access.hwnd(), expected::kAccessCode));
    ASSERT_TRUE(PollUntil([&] { return run->access.text(ids::kEntry) == expected::kAccessCode; }))
        << Printable(run->access.text(ids::kEntry));
    ASSERT_TRUE(SendEnter(run->access.hwnd()));
    ASSERT_TRUE(run->wait_update_window());
    ASSERT_TRUE(run->idle(run->update));

    ASSERT_TRUE(run->update.click(expected::update_window::kStart));
    ASSERT_TRUE(run->answer_message(expected::kSuccess, expected::kUpdateTitle));
    ASSERT_TRUE(run->exits(0));
    EXPECT_EQ(Contents(install), (FolderContents{{"tervan58.exe", downloaded}}));
}

} // namespace
} // namespace tervan::e2e
