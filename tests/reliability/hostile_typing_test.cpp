// The access screen under hostile typing, through the real window and the system's
// input queue: random printable characters, half-width katakana, Backspace, Enter,
// Tab and Shift+Tab, Escape, and Ctrl+V pastes of random text, some of it long.
// A model of the screen predicts, key by key, the entry's text and selection and
// which control has the focus; after every key the screen must agree, the entry
// must hold at most ten characters, and nothing may end or hang. Every entry the
// screen takes in is judged independently: a wrong one costs a mark, the sixth ends
// the program (which is then started again), and only an entry whose lenient value
// is the code opens the update window.
//
// TERVAN_TYPING_KEYS (default 300) sets the number of keystrokes and
// TERVAN_TYPING_SEED (default 58) the seed, printed for a replay.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

#include "tests/e2e/scenario.hpp"

namespace tervan::reliability {
namespace {

namespace ids = e2e::expected::access_screen;
namespace expected = e2e::expected;

constexpr std::size_t kLimit = 10;

unsigned long EnvNumber(const char* name, unsigned long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoul(text, nullptr, 10) : fallback;
}

enum class Focus { Entry, Start, Cancel, Elsewhere };

const char* FocusName(Focus focus) {
    switch (focus) {
    case Focus::Entry:
        return "entry";
    case Focus::Start:
        return "start button";
    case Focus::Cancel:
        return "cancel button";
    case Focus::Elsewhere:
        break;
    }
    return "elsewhere";
}

enum class KeyKind { Character, Backspace, Enter, Tab, ShiftTab, Escape, Paste };

struct Key {
    KeyKind kind;
    wchar_t character = 0;
    std::wstring clipboard; // for Paste
};

Key Press(KeyKind kind, wchar_t character = 0, std::wstring clipboard = {}) {
    Key key{};
    key.kind = kind;
    key.character = character;
    key.clipboard = std::move(clipboard);
    return key;
}

std::string Describe(const Key& key) {
    switch (key.kind) {
    case KeyKind::Character:
        return "type " + e2e::Printable(std::wstring(1, key.character));
    case KeyKind::Backspace:
        return "Backspace";
    case KeyKind::Enter:
        return "Enter";
    case KeyKind::Tab:
        return "Tab";
    case KeyKind::ShiftTab:
        return "Shift+Tab";
    case KeyKind::Escape:
        return "Escape";
    case KeyKind::Paste: {
        const std::wstring shown = key.clipboard.substr(0, 24);
        return "Ctrl+V of " + std::to_string(key.clipboard.size()) + " characters " +
               e2e::Printable(shown) + (key.clipboard.size() > 24 ? "..." : "");
    }
    }
    return "?";
}

// What a key does to the screen, as the program and the standard controls define it.
enum class Effect { None, Submit, Cancel };

struct Model {
    std::wstring text;
    bool all_selected = false; // as after Tab into the entry
    Focus focus = Focus::Entry;

    // The entry replaces its selection by `inserted`, cut to what the limit leaves.
    void replace_selection(const std::wstring& inserted) {
        if (all_selected) text.clear();
        all_selected = false;
        const std::size_t room = kLimit - text.size();
        text += inserted.substr(0, room);
    }

