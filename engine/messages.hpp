// Texts of the program's messages, exactly as the user sees them: the update
// procedure's, then the access screen's. (The windows' own texts stand beside their
// layouts in ui/forms/.) Two sentences are separated by two carriage returns and no
// line feed.
#pragma once

namespace tervan::text {

inline constexpr const char* kCheckTitle = "ｱｯﾌﾟﾃﾞｰﾄのﾁｪｯｸ";
inline constexpr const char* kUpdateTitle = "ｱｯﾌﾟﾃﾞｰﾄ";

inline constexpr const char* kNoDestination = "ｲﾝｽﾄｰﾙ先情報が不明です、ｱｯﾌﾟﾃﾞｰﾄできません。";
inline constexpr const char* kNoSource =
    "ｺﾋﾟｰ元が不明です。\r\rﾀﾞｳﾝﾛｰﾄﾞしたﾌｫﾙﾀﾞ名を選択して下さい。";
inline constexpr const char* kNoSourceFile =
    "ｺﾋﾟｰ元ﾌｧｲﾙが存在しません。\r\rﾀﾞｳﾝﾛｰﾄﾞしたﾌｫﾙﾀﾞ名を選択して下さい。";
inline constexpr const char* kSameFolder =
    "ｺﾋﾟｰ元とｺﾋﾟｰ先のﾌｫﾙﾀﾞｰが同一です。\r\rﾀﾞｳﾝﾛｰﾄﾞしたﾌｫﾙﾀﾞ名を選択して下さい。";
inline constexpr const char* kNotNewer = "ｱｯﾌﾟﾃﾞｰﾄするﾊﾞｰｼﾞｮﾝが同じか、古いﾊﾞｰｼﾞｮﾝになっています。";
inline constexpr const char* kSuccess =
    "ｱｯﾌﾟﾃﾞｰﾄに成功しました。\r\r[TERVAN58]を起動後ｱｯﾌﾟﾃﾞｰﾄを確認して下さい。";
inline constexpr const char* kCopyFailed = "ｱｯﾌﾟﾃﾞｰﾄのｺﾋﾟｰに失敗しました。";
// A signed install and a download that is not intact or not from its publisher.
inline constexpr const char* kUnknownPublisher =
    "ﾀﾞｳﾝﾛｰﾄﾞしたﾌｧｲﾙの発行元が確認できません、ｱｯﾌﾟﾃﾞｰﾄできません。";

// Tervan58 itself runs from the installed file, which cannot be replaced meanwhile.
inline constexpr const char* kTervan58Running =
    "[TERVAN58]が起動しています、終了してからｱｯﾌﾟﾃﾞｰﾄを開始して下さい。";

inline constexpr const char* kVersionPrefix = "Ver.";

// The access screen's.
inline constexpr const char* kAccessTitle = "「TERVAN58」ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ";
inline constexpr const char* kWrongCode = "ﾊﾟｽﾜｰﾄﾞが違います。";
inline constexpr const char* kWrongCodeEnd = "ﾊﾟｽﾜｰﾄﾞが違います、終了します。";

} // namespace tervan::text
