// What a serial port in parity-marking mode (termios PARMRK, breaks neither
// ignored nor turned into signals) delivers, taken apart: a break arrives as
// \377 \0 \0, a byte received with a parity or framing error as \377 \0 X,
// and a real \377 doubled, so that it stays data. A mark may be split across
// two reads: the parser's state carries it over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvo::board {

// Where the parser is within a mark.
enum class MarkState {
    Plain,        // between marks
    AfterFF,      // after \377: a mark, or the first half of a real \377
    AfterFFZero,  // after \377 \0: a break follows as \0, else a damaged byte
};

struct LineInput {
    enum class Kind {
        Data,     // bytes received as sent
        Break,    // the line was held at space
        BadByte,  // one byte with a parity or framing error, dropped
    };
    Kind kind = Kind::Data;
    std::vector<uint8_t> bytes;  // Data only
};

// Appends what the `n` bytes at `in` hold to *out, consecutive data as one
// Data entry, and returns the state to pass with the bytes of the next read.
MarkState parseParityMarks(MarkState state, const uint8_t* in, std::size_t n,
                           std::vector<LineInput>* out);

}  // namespace tarvo::board
