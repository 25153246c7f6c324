// What the user must see, written out here rather than taken from the program, so
// that a changed character in the program shows up as a failure.
#pragma once

#include <string>

namespace tervan::e2e::expected {

inline constexpr wchar_t kFormClass[] = L"Tervan58UpdaterForm";

inline constexpr wchar_t kAccessCode[] = L"503816";

// A control's fixed text.
struct ControlText {
    int id;
    const wchar_t* text;
};

// Control ids, the program's interface to its users' tools and to these tests.
namespace access_screen {
inline constexpr int kStart = 101;  // Command1 "開始(&G)"
inline constexpr int kCancel = 102; // Command2 "中止(&C)"
inline constexpr int kMarks = 204;  // Label4, one "* " per wrong entry
inline constexpr int kEntry = 301;  // Text1
inline constexpr ControlText kFixedTexts[] = {
    {kStart, L"開始(&G)"},
    {kCancel, L"中止(&C)"},
    {201, L"ﾊﾟｽﾜｰﾄﾞ入力(TERVAN58で使用するﾊﾟｽﾜｰﾄﾞ)"},
    {202, L"Karvo Software"},
    {230, L"このﾂｰﾙはTERVAN58をすでにｲﾝｽﾄｰﾙ済みのお客様を対象にしています。"},
    {231, L"ﾀﾞｳﾝﾛｰﾄﾞした実行ﾌｧｲﾙのみをｺﾋﾟｰします。"},
    {232, L"※ [TERVAN58]を終了してからｱｯﾌﾟﾃﾞｰﾄを開始して下さい。"},
};
} // namespace access_screen
namespace update_window {
inline constexpr int kLookUp = 102;           // Command2 "ｺﾋﾟｰ先の検索"
inline constexpr int kStart = 103;            // Command3 "ｱｯﾌﾟﾃﾞｰﾄを開始"
inline constexpr int kExit = 104;             // Command4 "終了"
inline constexpr int kBrowse = 105;           // Command5 "参照"
inline constexpr int kDestination = 201;      // Label1
inline constexpr int kSource = 204;           // Label4
inline constexpr int kSourceVersion = 250;    // Label5(0)
inline constexpr int kInstalledVersion = 251; // Label5(1)
inline constexpr ControlText kFixedTexts[] = {
    {kLookUp, L"ｺﾋﾟｰ先の検索"},
    {kStart, L"ｱｯﾌﾟﾃﾞｰﾄを開始"},
    {kExit, L"終了"},
    {kBrowse, L"参照"},
    {206, L"Karvo Software"},
    {220, L"[TERVAN58]ｲﾝｽﾄｰﾙﾌｫﾙﾀﾞ名（ｺﾋﾟｰ先）"},
    {221, L"ﾀﾞｳﾝﾛｰﾄﾞした、格納ﾌｫﾙﾀﾞ（ｺﾋﾟｰ元）"},
    {230, L"このﾂｰﾙはTERVAN58をすでにｲﾝｽﾄｰﾙ済みのお客様を対象にしています。"},
    {231, L"ﾀﾞｳﾝﾛｰﾄﾞした実行ﾌｧｲﾙ（TERVAN58.EXE）のみをｺﾋﾟｰします。"},
    {232, L"※ [TERVAN58]を終了してからｱｯﾌﾟﾃﾞｰﾄを開始して下さい。"},
};
} // namespace update_window

// Access screen.
inline constexpr wchar_t kAccessTitle[] = L"「TERVAN58」ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ";
inline constexpr wchar_t kWrongCode[] = L"ﾊﾟｽﾜｰﾄﾞが違います。";
inline constexpr wchar_t kWrongCodeEnd[] = L"ﾊﾟｽﾜｰﾄﾞが違います、終了します。";

// Update window.
inline std::wstring UpdateWindowTitle() {
    return L" ｱｯﾌﾟﾃﾞｰﾄﾂｰﾙ    Ver.1.01" + std::wstring(19, L' ') +
           L"Copyright (C) 2026 Karvo Software";
}
inline constexpr wchar_t kCheckTitle[] = L"ｱｯﾌﾟﾃﾞｰﾄのﾁｪｯｸ";
inline constexpr wchar_t kUpdateTitle[] = L"ｱｯﾌﾟﾃﾞｰﾄ";
inline constexpr wchar_t kNoDestination[] = L"ｲﾝｽﾄｰﾙ先情報が不明です、ｱｯﾌﾟﾃﾞｰﾄできません。";
inline constexpr wchar_t kNoSource[] =
    L"ｺﾋﾟｰ元が不明です。\r\rﾀﾞｳﾝﾛｰﾄﾞしたﾌｫﾙﾀﾞ名を選択して下さい。";
inline constexpr wchar_t kNoSourceFile[] =
    L"ｺﾋﾟｰ元ﾌｧｲﾙが存在しません。\r\rﾀﾞｳﾝﾛｰﾄﾞしたﾌｫﾙﾀﾞ名を選択して下さい。";
inline constexpr wchar_t kSameFolder[] =
    L"ｺﾋﾟｰ元とｺﾋﾟｰ先のﾌｫﾙﾀﾞｰが同一です。\r\rﾀﾞｳﾝﾛｰﾄﾞしたﾌｫﾙﾀﾞ名を選択して下さい。";
inline constexpr wchar_t kNotNewer[] = L"ｱｯﾌﾟﾃﾞｰﾄするﾊﾞｰｼﾞｮﾝが同じか、古いﾊﾞｰｼﾞｮﾝになっています。";
inline constexpr wchar_t kSuccess[] =
    L"ｱｯﾌﾟﾃﾞｰﾄに成功しました。\r\r[TERVAN58]を起動後ｱｯﾌﾟﾃﾞｰﾄを確認して下さい。";
inline constexpr wchar_t kCopyFailed[] = L"ｱｯﾌﾟﾃﾞｰﾄのｺﾋﾟｰに失敗しました。";
inline constexpr wchar_t kUnknownPublisher[] =
    L"ﾀﾞｳﾝﾛｰﾄﾞしたﾌｧｲﾙの発行元が確認できません、ｱｯﾌﾟﾃﾞｰﾄできません。";

inline constexpr wchar_t kTervan58Running[] =
    L"[TERVAN58]が起動しています、終了してからｱｯﾌﾟﾃﾞｰﾄを開始して下さい。";

inline constexpr wchar_t kFolderBrowserPrompt[] = L"「TERVAN58」ｱｯﾌﾟﾃﾞｰﾄﾌｫﾙﾀﾞ ";

} // namespace tervan::e2e::expected
