// The integer-columns reader over arbitrary files: the first byte chooses
// the layout (channels 1-8, digital lines, counter) and how many threads
// index it, the rest is the file. A file it takes must be records exactly as
// tarvo writes them, each line giving back its own text; one it refuses must
// be refused at a line and byte inside it. Several threads index it as one
// does, and the pyramid's whole-run extents are the records' own.
#include <cstdint>
#include <string>

#include "check.h"
#include "pyramid.h"
#include "recordline.h"
#include "records.h"

using namespace tarvo::recorded;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    Layout l;
    l.channels = 1 + (data[0] & 7);
    l.digital = (data[0] >> 3) & 1;
    l.counter = (data[0] >> 4) & 1;
    l.statusByte = l.digital || l.counter;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    Records one, many;
    Records::Options o;
    o.threads = 1;
    std::string why, why2;
    const bool ok = one.openBytes(text, l, o, why);
    o.threads = 2 + ((data[0] >> 5) & 3);
    o.parallelFrom = 0;
    const bool ok2 = many.openBytes(text, l, o, why2);
    FUZZ_CHECK(ok == ok2, "one thread %d, several %d (%s%s)", ok, ok2, why.c_str(), why2.c_str());
    if (!ok) {
        FUZZ_CHECK(why == why2, "'%s' and '%s'", why.c_str(), why2.c_str());
        checkPrintable(why, "the reason");
        unsigned long long line = 0, byte = 0;
        FUZZ_CHECK(std::sscanf(why.c_str(), "line %llu (byte %llu): ", &line, &byte) == 2, "%s",
                   why.c_str());
        FUZZ_CHECK(line >= 1 && byte < text.size(), "%s in %zu bytes", why.c_str(), text.size());
        return 0;
    }
    FUZZ_CHECK(one.bytes() + one.tail() == text.size(), "%llu + %llu",
               (unsigned long long)one.bytes(), (unsigned long long)one.tail());
    FUZZ_CHECK(one.count() == many.count() && one.lost() == many.lost(), "counts differ");
    FUZZ_CHECK(text.find('\n', one.bytes()) == std::string::npos, "a whole line left in the tail");
    Extent all;
    for (uint64_t i = 0; i < one.count(); i++) {
        const Record r = one.record(i);
        unsigned char rec[16] = {};
        // The record packed back as the board would send it, and formatted
        // as the recorder writes it: the line the file holds.
        for (unsigned c = 0; c < l.channels; c++) {
            const unsigned m = c / 2;
            if (c % 2 == 0) {
                rec[3 * m] = uint8_t(r.ch[c] >> 4);
                rec[3 * m + 1] = uint8_t((rec[3 * m + 1] & 0xF0) | (r.ch[c] & 15));
            } else {
                rec[3 * m + 1] = uint8_t((rec[3 * m + 1] & 0x0F) | ((r.ch[c] & 15) << 4));
                rec[3 * m + 2] = uint8_t(r.ch[c] >> 4);
            }
        }
        if (l.statusByte)
            rec[reclen(l.channels, 1) - 1] = uint8_t(r.digital << 4 | r.counter);
        char line[RECORDLINE_MAX];
        const int n = formatrecord(rec, l.channels, l.statusByte, l.digital, l.counter, line);
        FUZZ_CHECK(one.text(i) == std::string_view(line, size_t(n) - (sizeof RECORDLINE_END - 1)),
                   "record %llu: '%s'", (unsigned long long)i, std::string(one.text(i)).c_str());
        FUZZ_CHECK(many.text(i) == one.text(i), "record %llu differs", (unsigned long long)i);
        FUZZ_CHECK(many.lostBefore(i) == one.lostBefore(i), "lost before %llu differs",
                   (unsigned long long)i);
        all.add(r.ch[0]);
    }
    if (one.count() > 0) {
        Pyramid p(many);
        const auto whole = p.minmax(0, 0, one.count() - 1, 1);
        FUZZ_CHECK(whole[0].lo == all.lo && whole[0].hi == all.hi, "pyramid %u..%u, records %u..%u",
                   whole[0].lo, whole[0].hi, all.lo, all.hi);
    }
    return 0;
}
