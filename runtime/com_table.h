// Which device each serial port number opens, and the list of ports the
// panel offers. Internal to the run-time layer.
#pragma once

#include <string>
#include <vector>

namespace tarvo::rt {

// The built-in board model's device name and its default port number.
inline constexpr const char* kVirtualDevice = "virtual";
inline constexpr int kVirtualPortNumber = 99;
inline constexpr int kMaxPortNumber = 999;

// --com N=DEVICE: port N opens DEVICE from now on.
void setComDevice(int port, const std::string& device);
// Forgets every --com entry (tests).
void clearComDevices();
// The device of port N: its --com entry, else the default table. Empty when
// the number maps to nothing.
std::string comDevice(int port);

// The reason the last OpenComConfig on port N failed (a device path and
// why), for messages; empty after a successful open.
std::string lastComError(int port);

struct PortInfo {
    int number;
    std::string device;       // a path, COMn, or "virtual"
    std::string description;  // "USB adapter: FTDI FT232R", "virtual board", ...
};
// The --com entries, the serial ports the machine has (under their default
// numbers, where no --com entry takes the number), and the virtual board.
std::vector<PortInfo> listPorts();

}  // namespace tarvo::rt
