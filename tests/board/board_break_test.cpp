// A break in every state of the board model, and what stands in for it on a
// pseudo-terminal (the recorder's flush or open): the handshake starts over,
// and the next block's configuration and stream replace the old ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "board_model.h"
#include "board_streams.h"

using namespace tarvo::board;
using State = BoardModel::State;
using StandIn = BoardModel::StandIn;
using Bytes = std::vector<uint8_t>;
using tarvo::board::test::Block;
using tarvo::board::test::k6ch2000;
using tarvo::board::test::k8ch5000;

namespace {

const auto& kBad = tarvo::board::test::k9ch;
const uint8_t kStart = kStartByte;

std::string text(const Bytes& v) { return std::string(v.begin(), v.end()); }

bool logHas(const BoardModel& b, const std::string& line)
{
    return std::any_of(b.log().begin(), b.log().end(),
                       [&](const std::string& l) { return l.find(line) != std::string::npos; });
}

void identified(BoardModel& b) { b.lineBreak(); }
void halfBlock(BoardModel& b)
{
    b.lineBreak();
    b.receive(k6ch2000.data(), 7);
}
void configured(BoardModel& b)
{
    b.lineBreak();
    b.receive(k6ch2000.data(), k6ch2000.size());
}
void refused(BoardModel& b)
{
    b.lineBreak();
    b.receive(kBad.data(), kBad.size());
}
void streaming(BoardModel& b)
{
    configured(b);
    b.receive(&kStart, 1);
    Bytes out;
    b.produce(&out, 5);
}

Faults withFault(void (*set)(Faults&))
{
    Faults f;
    set(f);
    return f;
}
const Faults kWrongChecksum = withFault([](Faults& f) { f.check = Faults::Check::Wrong; });
const Faults kSilentAfter3 = withFault([](Faults& f) { f.silenceAfter = 3; });
const Faults kHangUpAfter3 = withFault([](Faults& f) { f.hangupAfter = 3; });

struct StateCase {
    const char* name;
    Faults faults;
    void (*reach)(BoardModel&);
    State state;      // where `reach` leaves the board
    StandIn onFlush;  // what a flush does there
};

const StateCase kStates[] = {
    {"idle", {}, [](BoardModel&) {}, State::Idle, StandIn::Restarted},
    {"identified", {}, identified, State::Identified, StandIn::Ignored},
    {"half a block in", {}, halfBlock, State::Identified, StandIn::Restarted},
    {"configured", {}, configured, State::Configured, StandIn::Held},
    {"configured, wrong checksum sent", kWrongChecksum, configured, State::Configured,
     StandIn::Restarted},
    {"refused", {}, refused, State::Refused, StandIn::Restarted},
    {"streaming", {}, streaming, State::Streaming, StandIn::Restarted},
    {"silent", kSilentAfter3, streaming, State::Silent, StandIn::Restarted},
    {"hung up", kHangUpAfter3, streaming, State::HungUp, StandIn::Restarted},
};

// The first records of a stream that `block` configured, from a board that
// never did anything else.
Bytes freshRecords(const Block& block, uint64_t count)
{
    BoardModel r;
    r.lineBreak();
    r.receive(block.data(), block.size());
    r.receive(&kStart, 1);
    Bytes out;
    r.produce(&out, count);
    return out;
}

// After the identification: a new block is taken on its own terms and the
// stream starts again at record 1 in its layout.
void expectNewHandshakeTakesOver(BoardModel& b, const Faults& f)
{
    b.receive(k8ch5000.data(), k8ch5000.size());
    const uint8_t reply = f.check == Faults::Check::Wrong ? 0xB2 : 0x4D;
    EXPECT_EQ(b.takeOutput(), Bytes{reply});
    EXPECT_EQ(b.state(), State::Configured);
    EXPECT_EQ(b.config().recLen, 13u);
    EXPECT_EQ(b.period().count(), 5000);
    b.receive(&kStart, 1);
    ASSERT_TRUE(b.streaming());
    Bytes out;
    EXPECT_EQ(b.produce(&out, 2), 2u);
    EXPECT_EQ(out, freshRecords(k8ch5000, 2));
    EXPECT_EQ(b.recordNumber(), 2u);
}

}  // namespace

