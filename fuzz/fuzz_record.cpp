// The record decoder over arbitrary byte streams and settings: the first
// byte chooses the settings (channels 1-8, status byte, digital lines,
// counter), the rest is the stream, cut into records as the sampling loop
// cuts it. Every line must be the record's values, decoded by the record
// oracle apart from the recorder, in the columns the settings ask for,
// within the line buffer.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "acquisition.h"
#include "check.h"
#include "reccost.h"
#include "record_oracle.h"
#include "runtime.h"
#include "state.h"

// The panel layer wants the program's callback table; the decoder needs none.
#include "../tests/panel/no_panel.h"

namespace {

constexpr size_t kLineBuffer = 64;  // what the sampling loop gives recordline

std::vector<unsigned> parsed(const char* line, size_t n)
{
    std::vector<unsigned> v;
    unsigned cur = 0;
    size_t digits = 0;
    for (size_t i = 0; i < n; i++) {
        const char c = line[i];
        if (c >= '0' && c <= '9') {
            FUZZ_CHECK(digits < 4, "a value of more than four digits in '%.*s'", (int)n, line);
            FUZZ_CHECK(!(digits == 1 && cur == 0), "a leading zero in '%.*s'", (int)n, line);
            cur = cur * 10 + unsigned(c - '0');
            digits++;
        } else {
            FUZZ_CHECK(c == ',' || (c == '\n' && i == n - 1), "byte %d in '%.*s'", c, (int)n, line);
            FUZZ_CHECK(digits > 0, "an empty column in '%.*s'", (int)n, line);
            v.push_back(cur);
            cur = 0;
            digits = 0;
        }
    }
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t set = data[0];
    num_ch = 1 + (set & 7);
    di = (set >> 3) & 1;
    digf = (set >> 4) & 1;
    rec_c = (set >> 5) & 1;
    RecLen = reclen(num_ch, di);
    data++, size--;
    Panel settings;
    settings.num_ch = num_ch, settings.di = di, settings.digf = digf, settings.rec_c = rec_c;

    // The line buffer on the heap, exactly as large as the loop's, so that
    // a write past it is caught.
    auto line = std::make_unique<char[]>(kLineBuffer);
    for (size_t at = 0; at + RecLen <= size; at += RecLen) {
        // The loop decodes from its record buffer; so does this.
        std::memcpy(cc, data + at, RecLen);
        const int n = recordline(cc, line.get());
        FUZZ_CHECK(n > 0 && (size_t)n <= kLineBuffer, "length %d", n);
        FUZZ_CHECK(line[n - 1] == '\n', "no line end");
        const std::vector<unsigned> got = parsed(line.get(), (size_t)n);
        const std::vector<unsigned> want = recordValues(cc, settings);
        FUZZ_CHECK(got == want, "'%.*s' is not the record's %zu values", n - 1, line.get(),
                   want.size());
    }
    return 0;
}
