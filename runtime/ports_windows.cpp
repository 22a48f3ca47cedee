// The serial ports of a Windows machine: the serial drivers' table in the
// registry, completed by the DOS device names. Port number N is COMN.
#include "machine_ports.h"

#include <windows.h>

#include <cctype>
#include <map>

namespace tarvo::rt::machine {

namespace {

// The number of a name such as "COM7" (any case), else 0.
int comNumber(const std::string& name)
{
    if (name.size() < 4 || name.size() > 6)
        return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// "\\.\COM3" -> "COM3"; any other name as given.
std::string withoutDevicePrefix(const std::string& device)
{
    return device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
}

// What a serial driver's device name ("\Device\VCP0") says about the port.
std::string driverDescription(const std::string& driver)
{
    auto has = [&](const char* word) { return driver.find(word) != std::string::npos; };
    if (has("VCP"))
        return "USB adapter: FTDI";
    if (has("Silabser"))
        return "USB adapter: Silicon Labs";
    if (has("Prolific"))
        return "USB adapter: Prolific";
    if (has("USBSER"))
        return "USB serial device";
    if (driver.rfind("\\Device\\Serial", 0) == 0)
        return "serial port";
    const auto slash = driver.rfind('\\');
    return "serial port (" + driver.substr(slash == std::string::npos ? 0 : slash + 1) + ")";
}

// Port number -> description: the serial drivers' table in the registry,
// completed by the DOS device names, which also hold ports that a driver
// registers only there.
std::map<int, std::string> portDescriptions()
{
    std::map<int, std::string> found;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            char name[256];
            BYTE data[64];
            DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
            const LONG r = RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &dataLen);
            if (r == ERROR_NO_MORE_ITEMS)
                break;
            if (r != ERROR_SUCCESS || type != REG_SZ)
                continue;
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
        if (const int n = comNumber(name); n > 0)
            found.emplace(n, "serial port");
        at += name.size() + 1;
    }
    return found;
}

}  // namespace

std::string defaultDevice(int port)
{
    return port >= 1 ? "COM" + std::to_string(port) : std::string();
}

std::vector<Port> ports()
{
    std::vector<Port> found;
    for (const auto& [number, description] : portDescriptions())
        found.push_back({number, defaultDevice(number), description});
    return found;
}

std::string describe(const std::string& device)
{
    const auto descriptions = portDescriptions();
    const auto it = descriptions.find(comNumber(withoutDevicePrefix(device)));
    return it != descriptions.end() ? it->second : "serial port";
}

// "com3", "\\.\COM3" and "COM3" are one port.
std::string canonical(const std::string& device)
{
    std::string name = withoutDevicePrefix(device);
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

}  // namespace tarvo::rt::machine
