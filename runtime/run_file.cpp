// The files a run writes its records into: held by their run against every
// other, opened without waiting on a FIFO that has no reader, and cut back to
// whole records when they are closed.
#include "runtime.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

void tell(char* why, int whySize, const std::string& text)
{
    if (why && whySize > 0)
        std::snprintf(why, static_cast<size_t>(whySize), "%s", text.c_str());
}

#ifndef _WIN32
using Offset = off_t;
int dupOf(FILE* f) { return ::dup(::fileno(f)); }
void closeFd(int fd) { ::close(fd); }
FILE* writeStream(int fd) { return ::fdopen(fd, "wb"); }
#else
using Offset = long long;
int dupOf(FILE* f) { return ::_dup(::_fileno(f)); }
void closeFd(int fd) { ::_close(fd); }
FILE* writeStream(int fd) { return ::_fdopen(fd, "wb"); }
#endif

// A stream that writes to `fd`; null, with the reason, and `fd` closed,
// when there is none.
FILE* streamOver(int fd, char* why, int whySize)
{
    FILE* f = writeStream(fd);
    if (!f) {
        tell(why, whySize, std::strerror(errno));
        closeFd(fd);
    }
    return f;
}

// The largest whole-record length at or below `size`: records of `recordLength`
// bytes, or lines when it is 0. `readAt` reads the file's bytes at an offset.
template <class ReadAt>
Offset wholeLength(Offset size, int recordLength, ReadAt readAt)
{
    if (recordLength > 0)
        return size - size % recordLength;
    // Back from the end to the last line end, a block at a time.
    char block[512];
    Offset end = size;
    while (end > 0) {
        const Offset from = end > Offset(sizeof block) ? end - Offset(sizeof block) : 0;
        const long n = readAt(block, static_cast<size_t>(end - from), from);
        if (n != static_cast<long>(end - from))
            return size;  // unreadable: leave the file as it is
        for (long i = n - 1; i >= 0; --i)
            if (block[i] == '\n')
                return from + i + 1;
        end = from;
    }
    return 0;
}

}  // namespace

#ifndef _WIN32

FILE* OpenRunFile(const char* path, char* why, int whySize)
{
    // Non-blocking: a FIFO with no reader refuses at once (ENXIO) instead of
    // waiting in open() with the port held and signals unanswered.
    int fd = ::open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        tell(why, whySize, errno == ENXIO ? "a FIFO with no reader" : std::strerror(errno));
        return nullptr;
    }
    // A regular file is held open for reading too, so that closing it can
    // find its last whole line. (Read-write on a FIFO would make this
    // process its own reader.)
    struct stat first = {};
    if (::fstat(fd, &first) == 0 && S_ISREG(first.st_mode)) {
        const int rw = ::open(path, O_RDWR | O_CLOEXEC);
        struct stat second = {};
        if (rw >= 0 && ::fstat(rw, &second) == 0 && second.st_dev == first.st_dev &&
            second.st_ino == first.st_ino) {
            ::close(fd);
            fd = rw;
        } else if (rw >= 0) {
            ::close(rw);
        }
    }
    // The hold: a flock, which goes only with this open file. A POSIX record
    // lock beside it names this process to the next run that asks (flock
    // cannot tell who holds it).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EWOULDBLOCK) {
            struct flock held = {};
            held.l_type = F_WRLCK;
            held.l_whence = SEEK_SET;
            std::string text = "in use by another program";
            if (::fcntl(fd, F_GETLK, &held) == 0 && held.l_type != F_UNLCK && held.l_pid > 0)
                text = "in use by process " + std::to_string(held.l_pid);
            tell(why, whySize, text);
            ::close(fd);
            return nullptr;
        }
        // A file system without locks (some network mounts) still records.
    }
    struct flock mine = {};
    mine.l_type = F_WRLCK;
    mine.l_whence = SEEK_SET;
    ::fcntl(fd, F_SETLK, &mine);
    // From here on writes wait as usual: a FIFO's reader sets the pace.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return streamOver(fd, why, whySize);
}

// Cuts the regular file open on `fd` back to its last whole record.
static int cutBack(int fd, int recordLength)
{
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    const Offset whole =
        wholeLength(st.st_size, recordLength, [fd](char* buf, size_t n, Offset at) {
            return static_cast<long>(::pread(fd, buf, n, at));
        });
    return whole < st.st_size && ::ftruncate(fd, whole) != 0 ? -1 : 0;
}

#else

FILE* OpenRunFile(const char* path, char* why, int whySize)
{
    // Others may read it (a viewer following the run), nobody else may write.
    HANDLE h =
        ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION) {
            tell(why, whySize, "in use by another program");
        } else {
            char text[256] = {};
            ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             err, 0, text, sizeof text, nullptr);
            std::string s = text;
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.'))
                s.pop_back();
            tell(why, whySize, s.empty() ? "cannot be opened" : s);
        }
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        tell(why, whySize, "cannot be opened");
        return nullptr;
    }
    return streamOver(fd, why, whySize);
}

static int cutBack(int fd, int recordLength)
{
    struct _stat64 st = {};
    if (::_fstat64(fd, &st) != 0 || !(st.st_mode & _S_IFREG))
        return 0;
    HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    const Offset whole = wholeLength(st.st_size, recordLength, [h](char* buf, size_t n, Offset at) {
        OVERLAPPED o = {};
        o.Offset = static_cast<DWORD>(at & 0xFFFFFFFF);
        o.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        return ::ReadFile(h, buf, static_cast<DWORD>(n), &got, &o) ? static_cast<long>(got) : -1L;
    });
    return whole < st.st_size && ::_chsize_s(fd, whole) != 0 ? -1 : 0;
}

#endif

int CloseRunFile(FILE* f, int recordLength)
{
    if (!f)
        return -1;
    if (recordLength < 0)
        return std::fclose(f) == 0 ? 0 : -1;
    // A second descriptor of the same open file keeps the hold while the
    // stream writes out what it has and closes; then the cut.
    const int fd = dupOf(f);
    int result = std::fclose(f) == 0 ? 0 : -1;
    if (fd < 0)
        return result;
    if (cutBack(fd, recordLength) != 0)
        result = -1;
    closeFd(fd);
    return result;
}
