// The serial ports of the machine tarvo runs on, as the port table
// (ports.cpp) sees them. One source file per system, chosen in
// runtime/CMakeLists.txt: ports_linux.cpp, ports_macos.cpp,
// ports_windows.cpp, and ports_other.cpp for a system whose ports tarvo has
// no way to list. Internal to the run-time layer.
#pragma once

#include <string>
#include <vector>

namespace tarvo::rt::machine {

struct Port {
    int number;               // its number in the default table
    std::string device;       // what opens it: a path, or COMn
    std::string description;  // "serial port", "USB adapter: FTDI FT232R", ...
};

// The device a port number opens when no --com entry takes the number;
// empty when the number maps to nothing.
std::string defaultDevice(int port);

// The ports the machine has, each under its default number, in the order of
// their numbers.
std::vector<Port> ports();

// What the port list says of a device that a --com entry names.
std::string describe(const std::string& device);

// One spelling for one device, to tell the same device under two names (a
// link to it, another case of its COM name).
std::string canonical(const std::string& device);

}  // namespace tarvo::rt::machine
