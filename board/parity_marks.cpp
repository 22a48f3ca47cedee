#include "parity_marks.h"

namespace tarvo::board {

namespace {

void addData(std::vector<LineInput>* out, uint8_t b)
{
    if (out->empty() || out->back().kind != LineInput::Kind::Data)
        out->push_back({LineInput::Kind::Data, {}});
    out->back().bytes.push_back(b);
}

}  // namespace

MarkState parseParityMarks(MarkState state, const uint8_t* in, std::size_t n,
                           std::vector<LineInput>* out)
{
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t b = in[i];
        switch (state) {
        case MarkState::Plain:
            if (b == 0xFF)
                state = MarkState::AfterFF;
            else
                addData(out, b);
            break;
        case MarkState::AfterFF:
            // \377 \377 is a real 0xFF; a lone \377 before any other byte
            // (which the port never sends) is dropped.
            state = b == 0x00 ? MarkState::AfterFFZero : MarkState::Plain;
            if (b != 0x00)
                addData(out, b);
            break;
        case MarkState::AfterFFZero:
            state = MarkState::Plain;
            out->push_back({b == 0x00 ? LineInput::Kind::Break : LineInput::Kind::BadByte, {}});
            break;
        }
    }
    return state;
}

}  // namespace tarvo::board
