#include "platform/posix/posix_file_system.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/file_version.hpp"

namespace tervan {

std::string ToPosixPath(const std::string& path) {
    std::string result = path;
    for (char& c : result)
        if (c == '\\') c = '/';
    return result;
}

namespace {

class PosixFile : public File {
    static constexpr std::int64_t kNanoseconds = 1'000'000'000;

public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override { ::close(fd_); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) override {
        for (;;) {
            const ssize_t got = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
            if (got >= 0) return got;
            if (errno != EINTR) return -1;
        }
    }

    bool write(const void* data, std::size_t size) override {
        const auto* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t put = ::write(fd_, p, size);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            p += put;
            size -= static_cast<std::size_t>(put);
        }
        return true;
    }

    bool flush() override { return ::fsync(fd_) == 0; }

    // Nanoseconds since 1970.
    std::optional<std::int64_t> last_write_time() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return std::nullopt;
        return std::int64_t{st.st_mtim.tv_sec} * kNanoseconds + st.st_mtim.tv_nsec;
    }

    void set_last_write_time(std::int64_t time) override {
        std::int64_t seconds = time / kNanoseconds, rest = time % kNanoseconds;
        if (rest < 0) { // before 1970
            rest += kNanoseconds;
            --seconds;
        }
        const timespec times[2] = {{0, UTIME_OMIT},
                                   {static_cast<time_t>(seconds), static_cast<long>(rest)}};
        ::futimens(fd_, times);
    }

private:
    int fd_;
};

std::string ParentFolder(const std::string& posix_path) {
    const auto slash = posix_path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return posix_path.substr(0, slash);
}

} // namespace

std::unique_ptr<File> PosixFileSystem::open_read(const std::string& path) {
    const int fd = ::open(ToPosixPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
}

bool PosixFileSystem::exists(const std::string& path) {
    struct stat st {};
    return ::lstat(ToPosixPath(path).c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

NewFile PosixFileSystem::create_new(const std::string& path) {
    const std::string name = ToPosixPath(path);
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) return {std::make_unique<PosixFile>(fd)};
    // No permission, and nothing of that name in the way: the folder refuses.
    struct stat st {};
    const bool refused = (errno == EACCES || errno == EPERM || errno == EROFS) &&
                         ::lstat(name.c_str(), &st) != 0 && errno == ENOENT;
    return {nullptr, refused};
}

bool PosixFileSystem::rename_replace(const std::string& from, const std::string& to) {
    const std::string target = ToPosixPath(to);
    // Like the read-only attribute on Windows, a file nobody may write is not
    // replaced, whoever runs the program.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) return false;
    if (::rename(ToPosixPath(from).c_str(), target.c_str()) != 0) return false;
    // The rename itself must reach the disk too, or a power loss could bring the old
    // name back.
    const int dir = ::open(ParentFolder(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool PosixFileSystem::remove(const std::string& path) {
    return ::unlink(ToPosixPath(path).c_str()) == 0 || errno == ENOENT;
}

std::string PosixFileSystem::file_version_text(const std::string& path) {
    const auto file = open_read(path);
    return file ? FileVersionText(*file) : std::string();
}

} // namespace tervan
