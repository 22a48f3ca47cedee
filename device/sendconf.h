#pragma once

// Identifies the board on port com at 19200 baud and loads the configuration
// block into it. 0: done; -1: unknown device (the block was not sent);
// -2: the board's checksum differs. The port is left open in every case.
int sendconf(void);
