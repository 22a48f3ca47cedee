#include "mapped_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarvo::recorded {

MappedFile::~MappedFile() { close(); }

#ifndef _WIN32

bool MappedFile::open(const std::string& path, std::string& why)
{
    close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st = {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode) ? "a directory, not a data file" : "not a regular file";
        close();
        return false;
    }
    path_ = path;
    size_ = static_cast<uint64_t>(st.st_size);
    if (!map(why)) {
        close();
        return false;
    }
    return true;
}

bool MappedFile::map(std::string& why)
{
    if (size_ == 0)
        return true;
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) {
        why = std::string("cannot map it: ") + std::strerror(errno);
        return false;
    }
    data_ = static_cast<const char*>(p);
    return true;
}

void MappedFile::unmap()
{
    if (data_ != nullptr)
        ::munmap(const_cast<char*>(data_), size_);
    data_ = nullptr;
}

void MappedFile::close()
{
    unmap();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

bool MappedFile::remap(std::string& why, bool* shrunk)
{
    if (shrunk) *shrunk = false;
    struct stat st = {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        why = fd_ < 0 ? "not open" : std::strerror(errno);
        return false;
    }
    const uint64_t now = static_cast<uint64_t>(st.st_size);
    if (now < size_ && shrunk) *shrunk = true;
    if (now <= size_)
        return true;
    unmap();
    size_ = now;
    return map(why);
}

bool MappedFile::isAt(const std::string& path) const
{
    struct stat mine = {}, there = {};
    return fd_ >= 0 && ::fstat(fd_, &mine) == 0 && ::stat(path.c_str(), &there) == 0 &&
           mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
}

void MappedFile::release(uint64_t offset, uint64_t length) const
{
    if (data_ == nullptr || offset >= size_)
        return;
    static const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    const uint64_t from = offset - offset % page;
    const uint64_t to = std::min(size_, offset + length);
    if (to > from)
        ::madvise(const_cast<char*>(data_) + from, to - from, MADV_DONTNEED);
}

#else  // _WIN32

namespace {

std::wstring widen(const std::string& s)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
    if (!w.empty())
        w.pop_back();  // the terminating null
    return w;
}

std::string lastError()
{
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   GetLastError(), 0, text, sizeof text, nullptr);
    std::string s = text;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.'))
        s.pop_back();
    return s.empty() ? "error " + std::to_string(GetLastError()) : s;
}

bool identity(HANDLE h, BY_HANDLE_FILE_INFORMATION& info)
{
    return GetFileInformationByHandle(h, &info) != 0;
}

}  // namespace

bool MappedFile::open(const std::string& path, std::string& why)
{
    close();
    // The recorder keeps writing the file, and a new run may rename it.
    HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = lastError();
        return false;
    }
    file_ = h;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        why = "not a regular file";
        close();
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size)) {
        why = lastError();
        close();
        return false;
    }
    path_ = path;
    size_ = static_cast<uint64_t>(size.QuadPart);
    if (!map(why)) {
        close();
        return false;
    }
    return true;
}

bool MappedFile::map(std::string& why)
{
    if (size_ == 0)
        return true;  // a mapping of nothing is refused: nothing to map
    const DWORD hi = static_cast<DWORD>(size_ >> 32), lo = static_cast<DWORD>(size_);
    mapping_ = CreateFileMappingW(static_cast<HANDLE>(file_), nullptr, PAGE_READONLY, hi, lo, nullptr);
    if (mapping_ == nullptr) {
        why = "cannot map it: " + lastError();
        return false;
    }
    data_ = static_cast<const char*>(MapViewOfFile(static_cast<HANDLE>(mapping_), FILE_MAP_READ, 0, 0,
                                                   static_cast<SIZE_T>(size_)));
    if (data_ == nullptr) {
        why = "cannot map it: " + lastError();
        return false;
    }
    return true;
}

void MappedFile::unmap()
{
    if (data_ != nullptr)
        UnmapViewOfFile(data_);
    data_ = nullptr;
    if (mapping_ != nullptr)
        CloseHandle(static_cast<HANDLE>(mapping_));
    mapping_ = nullptr;
}

void MappedFile::close()
{
    unmap();
    if (file_ != nullptr)
        CloseHandle(static_cast<HANDLE>(file_));
    file_ = nullptr;
    size_ = 0;
}

bool MappedFile::remap(std::string& why, bool* shrunk)
{
    if (shrunk) *shrunk = false;
    LARGE_INTEGER size;
    if (file_ == nullptr || !GetFileSizeEx(static_cast<HANDLE>(file_), &size)) {
        why = file_ == nullptr ? "not open" : lastError();
        return false;
    }
    const uint64_t now = static_cast<uint64_t>(size.QuadPart);
    if (now < size_ && shrunk) *shrunk = true;
    if (now <= size_)
        return true;
    unmap();
    size_ = now;
    return map(why);
}

bool MappedFile::isAt(const std::string& path) const
{
    if (file_ == nullptr)
        return false;
    HANDLE h = CreateFileW(widen(path).c_str(), 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    const bool same = identity(static_cast<HANDLE>(file_), a) && identity(h, b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(h);
    return same;
}

void MappedFile::release(uint64_t offset, uint64_t length) const
{
    if (data_ == nullptr || offset >= size_)
        return;
    const uint64_t to = offset + length < size_ ? offset + length : size_;
    // Unlocking pages that were never locked takes them out of the working
    // set, which is what is wanted here (the call then reports an error).
    VirtualUnlock(const_cast<char*>(data_) + offset, static_cast<SIZE_T>(to - offset));
}

#endif

}  // namespace tarvo::recorded
