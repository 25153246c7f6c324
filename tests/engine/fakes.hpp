// Test doubles for the update procedure: a recording view and an in-memory file
// system whose files carry their version text in their first line.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/update_procedure.hpp"

namespace tervan::testing {

class FakeView : public UpdateView {
public:
    std::map<Caption, std::string> captions;
    // Everything the procedure did through the view, in order.
    std::vector<std::string> events;
    // What the source folder choice puts into Label4; nullopt: the user cancels.
    std::optional<std::string> chosen_folder;

    std::string caption(Caption which) override { return captions[which]; }
    void set_caption(Caption which, const std::string& text) override { captions[which] = text; }
    void show_message(const std::string& prompt, const std::string& title) override {
        events.push_back("message: " + title + " | " + prompt);
    }
    void choose_source() override {
        events.push_back("choose source");
        if (chosen_folder) captions[Caption::Source] = *chosen_folder;
    }
    void exit_program() override { events.push_back("exit"); }
    // The step with administrator rights; unset, it is declined.
    std::function<ElevatedStep()> administrator;
    ElevatedStep replace_as_administrator(const std::string& source_folder,
                                          const std::string& destination_folder) override {
        events.push_back("administrator: " + source_folder + " -> " + destination_folder);
        return administrator ? administrator() : ElevatedStep::NotRun;
    }
};

// Files are byte strings keyed by path; a file's version text is what follows
// "version:" up to the end of its first line, so a copy carries its version along.
class MemoryFileSystem : public FileSystem {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
    std::set<std::string> unreadable;
    std::set<std::string> read_only;
    // Folders that take no new file, as Program Files without administrator rights.
    std::set<std::string> refusing;
    // Files this user cannot remove, as a leftover in Program Files.
    std::set<std::string> stuck;
    // Downloads that a signed install does not take: not signed by its publisher.
    std::set<std::string> foreign;
    // Files that a running program was started from.
    std::set<std::string> running;

    void add_folder(const std::string& folder) { folders.insert(folder); }
    void add_exe(const std::string& folder, const std::string& version,
                 const std::string& body = "body") {
        add_folder(folder);
        files[folder + "\\" + kTargetExeName] = "version:" + version + "\n" + body;
    }

    std::unique_ptr<File> open_read(const std::string& path) override;
    bool exists(const std::string& path) override { return files.count(path) != 0; }
    NewFile create_new(const std::string& path) override;
    bool folder_refuses_new_files(const std::string& path) override;
    bool rename_replace(const std::string& from, const std::string& to) override;
    bool remove(const std::string& path) override;
    std::string file_version_text(const std::string& path) override;
    PublisherCheck publisher_check(const std::string& installed,
                                   const std::string& download) override {
        if (foreign.count(download)) return PublisherCheck::Refused;
        return FileSystem::publisher_check(installed, download);
    }
    bool program_runs_from(const std::string& path) override { return running.count(path) != 0; }
};

} // namespace tervan::testing
