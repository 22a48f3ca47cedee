// Port numbers to devices, and the list of ports the panel offers.
//
// The default table, used for every number that no --com entry takes:
//
//   Linux    1-16   /dev/ttyS0  .. /dev/ttyS15    (built-in UARTs)
//            17-32  /dev/ttyUSB0 .. /dev/ttyUSB15 (USB-serial adapters)
//            33-48  /dev/ttyACM0 .. /dev/ttyACM15 (USB CDC-ACM devices)
//   macOS    1-...  the /dev/cu.* devices, numbered from 1 in name order
//   Windows  N      COMN
//   all      99     the built-in virtual board
//
// The table is fixed rather than first-come numbering so that a port keeps its
// number when another adapter is plugged in or removed.
#include "com_table.h"
#include "runtime.h"

#include <cstdio>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

#if defined(_WIN32)
#include <windows.h>

#include <cctype>
#else
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <fstream>
#endif

namespace tarvo::rt {

namespace {

struct ComEntries {
    std::mutex mutex;
    std::map<int, std::string> devices;  // ordered: listPorts shows them by number
};

ComEntries& comEntries() {
    static ComEntries entries;
    return entries;
}

bool isVirtual(const std::string& device) { return device == kVirtualDevice; }

#if !defined(_WIN32)
// The same device under another name (a /dev/serial/by-id link) is one device.
std::string canonical(const std::string& device) {
    char resolved[PATH_MAX];
    return ::realpath(device.c_str(), resolved) ? std::string(resolved) : device;
}
#else
// "com3", "\\.\COM3" and "COM3" are one port.
std::string canonical(const std::string& device) {
    std::string name = device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}
#endif

#if defined(__linux__)

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

std::string defaultDevice(int port) {
    for (const auto& r : kDefaultRanges)
        if (port >= r.first && port < r.first + kPerFamily)
            return "/dev/" + std::string(r.prefix) + std::to_string(port - r.first);
    return {};
}

// Reverse of defaultDevice for a name such as "ttyUSB3"; 0 when it has no number.
int defaultNumber(const std::string& name) {
    for (const auto& r : kDefaultRanges) {
        const std::string prefix = r.prefix;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        if (digits.size() > 2) return 0;
        const int index = std::stoi(digits);
        return index < kPerFamily ? r.first + index : 0;
    }
    return 0;
}

std::string readLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    return line;
}

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return {};
    return resolved;
}

bool exists(const std::string& path) { return !realPath(path).empty(); }

// A USB tty's sysfs device is an interface (or a port below one); the USB
// device with the manufacturer and product strings is the first ancestor that
// has an idVendor file.
std::string usbDescription(const std::string& ttyName) {
    std::string dir = realPath("/sys/class/tty/" + ttyName + "/device");
    for (int depth = 0; depth < 4 && !dir.empty() && dir != "/sys"; ++depth) {
        if (exists(dir + "/idVendor")) {
            std::string text = readLine(dir + "/manufacturer");
            const std::string product = readLine(dir + "/product");
            if (!product.empty()) text += (text.empty() ? "" : " ") + product;
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
bool uartPresent(const std::string& ttyName) {
    const std::string base = "/sys/class/tty/" + ttyName;
    if (!exists(base + "/device/driver")) return false;
    const std::string type = readLine(base + "/type");
    return !type.empty() && type != "0";
}

struct MachinePort {
    std::string name;  // "ttyUSB0"
    std::string description;
};

std::vector<MachinePort> machinePorts() {
    std::vector<MachinePort> found;
    DIR* dir = ::opendir("/sys/class/tty");
    if (!dir) return found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (defaultNumber(name) == 0) continue;
        if (name.rfind("ttyS", 0) == 0) {
            if (uartPresent(name)) found.push_back({name, "serial port"});
        } else {
            found.push_back({name, usbDescription(name)});
        }
    }
    ::closedir(dir);
    return found;
}

// The sysfs name of a device path, following links such as /dev/serial/by-id/...
std::string ttyNameOf(const std::string& device) {
    std::string path = realPath(device);
    if (path.empty()) path = device;
    return path.substr(path.rfind('/') + 1);
}

std::string describeDevice(const std::string& device) {
    const std::string name = ttyNameOf(device);
    if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) return usbDescription(name);
    if (name.rfind("ttyS", 0) == 0) return "serial port";
    return "serial device";
}

#elif defined(__APPLE__)

std::vector<std::string> callOutDevices() {
    std::vector<std::string> found;
    if (DIR* dir = ::opendir("/dev")) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind("cu.", 0) == 0) found.push_back("/dev/" + name);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string defaultDevice(int port) {
    const auto devices = callOutDevices();
    return port >= 1 && port <= static_cast<int>(devices.size()) ? devices[port - 1] : std::string();
}

std::string describeDevice(const std::string& device) {
    return device.find("usb") != std::string::npos ? "USB adapter: " + device.substr(8) : "serial port";
}

#elif defined(_WIN32)

std::string defaultDevice(int port) { return port >= 1 ? "COM" + std::to_string(port) : std::string(); }

// The number of a name such as "COM7" (any case), else 0.
int comNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 6) return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// What a serial driver's device name ("\Device\VCP0") says about the port.
std::string driverDescription(const std::string& driver) {
    auto has = [&](const char* word) { return driver.find(word) != std::string::npos; };
    if (has("VCP")) return "USB adapter: FTDI";
    if (has("Silabser")) return "USB adapter: Silicon Labs";
    if (has("Prolific")) return "USB adapter: Prolific";
    if (has("USBSER")) return "USB serial device";
    if (driver.rfind("\\Device\\Serial", 0) == 0) return "serial port";
    const auto slash = driver.rfind('\\');
    return "serial port (" + driver.substr(slash == std::string::npos ? 0 : slash + 1) + ")";
}

