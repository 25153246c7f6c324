#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "platform/win32/settings.hpp"
#include "platform/win32/text.hpp"
#include "tests/win32/test_support.hpp"

namespace tervan {
namespace {

// Each test writes under its own application name, never under Tervan58's.
class ProgramSettingTest : public ::testing::Test {
protected:
    const std::string app = "TervanTest" + std::to_string(GetCurrentProcessId());
    const std::wstring app_key = L"Software\\VB and VBA Program Settings\\" + Widen(app);
    const testing::NewRegistryKeys new_keys{HKEY_CURRENT_USER, app_key};
    HKEY section = nullptr;

    void SetUp() override {
        // Wine reuses process ids: clear what an interrupted run may have left.
        TearDown();
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (app_key + L"\\Section").c_str(), 0, nullptr,
                                  0, KEY_SET_VALUE, nullptr, &section, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (section != nullptr) RegCloseKey(section);
        section = nullptr;
        RegDeleteTreeW(HKEY_CURRENT_USER, app_key.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, (app_key + L"Missing").c_str());
    }

    void Store(const std::wstring& name, DWORD type, const void* data, DWORD bytes) {
        ASSERT_EQ(
            RegSetValueExW(section, name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes),
            ERROR_SUCCESS);
    }
    void StoreText(const std::string& name, const std::wstring& text, DWORD type = REG_SZ) {
        Store(Widen(name), type, text.c_str(),
              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    std::string Read(const std::string& name) { return ReadProgramSetting(app, "Section", name); }
};

TEST_F(ProgramSettingTest, TextComesBackExactlyAsStored) {
    const std::string values[] = {
        "  C:\\Program Files\\Tervan58  ",
        "C:\\ﾃﾙﾊﾞﾝ\\日本語のフォルダ",
        "D:\\Tervan58\\",
        "C:\\Ωμέγα 😀",
        "",
    };
    for (const auto& value : values) {
        StoreText("Key_Path", Widen(value));
        EXPECT_EQ(Read("Key_Path"), value);
    }
}

TEST_F(ProgramSettingTest, ExpandableTextIsNotExpanded) {
    StoreText("Key_Path", L"%SystemRoot%\\Tervan58", REG_EXPAND_SZ);
    EXPECT_EQ(Read("Key_Path"), "%SystemRoot%\\Tervan58");
}

TEST_F(ProgramSettingTest, MissingValueSectionOrApplicationIsEmpty) {
    StoreText("Other", L"x");
    EXPECT_EQ(Read("Key_Path"), "");
    EXPECT_EQ(ReadProgramSetting(app, "NoSuchSection", "Other"), "");
    EXPECT_EQ(ReadProgramSetting(app + "Missing", "Section", "Other"), "");
}

TEST_F(ProgramSettingTest, ReadingNeverCreatesAKey) {
    ReadProgramSetting(app + "Missing", "Section", "Key_Path");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (app_key + L"Missing").c_str(), 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    if (key != nullptr) RegCloseKey(key);
}

TEST_F(ProgramSettingTest, ValuesThatAreNotTextAreEmpty) {
    const DWORD number = 0x00430043; // "CC" if it were read as UTF-16
    Store(L"Dword", REG_DWORD, &number, sizeof number);
    const wchar_t text_bytes[] = L"C:\\Tervan58";
    Store(L"Binary", REG_BINARY, text_bytes, sizeof text_bytes);
    const wchar_t multi[] = L"C:\\A\0C:\\B\0";
    Store(L"Multi", REG_MULTI_SZ, multi, sizeof multi);
    EXPECT_EQ(Read("Dword"), "");
    EXPECT_EQ(Read("Binary"), "");
    EXPECT_EQ(Read("Multi"), "");
}

TEST_F(ProgramSettingTest, DataWithoutProperEndStopsAtItsLastCharacter) {
    // A buffer whose bytes run on past the stored length: none of them may show.
    const wchar_t text[] = L"C:\\TervanXYZ";
    Store(L"NoNul", REG_SZ, text, 9 * sizeof(wchar_t)); // "C:\Tervan", no NUL
    Store(L"Odd", REG_SZ, text, 9 * sizeof(wchar_t) + 1);
    Store(L"HalfOnly", REG_SZ, text, 1);
    const wchar_t embedded[] = L"C:\\A\0C:\\B";
    Store(L"Embedded", REG_SZ, embedded, sizeof embedded);
    EXPECT_EQ(Read("NoNul"), "C:\\Tervan");
    EXPECT_EQ(Read("Odd"), "C:\\Tervan");
    EXPECT_EQ(Read("HalfOnly"), "");
    EXPECT_EQ(Read("Embedded"), "C:\\A");
}

TEST_F(ProgramSettingTest, LongestValueIsReadWhole) {
    std::wstring text(32767, L'x');
    for (std::size_t i = 0; i < text.size(); i += 100)
        text[i] = L'ﾃ';
    StoreText("Key_Path", text);
    EXPECT_EQ(Read("Key_Path"), Narrow(text));
    // Unterminated too: the size query must not rely on a NUL.
    Store(L"NoNul", REG_SZ, text.c_str(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    EXPECT_EQ(Read("NoNul"), Narrow(text));
}

} // namespace
} // namespace tervan
