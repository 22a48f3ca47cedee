// The configuration step and the handshake with the board.
#pragma once

// Reads the eight settings from the panel, checks the sampling period against
// the board's timing and builds the configuration block and its checksum.
// 0: ready; -1: the period is too short for the settings; -2: too long;
// -3: a setting the program cannot take (the block is left as it was).
int buildconf(void);

// The block's checksum: an 8-bit sum with end-around carry.
unsigned int blockchecksum(const unsigned char* bytes, unsigned int n);