    Effect press(const Key& key) {
        const wchar_t lower = key.character >= L'A' && key.character <= L'Z'
                                  ? static_cast<wchar_t>(key.character - L'A' + L'a')
                                  : key.character;
        switch (key.kind) {
        case KeyKind::Tab:
        case KeyKind::ShiftTab: {
            // Tab order: entry, start, cancel, and round again.
            static constexpr Focus order[] = {Focus::Entry, Focus::Start, Focus::Cancel};
            int at = focus == Focus::Start ? 1 : focus == Focus::Cancel ? 2 : 0;
            at = (at + (key.kind == KeyKind::Tab ? 1 : 2)) % 3;
            focus = order[at];
            // The dialog manager selects an edit's text when Tab brings it the focus.
            if (focus == Focus::Entry) all_selected = !text.empty();
            return Effect::None;
        }
        case KeyKind::Escape:
            return Effect::None; // no cancel button with the id IDCANCEL
        default:
            break;
        }
        if (focus == Focus::Entry) {
            switch (key.kind) {
            case KeyKind::Character:
                if (all_selected || text.size() < kLimit) replace_selection({key.character});
                return Effect::None;
            case KeyKind::Backspace:
                if (all_selected)
                    text.clear();
                else if (!text.empty())
                    text.pop_back();
                all_selected = false;
                return Effect::None;
            case KeyKind::Paste: {
                // A single-line edit pastes the first line only.
                std::wstring line = key.clipboard.substr(0, key.clipboard.find(L'\0'));
                const auto newline = line.find(L'\n');
                if (newline != std::wstring::npos) {
                    line.resize(newline);
                    if (!line.empty() && line.back() == L'\r') line.pop_back();
                }
                replace_selection(line);
                return Effect::None;
            }
            case KeyKind::Enter:
                return Effect::Submit;
            default:
                return Effect::None;
            }
        }
        // A button has the focus: Enter and Space press it, and a mnemonic letter
        // presses its button from anywhere but the entry.
        const bool pressed =
            key.kind == KeyKind::Enter || (key.kind == KeyKind::Character && key.character == L' ');
        if (pressed) return focus == Focus::Start ? Effect::Submit : Effect::Cancel;
        if (key.kind == KeyKind::Character && lower == L'g') return Effect::Submit;
        if (key.kind == KeyKind::Character && lower == L'c') return Effect::Cancel;
        return Effect::None;
    }
};

// The entry judged without the program's number reader, from the rules users
// were promised: blanks, tabs and line feeds count nowhere; then either &H or &O
// and digits of that base, or an optional sign, digits with one "." and an
// optional exponent (E or D); reading stops at the first character that cannot
// go on. Only the value 503816 is the code, so the digits read need only be
// compared, not computed.
bool IsTheCode(const std::wstring& entry) {
    std::wstring text;
    for (const wchar_t c : entry)
        if (c != L' ' && c != L'\t' && c != L'\n') text += c;
    auto lower = [&](std::size_t at) {
        return at < text.size() ? static_cast<wchar_t>(std::towlower(text[at])) : L'\0';
    };
    auto run_of = [&](std::size_t& at, std::wstring_view digits) {
        const std::size_t from = at;
        while (at < text.size() && digits.find(lower(at)) != std::wstring_view::npos)
            ++at;
        return text.substr(from, at - from);
    };
    auto without_leading_zeros = [](std::wstring digits) {
        return digits.erase(0, std::min(digits.find_first_not_of(L'0'), digits.size()));
    };
    std::size_t at = 0;
    if (lower(0) == L'&' && (lower(1) == L'h' || lower(1) == L'o')) {
        at = 2;
        const bool hex = lower(1) == L'h';
        std::wstring digits = run_of(at, hex ? L"0123456789abcdef" : L"01234567");
        for (wchar_t& c : digits)
            c = static_cast<wchar_t>(std::towlower(c));
        return without_leading_zeros(digits) == (hex ? L"7b008" : L"1730010");
    }
    if (lower(0) == L'+') at = 1;
    std::wstring digits = run_of(at, L"0123456789");
    int scale = 0; // the value is digits times ten to this power
    if (lower(at) == L'.') {
        ++at;
        const std::wstring fraction = run_of(at, L"0123456789");
        digits += fraction;
        scale -= static_cast<int>(fraction.size());
    }
    if (lower(at) == L'e' || lower(at) == L'd') {
        ++at;
        const bool negative = lower(at) == L'-';
        if (negative || lower(at) == L'+') ++at;
        const std::wstring exponent = run_of(at, L"0123456789");
        if (exponent.size() > 3) return false; // far off 503816 either way
        const int power = exponent.empty() ? 0 : std::stoi(exponent);
        scale += negative ? -power : power;
    }
    digits = without_leading_zeros(digits);
    while (!digits.empty() && digits.back() == L'0') {
        digits.pop_back();
        ++scale;
    }
    return digits == L"503816" && scale == 0;
}

// Keys as a keyboard sends them: virtual keys (with Shift where the layout needs
// it) for what the layout has, Unicode packets for the rest.
bool Send(HWND window, const Key& key) {
    std::vector<INPUT> inputs;
    auto vk = [&](WORD code, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = code;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(code, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    auto press = [&](WORD code) {
        vk(code, false);
        vk(code, true);
    };
    auto unicode = [&](wchar_t c) {
        for (const DWORD up : {0ul, static_cast<unsigned long>(KEYEVENTF_KEYUP)}) {
            INPUT input{};
            input.type = INPUT_KEYBOARD;
            input.ki.wScan = c;
            input.ki.dwFlags = KEYEVENTF_UNICODE | up;
            inputs.push_back(input);
        }
    };
    switch (key.kind) {
    case KeyKind::Character: {
        const SHORT scan = key.character < 0x80 ? VkKeyScanW(key.character) : -1;
        const int shift = scan == -1 ? -1 : HIBYTE(scan);
        if (shift == 0 || shift == 1) {
            if (shift) vk(VK_SHIFT, false);
            press(LOBYTE(scan));
            if (shift) vk(VK_SHIFT, true);
        } else {
            unicode(key.character);
        }
        break;
    }
    case KeyKind::Backspace:
        press(VK_BACK);
        break;
    case KeyKind::Enter:
        press(VK_RETURN);
        break;
    case KeyKind::Tab:
        press(VK_TAB);
        break;
    case KeyKind::ShiftTab:
        vk(VK_SHIFT, false);
        press(VK_TAB);
        vk(VK_SHIFT, true);
        break;
    case KeyKind::Escape:
        press(VK_ESCAPE);
        break;
    case KeyKind::Paste:
        if (!e2e::PutOnClipboard(key.clipboard)) return false;
        vk(VK_CONTROL, false);
        press('V');
        vk(VK_CONTROL, true);
        break;
    }
    SetForegroundWindow(window);
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) ==
           inputs.size();
}

// Random keys, with some weight on what makes entries: digits, spellings of the code
// and near misses.
class KeyStream {
public:
    explicit KeyStream(unsigned seed) : random_(seed) {}

    // One or more keys (a word comes whole, maybe with its Enter).
    std::vector<Key> next() {
        const int roll = pick(0, 99);
        if (roll < 25) return {character(printable())};
        if (roll < 40) return {character(static_cast<wchar_t>(L'0' + pick(0, 9)))};
        if (roll < 47) return {character(katakana())};
        if (roll < 50) return {character(L' ')};
        if (roll < 59) return {Press(KeyKind::Backspace)};
        if (roll < 66) return {Press(KeyKind::Enter)};
        if (roll < 70) return {Press(KeyKind::Tab)};
        if (roll < 72) return {Press(KeyKind::ShiftTab)};
        if (roll < 75) return {Press(KeyKind::Escape)};
        if (roll < 82) return {Press(KeyKind::Paste, 0, clipboard())};
        std::vector<Key> keys;
        for (const wchar_t c : word())
            keys.push_back(character(c));
        if (pick(0, 9) < 7) keys.push_back(Press(KeyKind::Enter));
        return keys;
    }

    bool coin() { return pick(0, 1) == 1; }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    static Key character(wchar_t c) { return Press(KeyKind::Character, c); }
    wchar_t printable() { return static_cast<wchar_t>(pick(0x21, 0x7E)); }
    wchar_t katakana() { return static_cast<wchar_t>(pick(0xFF61, 0xFF9F)); }

    std::wstring word() {
        static const wchar_t* const words[] = {
            // accepted spellings
            L"503816", L"  503816", L"50 38 16", L"503816abc", L"503816.00", L"5.03816E5",
            L"5.03816d+5", L"&H7B008", L"&h7b008", L"&O1730010", L"0503816", L"+503816", L"503816ｱ",
            L"503816e",
            // near misses
            L"503817", L"5038160", L"-503816", L"&H7B009", L"5038 1 6x", L"ｱ503816", L"503,816",
            L"5.03816E4", L"&HFFFF", L"1E999", L"&H1FFFFFFFF", L"."};
        return words[pick(0, static_cast<int>(std::size(words)) - 1)];
    }

    std::wstring clipboard() {
        if (pick(0, 9) == 0) return word() + (coin() ? L"\r\n" : L"");
        const int kind = pick(0, 19);
        const int length = kind == 0   ? 0
                           : kind < 11 ? pick(1, 12)
                           : kind < 16 ? pick(13, 40)
                                       : pick(100, 3000);
        std::wstring text;
        while (static_cast<int>(text.size()) < length) {
            const int what = pick(0, 99);
            if (what < 40)
                text += static_cast<wchar_t>(L'0' + pick(0, 9));
            else if (what < 70)
                text += printable();
            else if (what < 85)
                text += katakana();
            else if (what < 89)
                text += L"\U0001F600"; // a surrogate pair
            else if (what < 93)
                text += L' ';
            else if (what < 96)
                text += L'\t';
            else
                text += coin() ? L"\r\n" : L"\r";
        }
        return text;
    }

    std::mt19937 random_;
};

struct Figures {
    unsigned long keystrokes = 0, pastes = 0, long_pastes = 0, starts = 0, wrong = 0,
                  ended_by_wrong = 0, cancels = 0, checks = 0;
    std::size_t longest_seen = 0;
    std::vector<std::wstring> accepted;
};

class HostileTypingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(e2e::BuiltUpdater().empty()) << "TERVAN_UPDATER_EXE names no updater";
        installed = box.put_tervan58(install, {1, 0, 0, 1}, 1);
        box.put_tervan58(download, {1, 0, 0, 2}, 2);
        ASSERT_TRUE(setting.set_text(install));
        exe = box.put_updater(download);
        ASSERT_FALSE(exe.empty());
    }

