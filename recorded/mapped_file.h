// A data file mapped into memory, read-only, behind one small class: mmap on
// POSIX systems, CreateFileMapping on Windows.
//
// Principles: the whole file is mapped at once (address space is cheap on a
// 64-bit system), and the reader gives back the pages it has gone past with
// release(), so that scanning a file of gigabytes leaves the process's
// resident memory small: the pages stay in the system's file cache and come
// back without a disk read when they are touched again. The recorder may
// still be appending to the file: remap() takes in what was added.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo::recorded {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Opens and maps a regular file. False, with the reason in `why`, when
    // it cannot (missing, unreadable, a directory or a FIFO).
    bool open(const std::string& path, std::string& why);
    void close();

    // The file's bytes as of the last open() or remap(). An empty file maps
    // to a null pointer and size 0.
    const char* data() const { return data_; }
    uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }

    // Maps the file again at its present size when it has grown: every
    // pointer into the old mapping is then invalid. Returns false, with the
    // reason, when the file cannot be read any more; a file that shrank is
    // left mapped as it was (`shrunk` says so).
    bool remap(std::string& why, bool* shrunk = nullptr);

    // Whether `path` still names the file that is open (a new run may have
    // put another data.txt in its place, keeping this one under a dated name).
    bool isAt(const std::string& path) const;

    // The bytes [offset, offset + length) are not needed soon: their pages
    // leave this process's resident set. Reading them later is still valid.
    void release(uint64_t offset, uint64_t length) const;

private:
    // What differs per system (mapped_file_posix.cpp, mapped_file_win32.cpp):
    // opening a regular file for reading (false with the reason; what was
    // opened is closed by close()), its present size, mapping size_ bytes of
    // it, and undoing each. The rest is one body (mapped_file.cpp).
    bool openFile(const std::string& path, std::string& why);
    bool isOpen() const;
    bool currentSize(uint64_t& size, std::string& why) const;
    bool map(std::string& why);
    void unmap();
    void closeFile();
    // Hands the pages of [offset, to) back; offset < to <= size_ or empty.
    void dropPages(uint64_t offset, uint64_t to) const;

    std::string path_;
    const char* data_ = nullptr;
    uint64_t size_ = 0;
#ifdef _WIN32
    void* file_ = nullptr;     // HANDLE
    void* mapping_ = nullptr;  // HANDLE
#else
    int fd_ = -1;
#endif
};

}  // namespace tarvo::recorded