TEST(BreakInEveryState, ALineBreakRestartsTheHandshake)
{
    for (const StateCase& c : kStates) {
        SCOPED_TRACE(c.name);
        BoardModel b(c.faults);
        c.reach(b);
        ASSERT_EQ(b.state(), c.state);
        b.takeOutput();
        b.lineBreak();
        EXPECT_EQ(b.state(), State::Identified);
        EXPECT_EQ(text(b.takeOutput()), "KLVDAQ00730019");
        expectNewHandshakeTakesOver(b, c.faults);
    }
}

TEST(BreakInEveryState, AFlushRestartsTheHandshakeExceptAsAStepOfTheExchangeUnderWay)
{
    for (const StateCase& c : kStates) {
        SCOPED_TRACE(c.name);
        BoardModel b(c.faults);
        c.reach(b);
        b.takeOutput();
        EXPECT_EQ(b.breakStandIn("flush"), c.onFlush);
        switch (c.onFlush) {
        case StandIn::Restarted:
            EXPECT_EQ(text(b.takeOutput()), "KLVDAQ00730019");
            EXPECT_TRUE(logHas(b, "flush (break stand-in")) << "logged as the break it stands for";
            expectNewHandshakeTakesOver(b, c.faults);
            break;
        case StandIn::Ignored:
            // The flush between reading the identification and sending the
            // block: the handshake goes on.
            EXPECT_FALSE(b.hasOutput());
            b.receive(k6ch2000.data(), k6ch2000.size());
            EXPECT_EQ(b.takeOutput(), Bytes{0xEE});
            break;
        case StandIn::Held:
            // Settled by what follows: see the next test.
            EXPECT_FALSE(b.hasOutput());
            EXPECT_TRUE(b.held());
            EXPECT_EQ(b.state(), State::Configured);
            break;
        }
    }
}

namespace {

// Configured, closed and opened again, and the flush that follows held: the
// reopening at the acquisition rate, or the next handshake.
void flushHeldAfterReopening(BoardModel& b)
{
    configured(b);
    b.takeOutput();
    b.linkClosed();
    b.linkOpened();
    ASSERT_EQ(b.breakStandIn("flush"), StandIn::Held);
}

}  // namespace

TEST(BreakInEveryState, AfterTheHandshakeTheStartByteOrItsAbsenceSettlesAHeldFlush)
{
    {  // the reopening at the acquisition rate: the start byte follows
        BoardModel b;
        ASSERT_NO_FATAL_FAILURE(flushHeldAfterReopening(b));
        b.receive(&kStart, 1);
        EXPECT_TRUE(b.streaming());
        EXPECT_FALSE(b.held());
        b.confirmBreak("flush");  // too late: the run is on
        EXPECT_TRUE(b.streaming());
        Bytes out;
        b.produce(&out, 3);
        EXPECT_EQ(out, freshRecords(k6ch2000, 3));
    }
    {  // Start pressed again after a run that never began: no start byte
        BoardModel b;
        ASSERT_NO_FATAL_FAILURE(flushHeldAfterReopening(b));
        b.confirmBreak("flush");
        EXPECT_EQ(text(b.takeOutput()), "KLVDAQ00730019");
        EXPECT_TRUE(logHas(b, "flush (break stand-in, no start byte followed)"));
        // Its flush before the block is one step of that handshake.
        EXPECT_EQ(b.breakStandIn("flush"), StandIn::Ignored);
        expectNewHandshakeTakesOver(b, {});
    }
    {  // the recorder closed the port before either: nothing to confirm
        BoardModel b;
        configured(b);
        b.takeOutput();
        ASSERT_EQ(b.breakStandIn("open"), StandIn::Held);
        b.linkClosed();
        EXPECT_FALSE(b.held());
        b.confirmBreak("open");
        EXPECT_FALSE(b.hasOutput());
        EXPECT_EQ(b.state(), State::Configured);
    }
}
