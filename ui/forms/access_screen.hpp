// The access screen in front of the update window: its layout, texts and event
// procedures, free of any window toolkit.
#pragma once

#include <cstdint>
#include <string>

#include "ui/forms/layout.hpp"

namespace tervan {

namespace access_screen {
enum Id {
    Text1 = 301, // the access code entry
    Command1 = 101,
    Command2 = 102,
    Label1 = 201,
    Label2 = 202, // maker
    Label4 = 204, // one "* " per wrong entry
    Label3_0 = 230,
    Label3_1 = 231,
    Label3_2 = 232,
};
FormSpec Layout();
inline constexpr int kEntryFontHundredthsOfPoint = 975;
inline constexpr int kMaxEntryLength = 10;
inline constexpr int kToleratedWrongEntries = 5;
} // namespace access_screen

std::string AccessScreenTitle();

class AccessScreenHost {
public:
    virtual ~AccessScreenHost() = default;
    virtual std::string entry() = 0;
    virtual void set_entry(const std::string& text) = 0;
    virtual void focus_entry() = 0;
    virtual std::string marks() = 0; // Label4
    virtual void set_marks(const std::string& text) = 0;
    virtual void show_message(const std::string& prompt, const std::string& title) = 0;
    virtual bool another_copy_running() = 0;
    // Closes the access screen for good and shows the update window in its place.
    virtual void open_update_window() = 0;
    // Closes every window and ends the process; does not return.
    virtual void end_program() = 0;
};

class Form3 {
public:
    explicit Form3(AccessScreenHost& host) : host_(host) {}

    void Form_Load();
    void Text1_KeyDown(int key_code, int shift);
    void Command1_Click();
    void Command2_Click() { host_.end_program(); }

    std::int16_t bad_tries() const { return BadTries; }

private:
    AccessScreenHost& host_;
    std::int16_t BadTries = 0;
};

} // namespace tervan
