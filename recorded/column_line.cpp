#include "column_line.h"

#include <cstdio>

#include "records_scan.h"

namespace tarvo::recorded::scan {

namespace {

std::string printable(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F)
        return std::string("'") + c + "'";
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", u);
    return hex;
}

}  // namespace

std::string lineFault(const char* line, const char* at, const char* stop, unsigned col,
                      const Layout& l)
{
    const char* end = static_cast<const char*>(std::memchr(line, '\n', size_t(stop - line)));
    unsigned cols = 1;
    for (const char* q = line; end != nullptr && q < end; q++)
        cols += *q == ',';
    const std::string want =
        std::to_string(l.columns()) + (l.columns() == 1 ? " column" : " columns");
    if (at == line && (*at == '\n' || (*at == '\r' && at[1] == '\n')))
        return "an empty line";
    if ((*at == '\n' || *at == '\r') && col + 1 < l.columns())
        return std::to_string(cols) + (cols == 1 ? " column" : " columns") + ", expected " + want;
    if (*at == ',' && col + 1 == l.columns())
        return std::to_string(cols) + " columns, expected " + want;
    if (*at == '\r')
        return "a carriage return inside the line";
    return "unexpected " + printable(*at) + " in column " + std::to_string(col + 1);
}

std::string valueFault(const char* s, const char* p, unsigned v, unsigned col, const Layout& l)
{
    const std::string column = "column " + std::to_string(col + 1);
    if (p - s > 4)
        return "a value of more than four digits in " + column;
    if (*s == '0' && p - s > 1)
        return "a value with a leading zero in " + column;
    if (col < l.channels)
        return v > 4095 ? "channel " + std::to_string(col + 1) + " is " + std::to_string(v) +
                              ", above 4095"
                        : "";
    if (l.counter && col == l.columns() - 1)
        return v > 15 ? "the counter is " + std::to_string(v) + ", above 15" : "";
    return v > 1 ? "digital line d" + std::to_string(col - l.channels + 1) + " is " +
                       std::to_string(v) + ", not 0 or 1"
                 : "";
}

void decode(std::string_view text, const Layout& l, Record& r)
{
    if (l.format == Format::Raw) {
        decodeRaw(reinterpret_cast<const unsigned char*>(text.data()), l, r);
        return;
    }
    const char* p = text.data();
    const char* end = p + text.size();
    r.digital = 0;
    for (unsigned k = 0; k < l.columns() && p < end; k++) {
        unsigned v = 0;
        while (p < end && *p != ',')
            v = v * 10 + unsigned(*p++ - '0');
        p++;
        if (k < l.channels)
            r.ch[k] = uint16_t(v);
        else if (l.counter && k == l.columns() - 1)
            r.counter = uint8_t(v);
        else
            r.digital = uint8_t(r.digital | ((v & 1) << (3 - (k - l.channels))));
    }
}

}  // namespace tarvo::recorded::scan
