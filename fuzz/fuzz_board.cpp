// The board model's side of the link over arbitrary input: configuration
// blocks through checkBlock, and whole sessions in which the recorder sends
// arbitrary bytes between breaks, opens, closes and record periods, with the
// faults the input switches on. Whatever comes, the model's answers keep
// their invariants and it never runs past its buffers.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "board_model.h"
#include "check.h"
#include "reccost.h"

using namespace tarvo::board;

namespace {

void checkConfig(const BoardConfig& c)
{
    if (!c.valid) {
        FUZZ_CHECK(!c.problem.empty(), "a refused block without a reason");
        return;
    }
    FUZZ_CHECK(c.problem.empty(), "an accepted block with a problem: %s", c.problem.c_str());
    FUZZ_CHECK(c.channels >= 1 && c.channels <= kMaxChannels, "%u channels", c.channels);
    FUZZ_CHECK(c.recLen == reclen(c.channels, c.status), "record length %u", c.recLen);
    FUZZ_CHECK(c.baud == 115200 || c.baud == 57600 || c.baud == 0, "rate class %ld", c.baud);
    FUZZ_CHECK(c.count <= 0xFFFFFFu, "count %u", c.count);
}

struct Reader {
    const uint8_t* p;
    size_t n;
    uint8_t byte() { return n ? (n--, *p++) : 0; }
    uint64_t small(uint64_t limit) { return limit ? byte() % (limit + 1) : 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size >= kBlockLen)
        checkConfig(checkBlock(data));
    if (size < 6)
        return 0;

    Reader in{data, size};
    Faults f;
    const uint8_t a = in.byte(), b = in.byte();
    f.ident = Faults::Ident(a % 6);
    f.check = Faults::Check((a >> 3) % 3);
    f.noise = b & 1;
    f.flood = b & 2;
    if (b & 4)
        f.loseRecordEvery = 1 + in.small(40);
    if (b & 8)
        f.loseByteAt = 1 + in.small(200);
    if (b & 16)
        f.silenceAfter = 1 + in.small(100);
    if (b & 32)
        f.hangupAfter = 1 + in.small(100);
    if (b & 64) {
        const size_t len = in.small(120);
        for (size_t i = 0; i < len; i++)
            f.records.push_back(in.byte());
    }
    BoardModel m(f);

    while (in.n > 0) {
        const uint8_t op = in.byte();
        switch (op % 9) {
        case 0: m.lineBreak(); break;
        case 1:
            // A flush, or the driver settling a held one.
            if (op & 0x80)
                m.confirmBreak("flush");
            else
                m.breakStandIn("flush");
            break;
        case 2: m.resendIdent("flush"); break;
        case 3: m.linkOpened(); break;
        case 4: m.linkClosed(); break;
        case 5: m.reset(); break;
        case 6: {
            // Bytes from the recorder: a run of the input.
            const size_t len = std::min<size_t>(in.small(40), in.n);
            m.receive(in.p, len);
            in.p += len, in.n -= len;
            break;
        }
        case 7: {
            if (m.state() != BoardModel::State::Streaming)
                break;
            std::vector<uint8_t> out;
            const uint64_t slots = in.small(64);
            const uint64_t before = m.recordNumber();
            const uint64_t sentBefore = m.recordsSent();
            const uint64_t used = m.produce(op & 0x80 ? nullptr : &out, slots);
            FUZZ_CHECK(used <= slots, "%llu slots used of %llu", (unsigned long long)used,
                       (unsigned long long)slots);
            FUZZ_CHECK(m.recordNumber() == before + used, "the record number jumped");
            const uint64_t len = m.config().recLen;
            const uint64_t sent = m.recordsSent() - sentBefore;
            // Whole records, less the one lost byte at most.
            FUZZ_CHECK(out.size() == sent * len || out.size() + 1 == sent * len || (op & 0x80),
                       "%zu bytes for %llu records of %llu", out.size(), (unsigned long long)sent,
                       (unsigned long long)len);
            if (f.silenceAfter)
                FUZZ_CHECK(m.recordNumber() <= f.silenceAfter, "sent past the silence");
            if (f.hangupAfter)
                FUZZ_CHECK(m.recordNumber() <= f.hangupAfter, "sent past the hang-up");
            break;
        }
        case 8: {
            const std::vector<uint8_t> out = m.takeOutput();
            FUZZ_CHECK(!m.hasOutput(), "output left after taking it");
            break;
        }
        }
        if (m.streaming() || m.state() == BoardModel::State::Configured)
            checkConfig(m.config());
        FUZZ_CHECK(!m.held() || m.state() == BoardModel::State::Configured, "held while %s",
                   stateName(m.state()));
        FUZZ_CHECK(m.log().size() <= 10000, "the log grew to %zu lines", m.log().size());
    }
    return 0;
}
