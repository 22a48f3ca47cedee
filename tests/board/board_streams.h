// What the board model sends, to compare with what a link delivered.
#pragma once

#include <cstdint>
#include <vector>

#include "board_model.h"

namespace tarvo::board::test {

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
