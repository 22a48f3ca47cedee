// The run's side of the live view: the chart takes records from the sampling
// loop, the run status reads the loop's counters. Nothing here waits on the
// panel: a record the chart cannot take is left out of the picture, never out
// of data.txt.
#include "acquisition.h"

#include "recordline.h"
#include "runtime.h"
#include "state.h"

void viewbegin(void)
{
    // The digital lines are charted where the data file holds them: raw
    // records carry the whole status byte, columns only when asked to.
    int lines = di != 0 && (wfile == 0 || digf != 0);
    ChartBegin(num_ch, lines, SampPer);
    RunStatusBegin(&tot_data, &lost_data, "data.txt", SampPer);
}

void viewend(void) { RunStatusEnd(); }

int chartrecord(void)
{
    unsigned short values[8];
    for (unsigned int i = 0; i < num_ch; i++)
        values[i] = (unsigned short)recordsample(cc, i);
    return ChartRecord(tot_data.load(std::memory_order_relaxed), values,
                       di != 0 ? cc[RecLen - 1] : 0);
}
