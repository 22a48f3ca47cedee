// A serial port's parity marks taken apart: data, breaks and damaged bytes,
// also when a mark is split across two reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "parity_marks.h"

using tarvo::board::LineInput;
using tarvo::board::MarkState;
using tarvo::board::parseParityMarks;
using Bytes = std::vector<uint8_t>;

namespace {

// "41 42 | break | bad | FF": data in hex, one entry after the other.
std::string describe(const std::vector<LineInput>& inputs)
{
    std::string out;
    for (const LineInput& in : inputs) {
        if (!out.empty())
            out += " | ";
        switch (in.kind) {
        case LineInput::Kind::Break: out += "break"; break;
        case LineInput::Kind::BadByte: out += "bad"; break;
        case LineInput::Kind::Data:
            for (std::size_t i = 0; i < in.bytes.size(); ++i) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%s%02X", i ? " " : "", in.bytes[i]);
                out += hex;
            }
            break;
        }
    }
    return out;
}

}  // namespace

TEST(ParityMarks, EachByteSequenceTakenApart)
{
    const MarkState plain = MarkState::Plain;
    const struct {
        const char* name;
        Bytes in;
        std::string inputs;
        MarkState after;
        MarkState before = MarkState::Plain;  // what the previous read left
    } cases[] = {
        {"plain data", {0x41, 0x00, 0x42}, "41 00 42", MarkState::Plain},
        {"a break", {0xFF, 0x00, 0x00}, "break", MarkState::Plain},
        {"data around a break",
         {0x41, 0xFF, 0x00, 0x00, 0x42},
         "41 | break | 42",
         MarkState::Plain},
        {"a doubled FF is one data byte", {0xFF, 0xFF}, "FF", MarkState::Plain},
        {"FF FF then a break",
         {0x41, 0xFF, 0xFF, 0xFF, 0x00, 0x00},
         "41 FF | break",
         MarkState::Plain},
        {"a damaged byte is dropped",
         {0x41, 0xFF, 0x00, 0x37, 0x42},
         "41 | bad | 42",
         MarkState::Plain},
        {"a damaged zero is no break", {0xFF, 0x00, 0x01}, "bad", MarkState::Plain},
        {"a lone FF before another byte", {0xFF, 0x41}, "41", MarkState::Plain},
        {"two breaks in a row",
         {0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00},
         "break | break",
         MarkState::Plain},
        {"ends after FF", {0x41, 0xFF}, "41", MarkState::AfterFF},
        {"ends after FF 00", {0xFF, 0x00}, "", MarkState::AfterFFZero},
        {"nothing", {}, "", MarkState::Plain},
        // A mark that the previous read started is finished by this one.
        {"FF, then FF", {0xFF}, "FF", plain, MarkState::AfterFF},
        {"FF, then 00 00", {0x00, 0x00}, "break", plain, MarkState::AfterFF},
        {"FF, then another byte", {0x7E}, "7E", plain, MarkState::AfterFF},
        {"FF 00, then 00", {0x00, 0x41}, "break | 41", plain, MarkState::AfterFFZero},
        {"FF 00, then a damaged byte", {0x55}, "bad", plain, MarkState::AfterFFZero},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<LineInput> out;
        EXPECT_EQ(parseParityMarks(c.before, c.in.data(), c.in.size(), &out), c.after);
        EXPECT_EQ(describe(out), c.inputs);
    }
}

TEST(ParityMarks, AMarkSplitAcrossReadsIsTheSameMark)
{
    const Bytes whole = {0x41, 0xFF, 0xFF, 0x42, 0xFF, 0x00, 0x00, 0x43, 0xFF, 0x00, 0x09, 0x44};
    const std::string expected = "41 FF 42 | break | 43 | bad | 44";
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::vector<LineInput> out;
        const MarkState mid = parseParityMarks(MarkState::Plain, whole.data(), cut, &out);
        EXPECT_EQ(parseParityMarks(mid, whole.data() + cut, whole.size() - cut, &out),
                  MarkState::Plain);
        // A cut inside data splits it into two entries; the bytes are the same.
        std::vector<LineInput> merged;
        for (const auto& in : out) {
            if (!merged.empty() && in.kind == LineInput::Kind::Data &&
                merged.back().kind == LineInput::Kind::Data)
                merged.back().bytes.insert(merged.back().bytes.end(), in.bytes.begin(),
                                           in.bytes.end());
            else
                merged.push_back(in);
        }
        EXPECT_EQ(describe(merged), expected);
    }
}