// The ports the system has: the serial drivers' table in the registry
// (number -> description), completed by the DOS device names, which also
// hold ports that a driver registers only there.
std::map<int, std::string> machinePorts() {
    std::map<int, std::string> found;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            char name[256];
            BYTE data[64];
            DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
            const LONG r = RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &dataLen);
            if (r == ERROR_NO_MORE_ITEMS) break;
            if (r != ERROR_SUCCESS || type != REG_SZ) continue;
            data[dataLen] = 0;
            if (const int n = comNumber(reinterpret_cast<const char*>(data)); n > 0)
                found.emplace(n, driverDescription(std::string(name, nameLen)));
        }
        RegCloseKey(key);
    }
    std::string names(64 * 1024, '\0');
    const DWORD len = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    for (std::size_t at = 0; at < len && names[at];) {
        const std::string name(names.c_str() + at);
        if (const int n = comNumber(name); n > 0) found.emplace(n, "serial port");
        at += name.size() + 1;
    }
    return found;
}

std::string describeDevice(const std::string& device) {
    const std::string name = device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
    const auto ports = machinePorts();
    const auto it = ports.find(comNumber(name));
    return it != ports.end() ? it->second : "serial port";
}

#else

std::string defaultDevice(int) { return {}; }
std::string describeDevice(const std::string&) { return "serial device"; }

#endif

}  // namespace

void setComDevice(int port, const std::string& device) {
    auto& e = comEntries();
    std::lock_guard lock(e.mutex);
    e.devices[port] = device;
}

void clearComDevices() {
    auto& e = comEntries();
    std::lock_guard lock(e.mutex);
    e.devices.clear();
}

std::string comDevice(int port) {
    {
        auto& e = comEntries();
        std::lock_guard lock(e.mutex);
        if (auto it = e.devices.find(port); it != e.devices.end()) return it->second;
    }
    if (port == kVirtualPortNumber) return kVirtualDevice;
    return defaultDevice(port);
}

std::vector<PortInfo> listPorts() {
    std::vector<PortInfo> ports;
    std::set<int> numbers;
    std::set<std::string> devices;  // a device given by --com is not listed again
    bool virtualListed = false;

    std::map<int, std::string> entries;
    {
        auto& e = comEntries();
        std::lock_guard lock(e.mutex);
        entries = e.devices;
    }
    for (const auto& [number, device] : entries) {
        const bool virt = isVirtual(device);
        virtualListed |= virt;
        ports.push_back({number, device, virt ? "virtual board" : describeDevice(device)});
        numbers.insert(number);
        devices.insert(virt ? device : canonical(device));
    }

    auto addMachinePort = [&](int number, const std::string& device, const std::string& text) {
        if (number <= 0 || numbers.count(number) || devices.count(canonical(device))) return;
        ports.push_back({number, device, text});
        numbers.insert(number);
        devices.insert(device);
    };

#if defined(__linux__)
    auto found = machinePorts();
    std::sort(found.begin(), found.end(), [](const MachinePort& a, const MachinePort& b) {
        return defaultNumber(a.name) < defaultNumber(b.name);
    });
    for (const auto& p : found) addMachinePort(defaultNumber(p.name), "/dev/" + p.name, p.description);
#elif defined(__APPLE__)
    const auto found = callOutDevices();
    for (std::size_t i = 0; i < found.size(); ++i)
        addMachinePort(static_cast<int>(i) + 1, found[i], describeDevice(found[i]));
#elif defined(_WIN32)
    for (const auto& [number, description] : machinePorts())
        addMachinePort(number, defaultDevice(number), description);
#else
    (void)addMachinePort;  // no way known to list this system's ports
#endif

    // Number 99 shows the virtual board unless a --com entry took that number
    // (then the board is reachable only through an entry naming it).
    if (!virtualListed && !numbers.count(kVirtualPortNumber))
        ports.push_back({kVirtualPortNumber, kVirtualDevice, "virtual board"});
    return ports;
}

}  // namespace tarvo::rt

int GetComDeviceName(int port, char* name, int size)
{
    if (!name || size <= 0) return -1;
    const std::string device = tarvo::rt::comDevice(port);
    std::snprintf(name, static_cast<size_t>(size), "%s", device.c_str());
    return device.empty() ? -1 : 0;
}
