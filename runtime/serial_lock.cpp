#include "serial_lock.h"

#include "options.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo::rt {

namespace {

// A lock file with no readable process id may be one that another program
// is just writing (the usual create-then-write leaves it empty for a
// moment): it counts as held while it is this young.
constexpr time_t kFreshSeconds = 2;

struct Holder {
    std::optional<pid_t> pid;  // none: the contents are no process id
    time_t modified = 0;
};

std::optional<Holder> readHolder(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    Holder h;
    struct stat st {};
    if (::fstat(fd, &st) == 0)
        h.modified = st.st_mtime;
    char buf[32] = {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n > 0) {
        buf[n] = '\0';
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(buf, &end, 10);
        // Blanks before the number, a newline after it.
        if (end != buf && errno == 0 && v > 0 && v <= INT_MAX && (*end == '\n' || *end == '\0'))
            h.pid = static_cast<pid_t>(v);
    }
    return h;
}

bool running(pid_t pid)
{
    // EPERM: the process exists and belongs to another user.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// Writes this process's lock contents to a private file in `dir`, for
// linking into place: the lock then appears whole or not at all.
std::string writeTemporary(const std::string& dir, const std::string& contents)
{
    static std::atomic<unsigned> serial{0};
    const std::string tmp =
        dir + "/LTMP." + std::to_string(::getpid()) + "." + std::to_string(serial.fetch_add(1));
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return {};
    // Readable by every user whatever the umask: other programs must be able
    // to read the process id.
    ::fchmod(fd, 0644);
    const bool ok =
        ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    ::close(fd);
    if (!ok) {
        ::unlink(tmp.c_str());
        return {};
    }
    return tmp;
}

}  // namespace

std::string lockFileName(const std::string& device)
{
    char resolved[PATH_MAX];
    std::string name = ::realpath(device.c_str(), resolved) ? std::string(resolved) : device;
    if (name.rfind("/dev/", 0) == 0)
        name.erase(0, 5);
    else if (!name.empty() && name[0] == '/')
        name.erase(0, 1);
    for (char& c : name)
        if (c == '/')
            c = '_';
    return "LCK.." + name;
}

std::string lockDirectory()
{
#if defined(__linux__)
    for (const char* dir : {"/run/lock", "/var/lock"}) {
        struct stat st {};
        if (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode))
            return dir;
    }
#endif
    return {};
}

DeviceLockFile::~DeviceLockFile() { release(); }

DeviceLockFile::DeviceLockFile(DeviceLockFile&& other) noexcept
    : path_(std::exchange(other.path_, {}))
{
}

DeviceLockFile& DeviceLockFile::operator=(DeviceLockFile&& other) noexcept
{
    if (this != &other) {
        release();
        path_ = std::exchange(other.path_, {});
    }
    return *this;
}

void DeviceLockFile::release()
{
    if (path_.empty())
        return;
    // Only our own lock: after a takeover by mistake, another's stays.
    if (auto h = readHolder(path_); h && h->pid == ::getpid())
        ::unlink(path_.c_str());
    path_.clear();
}

std::string DeviceLockFile::acquire(const std::string& device, const std::string& directory)
{
    release();
    const std::string dir = directory.empty() ? lockDirectory() : directory;
    if (dir.empty())
        return {};
    const std::string name = dir + "/" + lockFileName(device);

    char contents[16];
    std::snprintf(contents, sizeof contents, "%10d\n", static_cast<int>(::getpid()));
    const std::string tmp = writeTemporary(dir, contents);
    // A directory we may not write to: the serial tools go on without a
    // lock, and so does the port.
    if (tmp.empty())
        return {};

    std::string busy;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::link(tmp.c_str(), name.c_str()) == 0) {
            ::unlink(tmp.c_str());
            path_ = name;
            return {};
        }
        if (errno != EEXIST) {
            // A file system without hard links: an exclusive create will do.
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0) {
                ::fchmod(fd, 0644);
                const bool ok = ::write(fd, contents, 11) == 11;
                ::close(fd);
                ::unlink(tmp.c_str());
                if (!ok) {
                    ::unlink(name.c_str());
                    return {};
                }
                path_ = name;
                return {};
            }
            if (errno != EEXIST) {
                ::unlink(tmp.c_str());
                return {};
            }
        }
        const std::optional<Holder> h = readHolder(name);
        if (!h)
            continue;  // removed in between: try again
        if (h->pid && running(*h->pid)) {
            busy =
                "busy: locked by process " + std::to_string(*h->pid) + " (" + quotePath(name) + ")";
            break;
        }
        if (!h->pid && std::time(nullptr) - h->modified < kFreshSeconds) {
            busy = "busy: locked by another program (" + quotePath(name) + ")";
            break;
        }
        // Stale: its process is gone (killed, or the machine lost power).
        ::unlink(name.c_str());
    }
    ::unlink(tmp.c_str());
    return busy.empty() ? "busy: cannot take over the lock file " + quotePath(name) : busy;
}

}  // namespace tarvo::rt
