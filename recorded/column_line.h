// A line of integer columns, as tarvo writes it: its values read fast while
// the index is built, and the reason, in words, when a line is not one.
// Internal to the readers of records.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "records.h"

namespace tarvo::recorded::scan {

// The value of the n decimal digits (1 to 4) at the start of the eight
// bytes `w`: the digits to the top of the word, zeros before them, then
// pairs and fours of digits combined.
inline unsigned fourDigits(uint64_t w, unsigned n)
{
    constexpr uint64_t ones = 0x0101010101010101ull;
    uint64_t d = (w - ones * 0x30) << (8 * (8 - n));
    d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FFull;
    d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFFull;
    return unsigned(d >> 32);
}

// Value v of column k into record r: one of the `chans` channels, the
// counter (column `counterAt`), or a digital line into `digital`.
inline void putColumn(Record& r, unsigned& digital, unsigned k, unsigned chans, unsigned counterAt,
                      unsigned v)
{
    if (k < chans)
        r.ch[k] = uint16_t(v);
    else if (k == counterAt)
        r.counter = uint8_t(v);
    else
        digital |= v << (3 - (k - chans));
}

// The decimal digits at p, eight bytes at a time (p[0..7] must be readable):
// how many there are (8: eight or more), and their value when there are one
// to four. No branch depends on the digits, so the lines' varying widths
// cost no mispredictions.
inline unsigned digitsAt(const char* p, unsigned& value)
{
    constexpr uint64_t ones = 0x0101010101010101ull;
    uint64_t w;
    std::memcpy(&w, p, 8);
    // Zero in every byte that is a digit: high nibble 3, low nibble 0..9. A
    // carry out of a byte that is not a digit only reaches the bytes after it.
    const uint64_t y = ((w & (ones * 0xF0)) ^ (ones * 0x30)) |
                       (((w + ones * 0x06) & (ones * 0xF0)) ^ (ones * 0x30));
    const uint64_t other = (((y & (ones * 0x7F)) + ones * 0x7F) | y) & (ones * 0x80);
    const unsigned n = other != 0 ? unsigned(__builtin_ctzll(other)) / 8 : 8;
    if (n == 0 || n > 4)
        return n;
    value = fourDigits(w, n);
    return n;
}

#if defined(__SSE2__)
// A whole line of integer columns at p, checked 64 bytes at once (p[0..71]
// must be readable): where its commas, digits and end are as bit masks, then
// each value from its known width. The next line's start, or null when the
// line is not a plain record of the layout within 64 bytes: reading it one
// byte at a time then tells what it is.
inline const char* wholeLine(const char* p, unsigned cols, unsigned chans, unsigned counterAt,
                             const unsigned* limit, Record& r)
{
    const __m128i comma = _mm_set1_epi8(','), nl = _mm_set1_epi8('\n');
    const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
    uint64_t commas = 0, ends = 0, digits = 0;
    for (int i = 0; i < 4; i++) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const __m128i t = _mm_sub_epi8(v, zero);  // a digit: 0..9 unsigned
        commas |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, comma)))) << (16 * i);
        ends |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, nl)))) << (16 * i);
        digits |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(t, nine), nine))))
                  << (16 * i);
    }
    if (ends == 0)
        return nullptr;
    const unsigned e = unsigned(__builtin_ctzll(ends));
    const unsigned stop = e > 0 && p[e - 1] == '\r' ? e - 1 : e;  // where the values end
    const uint64_t inside = (uint64_t(1) << stop) - 1;
    uint64_t seps = commas & inside;
    if (((digits | seps) & inside) != inside)
        return nullptr;
    unsigned from = 0, digital = 0;
    for (unsigned k = 0; k < cols; k++) {
        unsigned to = stop;
        if (k + 1 < cols) {
            if (seps == 0)
                return nullptr;
            to = unsigned(__builtin_ctzll(seps));
            seps &= seps - 1;
        } else if (seps != 0) {
            return nullptr;
        }
        const unsigned n = to - from;
        if (n - 1 > 3 || (n > 1 && p[from] == '0'))
            return nullptr;
        uint64_t w;
        std::memcpy(&w, p + from, 8);
        const unsigned v = fourDigits(w, n);
        if (v > limit[k])
            return nullptr;
        putColumn(r, digital, k, chans, counterAt, v);
        from = to + 1;
    }
    r.digital = uint8_t(digital);
    return p + e + 1;
}
#endif

// Why a line is not a record: what stands at `at` (in column `col`, 0-based)
// of the line that begins at `line`; `stop` bounds the search for its end.
std::string lineFault(const char* line, const char* at, const char* stop, unsigned col,
                      const Layout& l);
// Why the value of column `col` that begins at `s` and ends at `p` is not
// one tarvo writes; empty when it is.
std::string valueFault(const char* s, const char* p, unsigned v, unsigned col, const Layout& l);

// A checked line of integer columns (or raw bytes) into a record.
void decode(std::string_view text, const Layout& l, Record& r);

}  // namespace tarvo::recorded::scan
