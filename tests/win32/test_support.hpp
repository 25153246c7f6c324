// Helpers for the Win32 suites: scratch folders, file bytes, and child processes
// (this test program started again in one of its helper modes, see test_main.cpp).
// They call Win32 directly with "\\?\" paths, so that fixtures do not depend on the
// code under test.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace tervan::testing {

// The literal "\\?\" form of an absolute drive path.
std::wstring Literal(const std::string& path);

// A fresh folder under the Windows temporary folder, removed with its contents
// (read-only files included).
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

bool MakeFolder(const std::string& path);
bool PutBytes(const std::string& path, const std::string& bytes);
std::optional<std::string> GetBytes(const std::string& path);
bool Exists(const std::string& path);
bool SetReadOnly(const std::string& path, bool read_only);
void RemoveTree(const std::string& path);
// Deterministic, non-repeating-looking bytes.
std::string PatternBytes(std::size_t size, unsigned seed);
std::string SelfPath();

// The folder refuses new files, as Program Files refuses a program without
// administrator rights (ERROR_ACCESS_DENIED), until this goes away. On Windows through
// an ACE that denies the current user "add file"; where the system does not enforce
// it (Wine), by making the folder immutable on the Unix side (chattr +i), which needs
// root and a file system with that flag. refusing() tells whether either worked,
// why_not() why not.
class RefusingFolder {
public:
    explicit RefusingFolder(const std::string& folder);
    ~RefusingFolder();
    RefusingFolder(const RefusingFolder&) = delete;
    RefusingFolder& operator=(const RefusingFolder&) = delete;
    bool refusing() const { return refusing_; }
    const std::string& why_not() const { return why_not_; }

private:
    bool refuses_now();
    bool deny_add_file();
    void restore_acl();

    std::string folder_;
    bool refusing_ = false;
    bool immutable_ = false;
    std::string why_not_;
    PSECURITY_DESCRIPTOR saved_ = nullptr; // holds saved_acl_
    PACL saved_acl_ = nullptr;
};

// The keys of `path` under `root` that do not exist yet are removed again when this
// goes away, deepest first, each only if nothing is left in it: the tests leave the
// registry as they found it, not a trail of empty keys.
class NewRegistryKeys {
public:
    NewRegistryKeys(HKEY root, const std::wstring& path);
    ~NewRegistryKeys();
    NewRegistryKeys(const NewRegistryKeys&) = delete;
    NewRegistryKeys& operator=(const NewRegistryKeys&) = delete;

private:
    HKEY root_;
    std::vector<std::wstring> missing_; // parents first
};

// Under Wine rather than Windows: its ntdll has exports that Windows' lacks.
bool UnderWine();

// A person sits at the computer to answer what only a person may answer, such as
// Windows' administrator prompt (run-tests.cmd /interactive sets TERVAN_INTERACTIVE).
bool Interactive();
// Tells the person at the console `utf8`, on a line of its own, past any redirection
// of this program's output.
void TellPerson(const std::string& utf8);

// A named manual-reset event a child can open by name.
class Event {
public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    std::string name() const;
    void set();
    // False when it was not set within the timeout; the timeout only guards
    // against a hanging test.
    bool wait(DWORD timeout_ms = 30000);

private:
    std::wstring name_;
    HANDLE handle_;
};

// A child process, terminated if still running when destroyed.
class Child {
public:
    explicit Child(const std::vector<std::string>& args, const std::string& exe = SelfPath());
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return process_ != nullptr; }
    // GetLastError of CreateProcessW when it did not start.
    DWORD start_error() const { return start_error_; }
    // The exit code, or nullopt if it did not end within the timeout.
    std::optional<DWORD> wait(DWORD timeout_ms = 30000);

private:
    HANDLE process_ = nullptr;
    DWORD start_error_ = 0;
};

// Another process holding `path` open for reading with the given share mode until
// the returned object goes away.
class HeldFile {
public:
    HeldFile(const std::string& path, DWORD share_mode);
    ~HeldFile();
    // True once the child has the file open.
    bool holding() { return holding_; }

private:
    Event ready_;
    Event release_;
    Child child_;
    bool holding_ = false;
};

// Handles the helper modes; nullopt when the program was started as a test run.
std::optional<int> RunChildMode();

// This exe's command-line arguments after its own name, as a child mode reads them.
std::vector<std::wstring> OwnArguments();

} // namespace tervan::testing
