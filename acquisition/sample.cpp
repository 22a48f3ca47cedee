#include "acquisition.h"

#include "ctrlids.h"
#include "recordline.h"
#include "runtime.h"
#include "state.h"

const char MSG_DATALOSS[] = " WARNING: data loss...Sampling continue!";
static const char MSG_SILENT[] = " WARNING: No data from the board...Sampling continue!";
static const char MSG_PORTFAIL[] = " ERROR: The serial port failed! Sampling stopped.";
static const char MSG_WRITEFAIL[] = " ERROR: Cannot write DATA.TXT! Sampling stopped.";

// The message this thread last put on the message line. The line is only
// written when the text changes: the loss warning would otherwise be set
// again for every record once a record was lost.
static const char* shown;
static int lossseen;                // a record was lost in this run
static int lastcount;               // record counter of the last record received
static int chartskip;               // records to pass over before the chart takes the next
static unsigned long long written;  // whole records handed to the data file

static void show(const char* text)
{
    if (shown != text) {
        SetCtrlVal(PANEL, PANEL_MESSAGE, text);
        shown = text;
    }
}

// The data file reaches the disk at least once a second while records come
// in, so a run that is killed outright loses at most the last second. At long
// periods every record is flushed: a second may hold just one.
static time_t lastflush;
static int flusheach;
static int writefail;  // a write to data.txt failed in this run

static int flushdue(void)
{
    time_t now = time(NULL);
    if (flusheach || now != lastflush) {
        lastflush = now;
        if (fflush(fout) != 0)
            writefail = 1;
    }
    // A full disk shows at the first write that fails, a flush or the
    // buffer written because it was full: stop rather than drop records
    // unseen (a board that falls silent next would never show it). The
    // writes' own results tell it: ferror would lock the file every record.
    if (writefail) {
        show(MSG_WRITEFAIL);
        return -1;
    }
    return 0;
}

static_assert(sizeof(LINEEND) == sizeof(RECORDLINE_END), "data.txt's lines end as its report's");

int recordline(const unsigned char* rec, char* line)
{
    return formatrecord(rec, num_ch, di, digf, rec_c, line);
}

// The counter test: the board counts its records modulo 16, and the count
// expected next follows its own sequence, never the received one.
static void countertest(void)
{
    d = cc[RecLen - 1];
    // The run status counts the records missing between two received ones;
    // the warning's own expected count never catches up after a loss.
    unsigned int gap = (d - lastcount - 1) & 15;
    if (gap != 0) {
        lost_data.fetch_add(gap, std::memory_order_relaxed);
        runinfoloss(tot_data.load(std::memory_order_relaxed), gap);
    }
    lastcount = d & 15;
    if ((d & 15) != RecCount) {
        lossseen = 1;
        show(MSG_DATALOSS);
    }
    RecCount = (RecCount + 1) & 15;
}

// The next byte of the record. A board that falls silent is waited for: a
// time-out adds no byte to the record (it would be data the board never
// sent). Returns -1 when the record cannot be completed: the port failed, or
// the run was stopped while the board was silent.
static int nextbyte(void)
{
    for (;;) {
        int b = ComRdByte(com);
        if (b >= 0) {
            if (shown == MSG_SILENT) {
                show(lossseen ? MSG_DATALOSS : MSG_SAMPLING);
                runinfosilence(0, 0, 0);
            }
            return b;
        }
        if (b == COM_ERR_TIMEOUT) {
            if (stopp != 1)
                return -1;
            // Silent since the read began: the time-out ago.
            if (shown != MSG_SILENT)
                runinfosilence(1, (unsigned)written, 2.0 * SampPer / 1e6 + 1.0);
            show(MSG_SILENT);
            if (fflush(fout) != 0) {
                show(MSG_WRITEFAIL);
                return -1;
            }
            continue;
        }
        if (b != COM_ERR_CANCELLED)
            show(MSG_PORTFAIL);
        return -1;
    }
}

// What follows every whole record in either format: the counter test, the
// chart's share and the flush. Returns < 0 when the run must stop.
static int recorddone(void)
{
    written++;
    if (di != 0)
        countertest();
    if (chartskip-- == 0)
        chartskip = chartrecord();
    return flushdue();
}

// Reads the next record into cc, with raw bytes written to the file as they
// come. Returns < 0 when the run stopped or the port failed. Called with a
// constant `raw` and always inlined, so the test leaves the byte loop.
[[gnu::always_inline]] static inline int readrecord(const int raw)
{
    if (stopp != 1)
        return -1;
    tot_data.store(tot_data.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    for (unsigned int j = 0; j < RecLen; j++) {
        int b = nextbyte();
        if (b < 0)
            return -1;
        cc[j] = b;
        if (raw && putc(cc[j], fout) == EOF)
            writefail = 1;
    }
    return 0;
}

// Integer columns: a record's line is written once the record is whole.
static void columns(void)
{
    char line[64];
    while (readrecord(0) == 0) {
        size_t n = recordline(cc, line);
        if (fwrite(line, 1, n, fout) != n)
            writefail = 1;
        if (recorddone() < 0)
            return;
    }
}

static void rawbytes(void)
{
    while (readrecord(1) == 0)
        if (recorddone() < 0)
            return;
}

int sample(void* functionData)
{
    (void)functionData;
    shown = MSG_SAMPLING;
    lastflush = time(NULL);
    flusheach = SampPer >= 100000;
    writefail = 0;
    lastcount = (RecCount - 1) & 15;
    chartskip = 0;
    written = 0;
    viewbegin();
    if (wfile != 0)
        columns();
    else
        rawbytes();
    // What was recorded is on disk even if the port failed.
    if (fflush(fout) != 0 && shown != MSG_WRITEFAIL)
        show(MSG_WRITEFAIL);
    runinfoended(shown == MSG_WRITEFAIL  ? "write failed"
                 : shown == MSG_PORTFAIL ? "port failed"
                                         : NULL,
                 written);
    viewend();
    return 0;
}

int datawritefailed(void) { return writefail; }
