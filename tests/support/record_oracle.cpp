#include "record_oracle.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "board_model.h"
#include "reccost.h"

std::string Panel::lines() const
{
    return "set 2 1\nset 6 " + std::to_string(num_ch) + "\nset 8 " + std::to_string(baudr) +
           "\nset 9 " + std::to_string(di) + "\nset 10 " + std::to_string(SampPer) + "\nset 11 " +
           std::to_string(digf) + "\nset 12 " + std::to_string(rec_c) + "\nset 13 " +
           std::to_string(wfile) + "\n";
}

unsigned Panel::recLen() const { return reclen(num_ch, di); }

std::vector<unsigned> recordValues(const unsigned char* r, const Panel& p)
{
    std::vector<unsigned> v;
    for (unsigned ch = 0; ch < p.num_ch; ch++) {
        const unsigned m = ch / 2;
        v.push_back(ch % 2 == 0 ? (r[3 * m] << 4) | (r[3 * m + 1] & 0x0F)
                                : (r[3 * m + 2] << 4) | (r[3 * m + 1] >> 4));
    }
    if (p.di) {
        const unsigned st = r[p.recLen() - 1];
        if (p.digf)
            for (int b = 7; b >= 4; b--)
                v.push_back((st >> b) & 1);
        if (p.rec_c)
            v.push_back(st & 15);
    }
    return v;
}

std::string recordLine(const unsigned char* r, const Panel& p)
{
    std::string line;
    for (unsigned v : recordValues(r, p))
        line += (line.empty() ? "" : ",") + std::to_string(v);
    return line;
}

std::vector<std::string> decode(const std::vector<unsigned char>& s, const Panel& p)
{
    const size_t len = p.recLen();
    std::vector<std::string> lines;
    for (size_t at = 0; at + len <= s.size(); at += len)
        lines.push_back(recordLine(&s[at], p));
    return lines;
}

void configBlock(const Panel& p, uint8_t* b)
{
    const uint32_t spare = p.SampPer - reccost(p.num_ch, p.di, p.baudr);
    b[0] = uint8_t(p.num_ch);
    for (unsigned i = 1; i <= 8; i++)
        b[i] = i <= p.num_ch ? uint8_t((p.num_ch - i) * 2) : 0;
    b[9] = uint8_t(0x80 - spare % 10);
    const uint32_t count = spare / 10;
    b[10] = uint8_t(0xFF - (count & 0xFF));
    b[11] = uint8_t(0xFF - ((count >> 8) & 0xFF));
    b[12] = uint8_t(0xFF - ((count >> 16) & 0xFF));
    b[13] =
        uint8_t((p.di ? 0 : 0x01) | (p.baudr == 115200 ? 0x80 : 0) | (p.baudr == 57600 ? 0x40 : 0));
}

ExpectedCycle::ExpectedCycle(const Panel& p)
{
    tarvo::board::BoardModel model;
    std::vector<uint8_t> rec(p.recLen());
    // A model configured as tarvo configures it, so records have recLen bytes.
    uint8_t block[14];
    configBlock(p, block);
    model.lineBreak();
    model.takeOutput();
    model.receive(block, 14);
    if (!model.config().valid)
        throw std::runtime_error("block refused: " + model.config().problem);
    for (uint64_t n = 1; n <= tarvo::board::kSignalCycle; n++) {
        model.makeRecord(n, rec.data());
        lines_.push_back(recordLine(rec.data(), p));
    }
}

DataCheck checkData(const std::string& path, const ExpectedCycle& want)
{
    DataCheck c;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw std::runtime_error("no data.txt");
    std::vector<char> buf(1 << 20);
    std::string pending;
    int lastCounter = -1;
    auto take = [&](const std::string& line) {  // one line, its line end included
        ++c.lines;
        if (!c.firstBad && line.compare(0, line.size() - 1, want.of(c.lines)) != 0)
            c.firstBad = c.lines;
        const auto comma = line.rfind(',');
        const int counter = comma == std::string::npos ? -1 : std::atoi(line.c_str() + comma + 1);
        if (lastCounter >= 0 && counter != (lastCounter + 1) % 16)
            ++c.counterBreaks;
        lastCounter = counter;
    };
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
        std::size_t start = 0;
        for (std::size_t i = 0; i < n; i++) {
            if (buf[i] != '\n')
                continue;
            if (pending.empty()) {
                take(std::string(buf.data() + start, i + 1 - start));
            } else {
                pending.append(buf.data() + start, i + 1 - start);
                take(pending);
                pending.clear();
            }
            start = i + 1;
        }
        pending.append(buf.data() + start, n - start);
    }
    std::fclose(f);
    c.partialLast = !pending.empty();
    return c;
}
