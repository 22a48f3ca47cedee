// The record oracle: what data.txt must hold for a stream of records, worked
// out here apart from the recorder's own decoder (device/recordline.h), from
// the record layout: channels 2m and 2m+1 share bytes 3m..3m+2; the status
// byte, when there is one, is the last byte (digital lines in bits 7..4, the
// record counter in bits 3..0).
//
// Shared by the end-to-end and fault suites, the fuzz targets and the
// benchmarks; it uses no test framework.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The settings of a run, as a script sets them on the panel.
struct Panel {
    unsigned num_ch = 6, baudr = 115200, di = 1, SampPer = 2000, digf = 1, rec_c = 1, wfile = 1;
    std::string lines() const;  // the `set` lines of a script
    unsigned recLen() const;    // bytes of one record on the wire
};

// The values of one record in the columns the settings ask for: the
// channels, then the digital lines and the counter where recorded.
std::vector<unsigned> recordValues(const unsigned char* record, const Panel& p);
// The data line of one record in integer columns, without the line end.
std::string recordLine(const unsigned char* record, const Panel& p);
// The data lines that a byte stream of records must give in integer columns.
std::vector<std::string> decode(const std::vector<unsigned char>& stream, const Panel& p);

// The 14-byte configuration block for the settings, as the configuration
// step builds it.
void configBlock(const Panel& p, uint8_t block[14]);

// The data lines of the board model's records for the settings: its stream
// repeats after one signal cycle, record 1 first.
class ExpectedCycle {
public:
    explicit ExpectedCycle(const Panel& p);  // throws std::runtime_error if the model refuses
    const std::string& of(uint64_t n) const { return lines_[(n - 1) % lines_.size()]; }

private:
    std::vector<std::string> lines_;
};

// What a reading of a whole data.txt found against records 1, 2, 3, ...
struct DataCheck {
    uint64_t lines = 0;
    uint64_t firstBad = 0;       // the first line that is not the record expected there (0: none)
    uint64_t counterBreaks = 0;  // lines whose counter is not the one after the previous
    bool partialLast = false;
};
// Reads the data file at `path` and compares it line for line with the
// cycle; throws std::runtime_error when it cannot be read.
DataCheck checkData(const std::string& path, const ExpectedCycle& want);
