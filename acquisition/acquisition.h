// The acquisition run: Start, the sampling function, Stop.
#pragma once

#include <cstdio>

// Panel callbacks.
int start(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int stop(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);

// The sampling function, run on the default thread pool from Start until the
// run flag is cleared.
int sample(void* functionData);

// Ends a run in progress without the run report (Quit, closing the window, a
// termination signal): sampling returns, the data file and the port are
// closed. Does nothing when no run is in progress.
void endrun(void);

// Waits for the sampling function to return after the run flag was cleared.
// The record in progress is completed when the board still sends; a read
// that keeps waiting on a silent board is cut short.
void waitsampling(void);

// The run's files (runfiles.cpp). opendata opens data.txt for a run, held
// against every other run, after keeping the previous run's files under
// dated names; NULL when it cannot (the reason on stderr and in the run
// status). closedata closes it, cut back to whole records. keepreport keeps
// a config.txt that a new report is about to replace.
FILE* opendata(void);
int closedata(void);
int keepreport(void);

// run.json (runinfo.cpp). runinfobegin writes it when the start byte has
// gone; the sampling thread adds the events (runinfoloss: `missing` records
// lost before record `record`; runinfosilence: the board fell silent
// `since` seconds ago after `record` records, or spoke again) and says how
// sampling ended (runinfoended: NULL when a command stopped it, with the
// whole records written); runinfoend completes it when the run ends by
// `command` ("stop", "quit"). Nothing happens without a run begun.
void runinfobegin(void);
void runinfoloss(unsigned record, unsigned missing);
void runinfosilence(int begins, unsigned record, double since);
void runinfoended(const char* failure, unsigned long long records);
void runinfoend(const char* command);

// The line end of the text files, config.txt and data.txt in integer
// columns: the platform's, as its text files have them (raw records are
// bytes, never translated).
#ifdef _WIN32
#define LINEEND "\r\n"
#else
#define LINEEND "\n"
#endif

// Whether a write to data.txt failed in the last run (the disk took no more).
int datawritefailed(void);

// Formats one record in integer columns into `line` (at least 64 bytes) and
// returns the length, line end (LINEEND) included: formatrecord (recordline.h)
// with this run's num_ch, di, digf and rec_c.
int recordline(const unsigned char* rec, char* line);

// The messages of a run.
extern const char MSG_SAMPLING[];
extern const char MSG_DATALOSS[];

// The live view of a run (view.cpp): viewbegin hands the run's layout to the
// chart and its counters to the run status, viewend shows the final numbers.
// chartrecord hands the record in cc to the chart and returns how many records
// the loop may pass over before the next one.
void viewbegin(void);
void viewend(void);
int chartrecord(void);
