// The serial ports of a macOS machine: its call-out devices (/dev/cu.*),
// numbered from 1 in name order.
#include "machine_ports.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>

namespace tarvo::rt::machine {

namespace {

std::vector<std::string> callOutDevices()
{
    std::vector<std::string> found;
    if (DIR* dir = ::opendir("/dev")) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind("cu.", 0) == 0)
                found.push_back("/dev/" + name);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

std::string defaultDevice(int port)
{
    const auto devices = callOutDevices();
    return port >= 1 && port <= static_cast<int>(devices.size()) ? devices[port - 1]
                                                                 : std::string();
}

std::vector<Port> ports()
{
    std::vector<Port> found;
    const auto devices = callOutDevices();
    for (std::size_t i = 0; i < devices.size(); ++i)
        found.push_back({static_cast<int>(i) + 1, devices[i], describe(devices[i])});
    return found;
}

std::string describe(const std::string& device)
{
    return device.find("usb") != std::string::npos ? "USB adapter: " + device.substr(8)
                                                   : "serial port";
}

// The same device under another name (a link to it) is one device.
std::string canonical(const std::string& device)
{
    char resolved[PATH_MAX];
    return ::realpath(device.c_str(), resolved) ? std::string(resolved) : device;
}

}  // namespace tarvo::rt::machine
