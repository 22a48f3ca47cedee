// The board's timing: the cost table and the record cost.
//
// One copy of the table, used by the configuration step (the period check),
// the period hint on the panel and the board model.
#pragma once

#include <cstdint>

// The costs, in microseconds, of one row of the table.
struct CostRow {
    uint32_t ev;    // base cost of an even channel count (covers the first two)
    uint32_t odd;   // base cost of an odd channel count (covers the first one)
    uint32_t step;  // each further pair of channels
    uint32_t dig;   // the status byte
};

// The row for an acquisition baud rate: 115200, 57600, or any other rate.
CostRow costrow(uint32_t baudr);

// The time the board spends on one record, in microseconds. Unsigned 32-bit
// arithmetic, as the period check expects; num_ch 1..8, di 0 or 1.
uint32_t reccost(uint32_t num_ch, uint32_t di, const CostRow& row);
inline uint32_t reccost(uint32_t num_ch, uint32_t di, uint32_t baudr)
{
    return reccost(num_ch, di, costrow(baudr));
}

// Bytes of one record on the wire: the packed 12-bit samples and the status byte.
inline uint32_t reclen(uint32_t num_ch, uint32_t di) { return di + (3 * num_ch + 1) / 2; }

// Bit times of one byte on a serial line: the start bit, the data bits, the
// parity bit if there is one, and the stop bits.
constexpr uint32_t linebits(uint32_t dataBits, bool parity, uint32_t stopBits)
{
    return 1 + dataBits + (parity ? 1 : 0) + stopBits;
}

// The link the records cross is opened with 8 data bits, even parity and one
// stop bit (8E1): 11 bit times a byte. The handshake's link (8N1) is not
// this one.
inline constexpr uint32_t kLineBitsPerByte = linebits(8, true, 1);

// The shortest time the line itself takes to carry one record, in
// microseconds, rounded up: its bytes at 11 bit times each at `baudr` bit/s.
// The cost table does not cover it: at 9600 bit/s ten bytes take 11.5 ms
// (110 bits) where the table allows 3.4 ms. 0 for a rate of 0.
inline uint32_t linefloor(uint32_t num_ch, uint32_t di, uint32_t baudr)
{
    if (baudr == 0)
        return 0;
    const uint64_t bits = uint64_t(reclen(num_ch, di)) * kLineBitsPerByte * 1000000;
    return static_cast<uint32_t>((bits + baudr - 1) / baudr);
}
