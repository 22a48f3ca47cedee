// The part of MappedFile that is the same on every system; the system calls
// are in mapped_file_posix.cpp and mapped_file_win32.cpp.
#include "mapped_file.h"

#include <algorithm>

namespace tarvo::recorded {

MappedFile::~MappedFile() { close(); }

bool MappedFile::open(const std::string& path, std::string& why)
{
    close();
    uint64_t size = 0;
    if (!openFile(path, why) || !currentSize(size, why)) {
        close();
        return false;
    }
    path_ = path;
    size_ = size;
    if (!map(why)) {
        close();
        return false;
    }
    return true;
}

void MappedFile::close()
{
    unmap();
    closeFile();
    size_ = 0;
}

bool MappedFile::remap(std::string& why, bool* shrunk)
{
    if (shrunk)
        *shrunk = false;
    if (!isOpen()) {
        why = "not open";
        return false;
    }
    uint64_t now = 0;
    if (!currentSize(now, why))
        return false;
    if (now < size_ && shrunk)
        *shrunk = true;
    if (now <= size_)
        return true;
    unmap();
    size_ = now;
    return map(why);
}

void MappedFile::release(uint64_t offset, uint64_t length) const
{
    if (data_ == nullptr || offset >= size_)
        return;
    dropPages(offset, std::min(size_, offset + length));
}

}  // namespace tarvo::recorded