    // A fresh program at its access screen, the entry focused and limited.
    ::testing::AssertionResult start() {
        run.reset();
        run = std::make_unique<e2e::UpdaterRun>(exe, download);
        ++figures.starts;
        wrong_in_this_run = 0;
        if (auto shown = run->wait_access_screen(); !shown) return shown;
        model = Model{};
        DWORD_PTR limit = 0;
        SendMessageTimeoutW(run->access.control(ids::kEntry), EM_GETLIMITTEXT, 0, 0, SMTO_NORMAL,
                            10000, &limit);
        if (limit != kLimit) return ::testing::AssertionFailure() << "entry limit " << limit;
        return agrees("the screen opened");
    }

    Focus focus_now() const {
        const HWND focus = run->access.focus();
        if (focus == run->access.control(ids::kEntry)) return Focus::Entry;
        if (focus == run->access.control(ids::kStart)) return Focus::Start;
        if (focus == run->access.control(ids::kCancel)) return Focus::Cancel;
        return Focus::Elsewhere;
    }

    // The screen shows what the model says, checked until it does (what a key
    // starts, a message box or the update window, may take its time); the limit is
    // checked at every look.
    ::testing::AssertionResult agrees(const std::string& after) {
        std::wstring text;
        Focus focus = Focus::Elsewhere;
        DWORD_PTR selection = 0;
        std::wstring marks;
        const std::wstring expected_marks = [&] {
            std::wstring m;
            for (int i = 0; i < wrong_in_this_run; ++i)
                m += L"* ";
            return m;
        }();
        bool over_limit = false, dialog = false, ended = false;
        const bool same = e2e::PollUntil([&] {
            ++figures.checks;
            if (!run->process().running()) return ended = true;
            if (e2e::FindDialog(run->pid())) return dialog = true;
            text = run->access.text(ids::kEntry);
            figures.longest_seen = std::max(figures.longest_seen, text.size());
            if (text.size() > kLimit) return over_limit = true;
            focus = focus_now();
            SendMessageTimeoutW(run->access.control(ids::kEntry), EM_GETSEL, 0, 0, SMTO_NORMAL,
                                10000, &selection);
            marks = run->access.text(ids::kMarks);
            const std::size_t length = model.text.size();
            const DWORD_PTR wanted_selection = model.focus != Focus::Entry ? selection
                                               : model.all_selected        ? MAKELONG(0, length)
                                                                    : MAKELONG(length, length);
            return text == model.text && focus == model.focus && selection == wanted_selection &&
                   marks == expected_marks;
        });
        if (same && !over_limit && !dialog && !ended) return ::testing::AssertionSuccess();
        auto failure = ::testing::AssertionFailure() << "after " << after << ": ";
        if (ended) return failure << "the program ended";
        if (dialog) return failure << "an unexpected dialog opened";
        if (over_limit) return failure << "the entry holds " << text.size() << " characters";
        return failure << "the screen shows " << e2e::Printable(text) << " (selection "
                       << LOWORD(selection) << "-" << HIWORD(selection) << "), focus on "
                       << FocusName(focus) << ", marks " << e2e::Printable(marks) << "; expected "
                       << e2e::Printable(model.text) << (model.all_selected ? " all selected" : "")
                       << ", focus on " << FocusName(model.focus) << ", marks "
                       << e2e::Printable(expected_marks);
    }

