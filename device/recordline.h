// A record as the board sends it and its line in an integer-columns data
// file: the one decoder of the sampling loop and of the readers of recorded
// runs (tarvo-export), so that a raw capture turned into columns is byte for
// byte what the recorder would have written.
//
// Channels 2m and 2m+1 share the bytes 3m..3m+2 of the record; the status
// byte, when there is one, is its last byte (digital lines in bits 7..4, the
// record counter in bits 3..0).
#pragma once

#include <cstring>

#include "reccost.h"

// Channel i's 12-bit sample of the record `rec`.
inline unsigned int recordsample(const unsigned char* rec, unsigned int i)
{
    const unsigned int k = (3 * i) / 2;
    if (i % 2 == 0)
        return 16 * rec[k] + (rec[k + 1] & 15);
    return 16 * rec[k + 1] + (rec[k] & 240) / 16;
}

// Writes v in decimal at p and returns the end. The values are 12-bit
// samples and 4-bit counters: at most four digits, written two at a time
// from a table rather than with one division each.
inline char* recordint(char* p, unsigned int v)
{
    static const char pairs[] =
        "0001020304050607080910111213141516171819"
        "2021222324252627282930313233343536373839"
        "4041424344454647484950515253545556575859"
        "6061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    if (v < 10) {
        *p++ = (char)('0' + v);
    } else if (v < 100) {
        std::memcpy(p, pairs + 2 * v, 2);
        p += 2;
    } else if (v < 1000) {
        *p++ = (char)('0' + v / 100);
        std::memcpy(p, pairs + 2 * (v % 100), 2);
        p += 2;
    } else if (v < 10000) {
        std::memcpy(p, pairs + 2 * (v / 100), 2);
        std::memcpy(p + 2, pairs + 2 * (v % 100), 2);
        p += 4;
    } else {
        char tmp[10];
        int n = 0;
        do {
            tmp[n++] = (char)('0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (n > 0)
            *p++ = tmp[--n];
    }
    return p;
}

// The line end of data.txt in integer columns: the platform's, as its text
// files have them.
#ifdef _WIN32
#define RECORDLINE_END "\r\n"
#else
#define RECORDLINE_END "\n"
#endif

// The longest line formatrecord writes: 8 samples of 4 digits, 4 digital
// lines, a counter of 2 digits, the commas and the line end.
constexpr unsigned int RECORDLINE_MAX = 8 * 5 + 4 * 2 + 3 + 2;

// Formats the record `rec` as its line of integer columns: the num_ch
// samples, then, when the record has a status byte (di), the four digital
// lines (digf) and the counter (rec_c), then RECORDLINE_END. Returns the
// length.
inline int formatrecord(const unsigned char* rec, unsigned int num_ch, unsigned int di,
                        unsigned int digf, unsigned int rec_c, char* line)
{
    char* p = line;
    for (unsigned int i = 0; i < num_ch; i++) {
        if (i != 0)
            *p++ = ',';
        p = recordint(p, recordsample(rec, i));
    }
    if (di != 0) {
        const unsigned char s = rec[reclen(num_ch, di) - 1];
        if (digf != 0) {
            for (int bit = 7; bit >= 4; bit--) {
                *p++ = ',';
                *p++ = (s >> bit) & 1 ? '1' : '0';
            }
        }
        if (rec_c != 0) {
            *p++ = ',';
            p = recordint(p, s & 15);
        }
    }
    for (const char* e = RECORDLINE_END; *e != '\0'; e++)
        *p++ = *e;
    return (int)(p - line);
}
