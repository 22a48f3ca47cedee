// The lock-file convention of the serial tools on Linux (minicom, picocom,
// cu, ModemManager): a program that uses /dev/ttyUSB0 holds the file
// LCK..ttyUSB0 in the lock directory (/run/lock, else /var/lock), which
// holds its process id as ten ASCII characters and a newline. Programs that
// take a port this way do not flock it, so a lock file is the only thing
// that tells them (and us) that the port is taken.
#pragma once

#include <string>

namespace tarvo::rt {

class DeviceLockFile {
public:
    DeviceLockFile() = default;
    ~DeviceLockFile();
    DeviceLockFile(DeviceLockFile&& other) noexcept;
    DeviceLockFile& operator=(DeviceLockFile&& other) noexcept;
    DeviceLockFile(const DeviceLockFile&) = delete;
    DeviceLockFile& operator=(const DeviceLockFile&) = delete;

    // The lock file held, empty when none is.
    const std::string& path() const { return path_; }
    // Removes the lock file if it still names this process.
    void release();

    // Takes the lock of `device` in `directory` (the system's lock directory
    // when empty). Returns an empty string when this process holds the lock
    // now, or when no lock can be had for reasons that are not another
    // holder (no lock directory, not writable: the port is used without a
    // lock file, as the serial tools do); else the reason the device is
    // taken, one line. A lock of a process that no longer runs is stale and
    // is taken over.
    std::string acquire(const std::string& device, const std::string& directory = {});

private:
    std::string path_;
};

// The lock file's name for a device: the real device path without "/dev/",
// every further '/' as '_' (/dev/ttyUSB0 -> LCK..ttyUSB0, /dev/pts/7 ->
// LCK..pts_7), the same for every symlink to the device.
std::string lockFileName(const std::string& device);

// The system's lock directory, or empty when it has none.
std::string lockDirectory();

}  // namespace tarvo::rt