    // Closes a message box the way a user might: a click, or Enter.
    ::testing::AssertionResult answer(const std::wstring& prompt, KeyStream& keys) {
        const auto seen = e2e::WaitMessageBox(run->pid());
        if (!seen) return ::testing::AssertionFailure() << "no message box";
        if (seen->prompt != prompt || seen->title != expected::kAccessTitle)
            return ::testing::AssertionFailure()
                   << "message box " << e2e::Printable(seen->title) << " "
                   << e2e::Printable(seen->prompt) << ", expected " << e2e::Printable(prompt);
        if (keys.coin()) {
            if (!e2e::Settle(seen->hwnd) || !e2e::SendEnter(seen->hwnd) ||
                !e2e::WaitGone(seen->hwnd))
                return ::testing::AssertionFailure() << "Enter did not close the message box";
        } else if (!e2e::AnswerMessageBox(seen->hwnd, IDOK)) {
            return ::testing::AssertionFailure() << "the message box did not close";
        }
        return ::testing::AssertionSuccess();
    }

    // An entry went in: the screen's answer must be the judgement of the entry.
    ::testing::AssertionResult submitted(KeyStream& keys) {
        const std::wstring entry = model.text;
        const bool right = IsTheCode(entry);
        const HWND access = run->access.hwnd();
        HWND update = nullptr;
        bool box = false;
        e2e::PollUntil([&] {
            box = e2e::FindMessageBox(run->pid()).has_value();
            update = e2e::FindTopLevel(run->pid(), expected::kFormClass);
            if (update == access) update = nullptr;
            return box || update != nullptr || !run->process().running();
        });
        const std::string judged =
            e2e::Printable(entry) + (right ? " (the code)" : " (not the code)");
        if (update) {
            if (!right)
                return ::testing::AssertionFailure() << "the update window opened for " << judged;
            figures.accepted.push_back(entry);
            if (!run->wait_update_window())
                return ::testing::AssertionFailure() << "no update window";
            if (!run->update.click(e2e::expected::update_window::kExit) || !run->exits(0))
                return ::testing::AssertionFailure() << "the update window did not end the program";
            return start();
        }
        if (!box) return ::testing::AssertionFailure() << "nothing answered the entry " << judged;
        if (right) return ::testing::AssertionFailure() << "the code was refused: " << judged;
        // The box is up: the entry still holds what went in.
        const std::wstring held = run->access.text(ids::kEntry);
        if (held != entry)
            return ::testing::AssertionFailure()
                   << "the screen judged " << e2e::Printable(held) << ", the keys made " << judged;
        ++figures.wrong;
        ++wrong_in_this_run;
        if (auto ok = answer(expected::kWrongCode, keys); !ok) return ok;
        if (wrong_in_this_run == 6) {
            if (auto ok = answer(expected::kWrongCodeEnd, keys); !ok) return ok;
            if (auto ok = run->exits(0); !ok) return ok;
            ++figures.ended_by_wrong;
            return start();
        }
        model = Model{};
        return agrees("the wrong entry " + judged);
    }

