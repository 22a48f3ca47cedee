// The built-in virtual board (device "virtual"): the board model behind the
// SerialPort interface, in this process. openVirtual() in serial_port.h opens
// it; these two calls are for tests that want a faulty board or to look at
// what the board saw.
#pragma once

#include <functional>

#include "board_model.h"

namespace tarvo::rt {

// Puts the virtual board of port number `port` back to its power-on state,
// with these faults. Ports of that number opened before keep working on the
// new board.
void resetVirtualBoard(int port, const board::Faults& faults = {});

// Calls fn with the virtual board of `port` while nothing else can touch it:
// its log, the records it sent, its configuration.
void inspectVirtualBoard(int port, const std::function<void(const board::BoardModel&)>& fn);

}  // namespace tarvo::rt
