// A system whose serial ports tarvo has no way to list: no default table (a
// port is opened only through its --com entry) and an empty list.
#include "machine_ports.h"

#include <limits.h>
#include <stdlib.h>

namespace tarvo::rt::machine {

std::string defaultDevice(int) { return {}; }

std::vector<Port> ports() { return {}; }

std::string describe(const std::string&) { return "serial device"; }

// The same device under another name (a link to it) is one device.
std::string canonical(const std::string& device)
{
    char resolved[PATH_MAX];
    return ::realpath(device.c_str(), resolved) ? std::string(resolved) : device;
}

}  // namespace tarvo::rt::machine