    e2e::Sandbox box;
    e2e::InstallFolderSetting setting;
    const std::string install = box.folder("TERVAN58");
    const std::string download = box.folder("ﾀﾞｳﾝﾛｰﾄﾞ");
    std::string installed;
    std::string exe;
    std::unique_ptr<e2e::UpdaterRun> run;
    Model model;
    int wrong_in_this_run = 0;
    Figures figures;
};

TEST_F(HostileTypingTest, LimitHoldsEntriesCountAndOnlyTheCodeOpens) {
    const unsigned long wanted = EnvNumber("TERVAN_TYPING_KEYS", 300);
    const auto seed = static_cast<unsigned>(EnvNumber("TERVAN_TYPING_SEED", 58));
    std::printf("hostile typing: %lu keystrokes, seed %u (replay: TERVAN_TYPING_KEYS=%lu "
                "TERVAN_TYPING_SEED=%u)\n",
                wanted, seed, wanted, seed);
    KeyStream keys(seed);
    ASSERT_TRUE(start());
    while (figures.keystrokes < wanted) {
        for (const Key& key : keys.next()) {
            const std::string what =
                "keystroke " + std::to_string(figures.keystrokes + 1) + " (" + Describe(key) + ")";
            ++figures.keystrokes;
            if (key.kind == KeyKind::Paste) {
                ++figures.pastes;
                if (key.clipboard.size() >= 100) ++figures.long_pastes;
            }
            const Effect effect = model.press(key);
            ASSERT_TRUE(Send(run->access.hwnd(), key)) << what;
            // A key that changes nothing would otherwise be judged before it is handled.
            ASSERT_TRUE(e2e::InputHandled(run->access.hwnd())) << what << ": the screen hangs";
            if (effect == Effect::Submit) {
                ASSERT_TRUE(submitted(keys)) << what;
                break; // the rest of a word would go to a message box
            }
            if (effect == Effect::Cancel) {
                ASSERT_TRUE(run->exits(0)) << what;
                ++figures.cancels;
                ASSERT_TRUE(start()) << what;
                break;
            }
            ASSERT_TRUE(agrees(what));
        }
    }
    std::string accepted;
    for (const auto& entry : figures.accepted)
        accepted += " " + e2e::Printable(entry);
    std::printf("hostile typing: %lu keystrokes (%lu pastes, %lu of 100+ characters), %lu "
                "program starts, %lu wrong entries, %lu ends after the sixth, %lu cancels, %zu "
                "accepted:%s; longest entry seen %zu characters in %lu checks\n",
                figures.keystrokes, figures.pastes, figures.long_pastes, figures.starts,
                figures.wrong, figures.ended_by_wrong, figures.cancels, figures.accepted.size(),
                accepted.c_str(), figures.longest_seen, figures.checks);
    EXPECT_LE(figures.longest_seen, kLimit);
    // Nothing was updated: the program never got past the access screen with a click.
    EXPECT_EQ(e2e::Contents(install), (e2e::FolderContents{{"tervan58.exe", installed}}));
}

} // namespace
} // namespace tervan::reliability
