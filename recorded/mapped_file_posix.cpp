// MappedFile's system calls on POSIX systems: open, fstat, mmap, madvise.
#include "mapped_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo::recorded {

bool MappedFile::openFile(const std::string& path, std::string& why)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st = {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode) ? "a directory, not a data file" : "not a regular file";
        return false;
    }
    return true;
}

bool MappedFile::isOpen() const { return fd_ >= 0; }

bool MappedFile::currentSize(uint64_t& size, std::string& why) const
{
    struct stat st = {};
    if (::fstat(fd_, &st) != 0) {
        why = std::strerror(errno);
        return false;
    }
    size = static_cast<uint64_t>(st.st_size);
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

void MappedFile::closeFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool MappedFile::isAt(const std::string& path) const
{
    struct stat mine = {}, there = {};
    return fd_ >= 0 && ::fstat(fd_, &mine) == 0 && ::stat(path.c_str(), &there) == 0 &&
           mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
}

void MappedFile::dropPages(uint64_t offset, uint64_t to) const
{
    static const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    const uint64_t from = offset - offset % page;
    if (to > from)
        ::madvise(const_cast<char*>(data_) + from, to - from, MADV_DONTNEED);
}

}  // namespace tarvo::recorded
