#include "tests/reliability/reliability_support.hpp"

#include <algorithm>

#include "platform/win32/text.hpp"
#include "tests/win32/test_support.hpp"

namespace tervan::reliability {

namespace {

// A guard against a hanging helper, not a measure of anything.
constexpr DWORD kGuardMs = 30000;

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : bytes)
        hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

void Walk(const std::string& folder, const std::string& prefix, Tree& tree) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((testing::Literal(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = Narrow(found.cFileName);
        if (name == "." || name == "..") continue;
        const std::string relative = prefix.empty() ? name : prefix + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree[relative] = "<folder>";
            Walk(folder + "\\" + name, relative, tree);
        } else {
            const auto bytes = testing::GetBytes(folder + "\\" + name);
            tree[relative] = bytes ? EntryFor(*bytes) : "<unreadable>";
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

RecordingView::RecordingView(std::string destination, std::string source) {
    captions[Caption::Destination] = std::move(destination);
    captions[Caption::Source] = std::move(source);
}

std::string RecordingView::transcript() const {
    std::string text;
    for (const auto& [prompt, title] : messages)
        text += "[" + prompt + " / " + title + "]";
    return text.empty() ? "no message" : text;
}

class InterferingFileSystem::Reader final : public File {
public:
    Reader(std::unique_ptr<File> inner, InterferingFileSystem& owner)
        : inner_(std::move(inner)), owner_(owner) {}
    std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) override {
        owner_.before_read();
        return inner_->read_at(offset, buffer, size);
    }
    bool write(const void* data, std::size_t size) override { return inner_->write(data, size); }
    bool flush() override { return inner_->flush(); }

private:
    std::unique_ptr<File> inner_;
    InterferingFileSystem& owner_;
};

InterferingFileSystem::InterferingFileSystem(FileSystem& inner, std::string source, unsigned nth,
                                             std::function<void()> action)
    : ForwardingFileSystem(inner), source_(std::move(source)), nth_(nth),
      action_(std::move(action)) {}

std::unique_ptr<File> InterferingFileSystem::open_read(const std::string& path) {
    auto file = inner_.open_read(path);
    if (!file || !replacing_ || path != source_) return file;
    return std::make_unique<Reader>(std::move(file), *this);
}

void InterferingFileSystem::before_read() {
    if (++reads_ != nth_ || acted_) return;
    acted_ = true;
    if (action_) action_();
}

Digest DigestOf(const std::string& bytes) {
    return {bytes.size(), Fnv1a(bytes)};
}

std::optional<Digest> DigestOfFile(const std::string& path) {
    const auto bytes = testing::GetBytes(path);
    if (!bytes) return std::nullopt;
    return DigestOf(*bytes);
}

std::string EntryFor(const std::string& bytes) {
    const Digest digest = DigestOf(bytes);
    return std::to_string(digest.size) + " bytes #" + std::to_string(digest.hash);
}

Tree TreeOf(const std::string& folder) {
    Tree tree;
    Walk(folder, "", tree);
    return tree;
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    std::wstring pattern = Widen(folder);
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    const HANDLE search = FindFirstFileW((pattern + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do
        names.push_back(Narrow(found.cFileName));
    while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string TreeDifference(const Tree& before, const Tree& after) {
    std::string text;
    for (const auto& [path, entry] : before) {
        const auto now = after.find(path);
        if (now == after.end())
            text += "  gone: " + path + "\n";
        else if (now->second != entry)
            text += "  changed: " + path + " (" + entry + " -> " + now->second + ")\n";
    }
    for (const auto& [path, entry] : after)
        if (!before.count(path)) text += "  new: " + path + " (" + entry + ")\n";
    return text;
}

DWORD TryInAnotherProcess(const std::string& action, const std::string& path) {
    testing::Child child({"--try", action, path});
    if (!child.started()) return child.start_error();
    return child.wait(kGuardMs).value_or(static_cast<DWORD>(ERROR_TIMEOUT));
}

LockedFile::LockedFile(const std::string& path)
    : child_({"--lock", path, ready_.name(), release_.name()}) {
    if (!child_.started()) return;
    // The helper ends at once when it cannot lock, with the reason as its exit code.
    for (const ULONGLONG give_up = GetTickCount64() + kGuardMs; GetTickCount64() < give_up;) {
        if (ready_.wait(10)) {
            error_ = 0;
            return;
        }
        if (const auto code = child_.wait(0)) {
            error_ = *code;
            return;
        }
    }
}

LockedFile::~LockedFile() {
    release_.set();
    child_.wait(kGuardMs);
}

// Modes:
//   --lock PATH READY RELEASE   open PATH for reading (sharing reads, as the updater's
//                               own reading does), lock all of it exclusively, set
//                               READY, wait for RELEASE; ends with the error at once
//                               when it cannot
//   --try ACTION PATH           delete, rename (to PATH.moved), overwrite (the first
//                               bytes) or truncate PATH; exit code 0 or the error
std::optional<int> RunReliabilityMode() {
    const std::vector<std::wstring> args = testing::OwnArguments();
    if (args.empty()) return std::nullopt;

    if (args[0] == L"--lock" && args.size() == 4) {
        const HANDLE file = CreateFileW(args[1].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
        OVERLAPPED whole{};
        if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                        MAXDWORD, &whole))
            return static_cast<int>(GetLastError());
        const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, args[2].c_str());
        const HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, args[3].c_str());
        if (ready) SetEvent(ready);
        if (release) WaitForSingleObject(release, 120000);
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
        CloseHandle(file);
        return 0;
    }
    if (args[0] == L"--try" && args.size() == 3) {
        const std::wstring& action = args[1];
        const std::wstring& path = args[2];
        BOOL done = FALSE;
        if (action == L"delete") {
            done = DeleteFileW(path.c_str());
        } else if (action == L"rename") {
            done = MoveFileExW(path.c_str(), (path + L".moved").c_str(), 0);
        } else if (action == L"overwrite" || action == L"truncate") {
            const HANDLE file = CreateFileW(
                path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                nullptr, action == L"truncate" ? TRUNCATE_EXISTING : OPEN_EXISTING,
                FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
            DWORD written = 0;
            const char junk[] = "not what was downloaded";
            done =
                action == L"truncate" ||
                (WriteFile(file, junk, sizeof junk, &written, nullptr) && written == sizeof junk);
            const DWORD error = GetLastError();
            CloseHandle(file);
            if (!done) return static_cast<int>(error);
        } else {
            return static_cast<int>(ERROR_INVALID_PARAMETER);
        }
        return done ? 0 : static_cast<int>(GetLastError());
    }
    return std::nullopt;
}

} // namespace tervan::reliability
