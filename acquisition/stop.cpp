#include "acquisition.h"

#include "ctrlids.h"
#include "runtime.h"
#include "state.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

void waitsampling(void)
{
    if (functionId == 0)
        return;
    // A record under way is read to its end while the board sends; one that
    // waits on a silent board is cut short after a second.
    if (CmtWaitForThreadPoolFunctionTimed(DEFAULT_THREAD_POOL_HANDLE, functionId, 1.0) == 0) {
        CancelComRd(com);
        CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, functionId, 0);
    }
}

void endrun(void)
{
    if (functionId == 0 || fout == NULL)
        return;
    stopp = 0;
    waitsampling();
    CloseCom(com);
    closedata();
    runinfoend("quit");
}

// The start time as the platform's asctime writes it: the C standard's
// layout, "Thu Mar  5 14:03:27 2007", where the Windows C library pads the
// day with a zero ("Mar 05"), as the recorder's Windows users know it.
static const char* starttime(const struct tm* t)
{
    static const char wday[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char mon[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
#ifdef _WIN32
    const char* layout = "%.3s %.3s %02d %.2d:%.2d:%.2d %d%s";
#else
    const char* layout = "%.3s %.3s%3d %.2d:%.2d:%.2d %d%s";
#endif
    static char text[64];
    snprintf(text, sizeof text, layout, wday[(t->tm_wday % 7 + 7) % 7],
             mon[(t->tm_mon % 12 + 12) % 12], t->tm_mday, t->tm_hour, t->tm_min, t->tm_sec,
             1900 + t->tm_year, LINEEND);
    return text;
}

// The report is written beside config.txt and renamed into place once it is
// whole, so config.txt is either the whole report or not there. A report of
// an earlier run that it would replace is kept under a dated name first.
static const char REPORT[] = "config.txt";
static const char PARTIAL[] = "config.txt.new";

// A regular file (not a link to one), or nothing.
static bool plainorabsent(const char* name)
{
    std::error_code ec;
    const auto st = std::filesystem::symlink_status(name, ec);
    return ec || st.type() == std::filesystem::file_type::not_found ||
           st.type() == std::filesystem::file_type::regular;
}

static void noreport(const char* message, const char* why)
{
    remove(PARTIAL);
    fprintf(stderr, "tarvo: %s: %s; no report was written\n", REPORT, why);
    SetCtrlVal(PANEL, PANEL_MESSAGE, message);
}

static void writereport(void)
{
    if (keepreport() < 0) {
        SetCtrlVal(PANEL, PANEL_MESSAGE, " ERROR: Cannot create CONFIG.TXT!");
        return;
    }
    // A config.txt that is no plain file (a link, a FIFO, a directory) is
    // written through as it is, or refused.
    const bool through = !plainorabsent(REPORT);
    const char* name = through ? REPORT : PARTIAL;
    // Binary, as data.txt: the line ends are LINEEND, written as they are.
    FILE* frep = fopen(name, "wb");
    if (frep == NULL) {
        noreport(" ERROR: Cannot create CONFIG.TXT!", strerror(errno));
        return;
    }
    fprintf(frep, "A genuine device had sampled data in file DATA.TXT as:");
    fputs(LINEEND, frep);
    fputs(LINEEND, frep);
    if (wfile != 0)
        fprintf(frep, "Colums of int...");
    else
        fprintf(frep, "Array of char...");
    fputs(LINEEND, frep);
    fputs(LINEEND, frep);
    fprintf(frep, "The start flag date/time was sent at:");
    // Without a run there is no start time; the line keeps its place.
    if (timestart != NULL)
        fputs(starttime(timestart), frep);
    else
        fprintf(frep, "never (no run was started)%s", LINEEND);
    fputs(LINEEND, frep);
    fprintf(frep, "With the configuration parameters:");
    fputs(LINEEND, frep);
    fprintf(frep, "Number of Analogical channels:  ");
    fprintf(frep, "%u", num_ch);
    fputs(LINEEND, frep);
    if (digf != 0)
        fprintf(frep, "And 4 digital channels");
    if (rec_c != 0)
        fprintf(frep, "The last colum is the record counter 0-15");
    fputs(LINEEND, frep);
    fprintf(frep, "with a sample period of [us]:  ");
    fprintf(frep, "%u", SampPer);
    fputs(LINEEND, frep);
    fprintf(frep, "The number of samples for every channel is:  ");
    fprintf(frep, "%u", tot_data.load());
    const int failed = ferror(frep);
    if (fclose(frep) != 0 || failed) {
        noreport(" ERROR: Cannot write CONFIG.TXT!", "the disk took no more");
        return;
    }
    if (through)
        return;
    std::error_code ec;
    std::filesystem::rename(PARTIAL, REPORT, ec);  // replaces, on every system
    if (ec)
        noreport(" ERROR: Cannot write CONFIG.TXT!", ec.message().c_str());
}

int stop(int panel, int control, int event, void* callbackData, int eventData1, int eventData2)
{
    (void)panel, (void)control, (void)callbackData, (void)eventData1, (void)eventData2;
    switch (event) {
    case EVENT_COMMIT:
        stopp = 0;
        Delay(0.25);
        // The port and the data file stay open until sampling has returned.
        waitsampling();
        CloseCom(com);
        closedata();
        runinfoend("stop");
        viewend();  // the final counts, as the report gives them, on screen now
        SetCtrlVal(PANEL, PANEL_MESSAGE,
                   "Data recorded in DATA.TXT, config parameter in CONFIG.TXT");
        writereport();
        Delay(2.0);
        QuitUserInterface(0);
        break;
    case EVENT_LEFT_CLICK: break;
    }
    return 0;
}
