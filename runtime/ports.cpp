// Port numbers to devices, and the list of ports the panel offers.
//
// The default table, used for every number that no --com entry takes, is the
// system's (machine_ports.h):
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
#include "machine_ports.h"
#include "runtime.h"

#include <cstdio>

#include <map>
#include <mutex>
#include <set>

namespace tarvo::rt {

namespace {

struct ComEntries {
    std::mutex mutex;
    std::map<int, std::string> devices;  // ordered: listPorts shows them by number
};

ComEntries& comEntries()
{
    static ComEntries entries;
    return entries;
}

bool isVirtual(const std::string& device) { return device == kVirtualDevice; }

}  // namespace

void setComDevice(int port, const std::string& device)
{
    auto& e = comEntries();
    std::lock_guard lock(e.mutex);
    e.devices[port] = device;
}

void clearComDevices()
{
    auto& e = comEntries();
    std::lock_guard lock(e.mutex);
    e.devices.clear();
}

std::string comDevice(int port)
{
    {
        auto& e = comEntries();
        std::lock_guard lock(e.mutex);
        if (auto it = e.devices.find(port); it != e.devices.end())
            return it->second;
    }
    if (port == kVirtualPortNumber)
        return kVirtualDevice;
    return machine::defaultDevice(port);
}

std::vector<PortInfo> listPorts()
{
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
        ports.push_back({number, device, virt ? "virtual board" : machine::describe(device)});
        numbers.insert(number);
        devices.insert(virt ? device : machine::canonical(device));
    }

    for (const machine::Port& p : machine::ports()) {
        if (p.number <= 0 || numbers.count(p.number) || devices.count(machine::canonical(p.device)))
            continue;
        ports.push_back({p.number, p.device, p.description});
        numbers.insert(p.number);
        devices.insert(p.device);
    }

    // Number 99 shows the virtual board unless a --com entry took that number
    // (then the board is reachable only through an entry naming it).
    if (!virtualListed && !numbers.count(kVirtualPortNumber))
        ports.push_back({kVirtualPortNumber, kVirtualDevice, "virtual board"});
    return ports;
}

}  // namespace tarvo::rt

int GetComDeviceName(int port, char* name, int size)
{
    if (!name || size <= 0)
        return -1;
    const std::string device = tarvo::rt::comDevice(port);
    std::snprintf(name, static_cast<size_t>(size), "%s", device.c_str());
    return device.empty() ? -1 : 0;
}
