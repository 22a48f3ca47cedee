// What the board model sends, to compare with what a link delivered, and the
// configuration blocks the board tests send it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "board_model.h"

namespace tarvo::board::test {

using Block = std::array<uint8_t, 14>;

// A block written as the bytes on the line, in hex: "06 0A 08 ... 80".
consteval Block blockOf(const char (&hex)[3 * 14])
{
    auto nibble = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        throw "not an upper-case hex digit";  // stops the compilation
    };
    Block b{};
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = uint8_t(16 * nibble(hex[3 * i]) + nibble(hex[3 * i + 1]));
    return b;
}

// The configuration blocks the tests send, named by what they configure.
// 6 channels, 115200, status byte, 2000 us: checksum EE, 10-byte records.
inline constexpr Block k6ch2000 = blockOf("06 0A 08 06 04 02 00 00 00 7B CE FF FF 80");
// 8 channels, 57600, status byte, 5000 us: checksum 4D, 13-byte records.
inline constexpr Block k8ch5000 = blockOf("08 0E 0C 0A 08 06 04 02 00 7F 4D FF FF 40");
// 6 channels, 115200, no status byte, 1505 us: checksum 1A, 9-byte records.
inline constexpr Block k6ch1505 = blockOf("06 0A 08 06 04 02 00 00 00 7F F4 FF FF 81");
// 1 channel, third rate class, no status byte, 1 s per record: checksum 99.
inline constexpr Block k1ch1s = blockOf("01 00 00 00 00 00 00 00 00 79 A5 79 FE 01");
// 1 channel with status byte at 115200: 3-byte records every 422 us, the
// fastest stream with a counter.
inline constexpr Block k1chFast = blockOf("01 00 00 00 00 00 00 00 00 80 FF FF FF 80");
// 6 channels, third rate class, status byte, 3420 us (record cost 3415 +
// fine delay 5): 10-byte records, 292 a second, more than 9600 bit/s 8E1
// carries (87 a second).
inline constexpr Block k6ch3420 = blockOf("06 0A 08 06 04 02 00 00 00 7B FF FF FF 00");
// Nine channels: refused.
inline constexpr Block k9ch = blockOf("09 0A 08 06 04 02 00 00 00 7B CE FF FF 80");

inline std::vector<uint8_t> bytes(const Block& block) { return {block.begin(), block.end()}; }

// Faults with one of them set: faultsWith(&Faults::hangupAfter, 3).
template <typename Field, typename Value>
Faults faultsWith(Field Faults::*field, Value value)
{
    Faults f;
    f.*field = Field(value);
    return f;
}

// A board taken through break, configuration block and start byte.
inline BoardModel streamingBoard(const std::vector<uint8_t>& block, const Faults& faults = {})
{
    BoardModel b(faults);
    b.lineBreak();
    b.receive(block.data(), block.size());
    b.receive(&kStartByte, 1);
    return b;
}

// Records first .. first + count - 1 exactly as generated, before faults.
inline std::vector<uint8_t> recordBytes(const BoardModel& b, uint64_t first, uint64_t count)
{
    const unsigned len = b.config().recLen;
    std::vector<uint8_t> out(count * len);
    for (uint64_t i = 0; i < count; ++i)
        b.makeRecord(first + i, out.data() + i * len);
    return out;
}

}  // namespace tarvo::board::test
