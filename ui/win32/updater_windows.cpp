#include "ui/win32/updater_windows.hpp"

#include "platform/win32/administrator.hpp"
#include "platform/win32/message_box.hpp"
#include "platform/win32/program.hpp"
#include "platform/win32/settings.hpp"
#include "ui/forms/access_screen.hpp"
#include "ui/forms/update_window.hpp"
#include "ui/win32/folder_chooser.hpp"
#include "ui/win32/form_window.hpp"

namespace tervan {

class UpdaterWindows::UpdateWindow final : public UpdateWindowHost {
public:
    UpdateWindow(FileSystem& files, bool may_ask_for_administrator)
        : may_ask_for_administrator_(may_ask_for_administrator), form_(*this, files) {}

    bool open() {
        if (!window_.create(update_window::Layout(), "")) return false;
        window_.on_click = [this](int id) {
            switch (id) {
            case update_window::Command2:
                form_.Command2_Click();
                break;
            case update_window::Command3:
                form_.Command3_Click();
                break;
            case update_window::Command4:
                form_.Command4_Click();
                break;
            case update_window::Command5:
                form_.Command5_Click();
                break;
            }
        };
        window_.on_close = [this] { form_.Command4_Click(); };
        form_.Form_Load();
        window_.show();
        return true;
    }

private:
    std::string caption(Caption which) override {
        return window_.text(update_window::ControlId(which));
    }
    void set_caption(Caption which, const std::string& text) override {
        window_.set_text(update_window::ControlId(which), text);
    }
    void set_title(const std::string& title) override { window_.set_title(title); }
    void show_message(const std::string& prompt, const std::string& title) override {
        ShowMessage(window_.hwnd(), prompt, title);
    }
    std::string pick_folder() override {
        return PickFolder(window_.hwnd(), text::kFolderChooserTitle);
    }
    void end_program() override { EndProgram(); }
    std::string own_folder() override { return OwnFolder(); }
    ProgramVersion own_version() override {
        const OwnVersion v = ReadOwnVersion();
        return {v.major, v.minor, v.revision};
    }
    std::string read_setting(const std::string& app, const std::string& section,
                             const std::string& key) override {
        return ReadProgramSetting(app, section, key);
    }
    ElevatedStep replace_as_administrator(const std::string& source_folder,
                                          const std::string& destination_folder) override {
        if (!may_ask_for_administrator_) return ElevatedStep::NotRun;
        // A sign-out would end the step halfway, leaving its temporary file behind.
        window_.hold_session_end(text::kStepRunning);
        const ElevatedStep step =
            RunElevatedReplace(window_.hwnd(), source_folder, destination_folder);
        window_.release_session_end();
        return step;
    }

    FormWindow window_;
    bool may_ask_for_administrator_;
    Form1 form_;
};

class UpdaterWindows::AccessScreen final : public AccessScreenHost {
public:
    explicit AccessScreen(UpdaterWindows& owner) : owner_(owner) {}

    bool open() {
        if (!window_.create(access_screen::Layout(), AccessScreenTitle())) return false;
        window_.on_click = [this](int id) {
            if (id == access_screen::Command1) form_.Command1_Click();
            if (id == access_screen::Command2) form_.Command2_Click();
        };
        window_.on_key_down = [this](int id, int key, int shift) {
            if (id == access_screen::Text1) form_.Text1_KeyDown(key, shift);
        };
        window_.on_close = [this] { form_.Command2_Click(); };
        form_.Form_Load(); // ends the program, with nothing shown, when another copy runs
        window_.show();
        return true;
    }

private:
    std::string entry() override { return window_.text(access_screen::Text1); }
    void set_entry(const std::string& text) override {
        window_.set_text(access_screen::Text1, text);
    }
    void focus_entry() override { SetFocus(window_.control(access_screen::Text1)); }
    std::string marks() override { return window_.text(access_screen::Label4); }
    void set_marks(const std::string& text) override {
        window_.set_text(access_screen::Label4, text);
    }
    void show_message(const std::string& prompt, const std::string& title) override {
        ShowMessage(window_.hwnd(), prompt, title);
    }
    bool another_copy_running() override { return AnotherCopyRunning(); }
    void open_update_window() override {
        // The screen unloads and is never used again.
        window_.destroy();
        owner_.open_update_window();
    }
    void end_program() override { EndProgram(); }

    UpdaterWindows& owner_;
    FormWindow window_;
    Form3 form_{*this};
};

UpdaterWindows::UpdaterWindows(FileSystem& files, bool may_ask_for_administrator)
    : files_(files), may_ask_for_administrator_(may_ask_for_administrator) {}

UpdaterWindows::~UpdaterWindows() = default;

bool UpdaterWindows::open() {
    access_screen_ = std::make_unique<AccessScreen>(*this);
    return access_screen_->open();
}

void UpdaterWindows::open_update_window() {
    update_window_ = std::make_unique<UpdateWindow>(files_, may_ask_for_administrator_);
    if (!update_window_->open()) EndProgram();
}

} // namespace tervan
