// The serial ports of a Linux machine, found in sysfs (/sys/class/tty).
//
// The default table:
//   1-16   /dev/ttyS0  .. /dev/ttyS15    (built-in UARTs)
//   17-32  /dev/ttyUSB0 .. /dev/ttyUSB15 (USB-serial adapters)
//   33-48  /dev/ttyACM0 .. /dev/ttyACM15 (USB CDC-ACM devices)
#include "machine_ports.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>

namespace tarvo::rt::machine {

namespace {

struct DefaultRange {
    int first;           // first port number
    const char* prefix;  // device name without its index
};
// Sixteen numbers per family.
constexpr DefaultRange kDefaultRanges[] = {
    {1, "ttyS"},
    {17, "ttyUSB"},
    {33, "ttyACM"},
};
constexpr int kPerFamily = 16;

// Reverse of defaultDevice for a name such as "ttyUSB3"; 0 when it has no number.
int defaultNumber(const std::string& name)
{
    for (const auto& r : kDefaultRanges) {
        const std::string prefix = r.prefix;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string digits = name.substr(prefix.size());
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        if (digits.size() > 2)
            return 0;
        const int index = std::stoi(digits);
        return index < kPerFamily ? r.first + index : 0;
    }
    return 0;
}

std::string readLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::string realPath(const std::string& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return {};
    return resolved;
}

bool exists(const std::string& path) { return !realPath(path).empty(); }

// A USB tty's sysfs device is an interface (or a port below one); the USB
// device with the manufacturer and product strings is the first ancestor that
// has an idVendor file.
std::string usbDescription(const std::string& ttyName)
{
    std::string dir = realPath("/sys/class/tty/" + ttyName + "/device");
    for (int depth = 0; depth < 4 && !dir.empty() && dir != "/sys"; ++depth) {
        if (exists(dir + "/idVendor")) {
            std::string text = readLine(dir + "/manufacturer");
            const std::string product = readLine(dir + "/product");
            if (!product.empty())
                text += (text.empty() ? "" : " ") + product;
            if (text.empty())
                text = readLine(dir + "/idVendor") + ":" + readLine(dir + "/idProduct");
            return "USB adapter: " + text;
        }
        dir = dir.substr(0, dir.rfind('/'));
    }
    return "USB adapter";
}

// The 8250 driver registers every ttyS it might have, present or not. One
// that is really there has a driver bound to its device and a known UART type
// (the type file holds the kernel's PORT_* number; 0 is PORT_UNKNOWN).
bool uartPresent(const std::string& ttyName)
{
    const std::string base = "/sys/class/tty/" + ttyName;
    if (!exists(base + "/device/driver"))
        return false;
    const std::string type = readLine(base + "/type");
    return !type.empty() && type != "0";
}

// The sysfs name of a device path, following links such as /dev/serial/by-id/...
std::string ttyNameOf(const std::string& device)
{
    std::string path = realPath(device);
    if (path.empty())
        path = device;
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

std::string defaultDevice(int port)
{
    for (const auto& r : kDefaultRanges)
        if (port >= r.first && port < r.first + kPerFamily)
            return "/dev/" + std::string(r.prefix) + std::to_string(port - r.first);
    return {};
}

std::vector<Port> ports()
{
    std::vector<Port> found;
    DIR* dir = ::opendir("/sys/class/tty");
    if (!dir)
        return found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const int number = defaultNumber(name);
        if (number == 0)
            continue;
        if (name.rfind("ttyS", 0) == 0) {
            if (uartPresent(name))
                found.push_back({number, "/dev/" + name, "serial port"});
        } else {
            found.push_back({number, "/dev/" + name, usbDescription(name)});
        }
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(),
              [](const Port& a, const Port& b) { return a.number < b.number; });
    return found;
}

std::string describe(const std::string& device)
{
    const std::string name = ttyNameOf(device);
    if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0)
        return usbDescription(name);
    if (name.rfind("ttyS", 0) == 0)
        return "serial port";
    return "serial device";
}

// The same device under another name (a /dev/serial/by-id link) is one device.
std::string canonical(const std::string& device)
{
    const std::string path = realPath(device);
    return path.empty() ? device : path;
}

}  // namespace tarvo::rt::machine
