// tarvo-micro: the per-record costs of the sampling loop and the cost of the
// configuration step, with Google Benchmark.
//
// The records are the board model's own test signals, so the numbers have
// the digit counts of a real run. The data file is /dev/null with the
// recorder's 64 KiB stdio buffer: what is measured is the decoding and the
// copy into the buffer, not the disk.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "acquisition.h"
#include "board_model.h"
#include "buildconf.h"
#include "ctrlids.h"
#include "reccost.h"
#include "runtime.h"
#include "state.h"

namespace {

// One signal cycle of records for the given settings, back to back.
std::vector<unsigned char> records(unsigned channels, unsigned status)
{
    const unsigned len = reclen(channels, status);
    std::vector<unsigned char> out(tarvo::board::kSignalCycle * len);
    for (uint64_t n = 1; n <= tarvo::board::kSignalCycle; n++) {
        uint16_t v[tarvo::board::kMaxChannels];
        for (unsigned ch = 0; ch < channels; ch++)
            v[ch] = tarvo::board::sampleValue(ch, n);
        unsigned char* r = &out[(n - 1) * len];
        tarvo::board::packSamples(v, channels, 0, r);
        if (status)
            r[len - 1] = tarvo::board::statusByte(n);
    }
    return out;
}

// The settings the sampling loop reads, as the configuration step leaves them.
void configure(unsigned channels, unsigned status)
{
    num_ch = channels;
    di = status;
    digf = status;
    rec_c = status;
    RecLen = reclen(channels, status);
}

std::FILE* datafile()
{
    std::FILE* f = std::fopen("/dev/null", "w");
    std::setvbuf(f, nullptr, _IOFBF, 1 << 16);
    return f;
}

// Integer columns: one record decoded into its line and written.
void BM_RecordColumns(benchmark::State& state)
{
    const unsigned channels = unsigned(state.range(0)), status = unsigned(state.range(1));
    configure(channels, status);
    const auto recs = records(channels, status);
    std::FILE* f = datafile();
    char line[64];
    std::size_t at = 0, bytes = 0;
    for (auto _ : state) {
        const int n = recordline(&recs[at], line);
        std::fwrite(line, 1, std::size_t(n), f);
        bytes += std::size_t(n);
        at += RecLen;
        if (at == recs.size())
            at = 0;
    }
    std::fclose(f);
    state.SetItemsProcessed(state.iterations());
    state.counters["line_bytes"] = double(bytes) / double(state.iterations());
}
BENCHMARK(BM_RecordColumns)->ArgNames({"ch", "status"})->ArgsProduct({{1, 6, 8}, {0, 1}});

// Raw bytes: one record written byte by byte as it arrives.
void BM_RecordRaw(benchmark::State& state)
{
    const unsigned channels = unsigned(state.range(0)), status = unsigned(state.range(1));
    configure(channels, status);
    const auto recs = records(channels, status);
    std::FILE* f = datafile();
    std::size_t at = 0;
    for (auto _ : state) {
        for (unsigned j = 0; j < RecLen; j++) {
            cc[j] = recs[at + j];
            putc(cc[j], f);
        }
        at += RecLen;
        if (at == recs.size())
            at = 0;
    }
    std::fclose(f);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordRaw)->ArgNames({"ch", "status"})->Args({8, 1});

void putsettings(unsigned channels, unsigned baud, unsigned status, unsigned period)
{
    SetCtrlVal(PANEL, PANEL_NUMCH, int(channels));
    SetCtrlVal(PANEL, PANEL_BAUD, int(baud));
    SetCtrlVal(PANEL, PANEL_STATUSBYTE, int(status));
    SetCtrlVal(PANEL, PANEL_PERIOD, period);
    SetCtrlVal(PANEL, PANEL_DIGITAL, 1);
    SetCtrlVal(PANEL, PANEL_COUNTER, 1);
    SetCtrlVal(PANEL, PANEL_FORMAT, 1);
}

// The configuration step as Start calls it: the eight settings read from the
// real panel (loaded offscreen from tarvo.uir), the period check, the block
// and its checksum.
void BM_Buildconf(benchmark::State& state)
{
    putsettings(8, 115200, 1, 1958);
    for (auto _ : state) {
        const int r = buildconf();
        benchmark::DoNotOptimize(r);
        if (r != 0)
            state.SkipWithError("buildconf refused the settings");
    }
}
BENCHMARK(BM_Buildconf);

// The computation behind it alone: the record cost and the block checksum.
void BM_RecordCostAndChecksum(benchmark::State& state)
{
    unsigned char block[14] = {8, 14, 12, 10, 8, 6, 4, 2, 0, 0x80, 0xFF, 0xFF, 0xFF, 0x80};
    uint32_t period = 1958;
    for (auto _ : state) {
        benchmark::DoNotOptimize(period);
        const uint32_t spare = period - reccost(8, 1, costrow(115200));
        block[9] = (unsigned char)(0x80 - spare % 10);
        block[10] = (unsigned char)(0xFF - (spare / 10 & 0xFF));
        benchmark::DoNotOptimize(blockchecksum(block, 14));
    }
}
BENCHMARK(BM_RecordCostAndChecksum);

}  // namespace

int main(int argc, char** argv)
{
    static char arg0[] = "tarvo-micro", arg1[] = "-platform", arg2[] = "offscreen";
    static char* rtArgv[] = {arg0, arg1, arg2, nullptr};
    if (InitRunTime(0, rtArgv, 0) == 0 || (panelHandle = LoadPanel(0, "tarvo.uir", 1)) < 0) {
        std::fprintf(stderr, "tarvo-micro: the panel cannot be loaded\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
