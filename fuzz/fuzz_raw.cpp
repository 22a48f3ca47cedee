// The raw-bytes reader with its settings: the first byte chooses the
// channels (1-8) and the status byte, the rest is the file. Every whole
// record must decode to its bytes' values (decoded here apart from the
// reader), the bytes after the last whole record are the tail, and the
// records turned into tarvo's columns (as tarvo-export --columns does) must
// read back through the columns reader as the same records.
#include <cstdint>
#include <string>
#include <vector>

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
    l.format = Format::Raw;
    l.channels = 1 + (data[0] & 7);
    l.statusByte = l.digital = l.counter = (data[0] >> 3) & 1;
    const unsigned len = l.recordBytes();
    const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);

    Records rs;
    Records::Options o;
    o.threads = 1 + ((data[0] >> 4) & 3);
    o.parallelFrom = 0;
    std::string why;
    FUZZ_CHECK(rs.openBytes(file, l, o, why), "refused: %s", why.c_str());
    FUZZ_CHECK(rs.count() == file.size() / len && rs.tail() == file.size() % len, "%llu records",
               (unsigned long long)rs.count());

    std::string columns;
    Extent all;
    for (uint64_t i = 0; i < rs.count(); i++) {
        const auto* r = reinterpret_cast<const uint8_t*>(file.data() + i * len);
        const Record got = rs.record(i);
        for (unsigned c = 0; c < l.channels; c++) {
            const unsigned m = c / 2;
            const unsigned want = c % 2 == 0 ? (r[3 * m] << 4) | (r[3 * m + 1] & 0x0F)
                                             : (r[3 * m + 2] << 4) | (r[3 * m + 1] >> 4);
            FUZZ_CHECK(got.ch[c] == want, "record %llu channel %u: %u, not %u",
                       (unsigned long long)i, c, got.ch[c], want);
        }
        if (l.statusByte)
            FUZZ_CHECK(got.digital == r[len - 1] >> 4 && got.counter == (r[len - 1] & 15),
                       "record %llu status", (unsigned long long)i);
        all.add(got.ch[l.channels - 1]);
        char line[RECORDLINE_MAX];
        columns.append(line, size_t(formatrecord(r, l.channels, l.statusByte, 1, 1, line)));
    }
    if (rs.count() == 0)
        return 0;
    Layout c = l;
    c.format = Format::Columns;
    Records back;
    FUZZ_CHECK(back.openBytes(columns, c, o, why), "its columns refused: %s", why.c_str());
    FUZZ_CHECK(back.count() == rs.count() && back.lost() == rs.lost(), "columns: %llu records",
               (unsigned long long)back.count());
    for (uint64_t i = 0; i < rs.count(); i += 1 + i / 8) {
        const Record a = rs.record(i), b = back.record(i);
        for (unsigned k = 0; k < l.channels; k++)
            FUZZ_CHECK(a.ch[k] == b.ch[k], "record %llu channel %u", (unsigned long long)i, k);
        FUZZ_CHECK(a.digital == b.digital && a.counter == b.counter, "record %llu status",
                   (unsigned long long)i);
        FUZZ_CHECK(rs.lostBefore(i) == back.lostBefore(i), "lost before %llu",
                   (unsigned long long)i);
    }
    Pyramid p(rs);
    const auto whole = p.minmax(l.channels - 1, 0, rs.count() - 1, 1);
    FUZZ_CHECK(whole[0].lo == all.lo && whole[0].hi == all.hi, "pyramid %u..%u, records %u..%u",
               whole[0].lo, whole[0].hi, all.lo, all.hi);
    return 0;
}
