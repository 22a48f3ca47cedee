// MappedFile's system calls on Windows: CreateFile, CreateFileMapping,
// VirtualUnlock.
#include "mapped_file.h"

#include <windows.h>

namespace tarvo::recorded {

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

// The recorder keeps writing the file, and a new run may rename it.
HANDLE openShared(const std::string& path, DWORD access)
{
    return CreateFileW(widen(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool MappedFile::openFile(const std::string& path, std::string& why)
{
    HANDLE h = openShared(path, GENERIC_READ);
    if (h == INVALID_HANDLE_VALUE) {
        why = lastError();
        return false;
    }
    file_ = h;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        why = "not a regular file";
        return false;
    }
    return true;
}

bool MappedFile::isOpen() const { return file_ != nullptr; }

bool MappedFile::currentSize(uint64_t& size, std::string& why) const
{
    LARGE_INTEGER now;
    if (!GetFileSizeEx(static_cast<HANDLE>(file_), &now)) {
        why = lastError();
        return false;
    }
    size = static_cast<uint64_t>(now.QuadPart);
    return true;
}

bool MappedFile::map(std::string& why)
{
    if (size_ == 0)
        return true;  // a mapping of nothing is refused: nothing to map
    const DWORD hi = static_cast<DWORD>(size_ >> 32), lo = static_cast<DWORD>(size_);
    mapping_ =
        CreateFileMappingW(static_cast<HANDLE>(file_), nullptr, PAGE_READONLY, hi, lo, nullptr);
    if (mapping_ == nullptr) {
        why = "cannot map it: " + lastError();
        return false;
    }
    data_ = static_cast<const char*>(MapViewOfFile(static_cast<HANDLE>(mapping_), FILE_MAP_READ, 0,
                                                   0, static_cast<SIZE_T>(size_)));
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

void MappedFile::closeFile()
{
    if (file_ != nullptr)
        CloseHandle(static_cast<HANDLE>(file_));
    file_ = nullptr;
}

bool MappedFile::isAt(const std::string& path) const
{
    if (file_ == nullptr)
        return false;
    HANDLE h = openShared(path, 0);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    const bool same = identity(static_cast<HANDLE>(file_), a) && identity(h, b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(h);
    return same;
}

void MappedFile::dropPages(uint64_t offset, uint64_t to) const
{
    // Unlocking pages that were never locked takes them out of the working
    // set, which is what is wanted here (the call then reports an error).
    VirtualUnlock(const_cast<char*>(data_) + offset, static_cast<SIZE_T>(to - offset));
}

}  // namespace tarvo::recorded
