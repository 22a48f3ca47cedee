// The run's two files in the current directory. data.txt is held by its run
// from Start to its end, so that a second run in the same folder cannot
// truncate it; and a finished run is never destroyed by the next one: before
// data.txt or config.txt is replaced, the previous run's files are kept under
// names dated with that run's start (data-20261207-180233.txt with
// config-20261207-180233.txt and run-20261207-180233.json).
#include "acquisition.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "runtime.h"
#include "state.h"

namespace {

const char DATAFILE[] = "data.txt";
const char REPORTFILE[] = "config.txt";
const char RUNFILE[] = "run.json";

// The bytes of a regular file; 0 for anything else (missing, a FIFO, a
// device): only a file with contents is worth keeping.
long long contents(const char* name)
{
    struct stat st;
    if (stat(name, &st) != 0 || (st.st_mode & S_IFMT) != S_IFREG)
        return 0;
    return (long long)st.st_size;
}

// The start of the run whose files these are: the report's start time when
// it has one, else when its data file (or the report) was last written.
bool reportstart(struct tm* t)
{
    if (contents(REPORTFILE) == 0)
        return false;  // nothing in it, or no plain file to read (a FIFO would wait)
    FILE* f = fopen(REPORTFILE, "rb");
    if (f == NULL)
        return false;
    static const char prefix[] = "The start flag date/time was sent at:";
    char line[256];
    bool found = false;
    while (!found && fgets(line, sizeof line, f) != NULL) {
        if (strncmp(line, prefix, sizeof prefix - 1) != 0)
            continue;
        static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
        char wday[4], mon[4];
        int mday, hour, min, sec, year;
        if (sscanf(line + sizeof prefix - 1, "%3s %3s %d %d:%d:%d %d", wday, mon, &mday, &hour,
                   &min, &sec, &year) != 7)
            break;
        const char* m = strlen(mon) == 3 ? strstr(months, mon) : NULL;
        if (m == NULL || (m - months) % 3 != 0)
            break;
        *t = {};
        t->tm_year = year - 1900;
        t->tm_mon = (int)(m - months) / 3;
        t->tm_mday = mday;
        t->tm_hour = hour;
        t->tm_min = min;
        t->tm_sec = sec;
        found = true;
    }
    fclose(f);
    return found;
}

// The start in run.json: "start": "2026-12-07T18:02:33.125+01:00".
bool runstart(struct tm* t)
{
    if (contents(RUNFILE) == 0)
        return false;
    FILE* f = fopen(RUNFILE, "rb");
    if (f == NULL)
        return false;
    char text[4096];
    const size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    text[n] = 0;
    const char* at = strstr(text, "\"start\": \"");
    *t = {};
    return at != NULL &&
           sscanf(at + 10, "%4d-%2d-%2dT%2d:%2d:%2d", &t->tm_year, &t->tm_mon, &t->tm_mday,
                  &t->tm_hour, &t->tm_min, &t->tm_sec) == 6 &&
           (t->tm_year -= 1900, t->tm_mon -= 1, true);
}

std::string stamp(void)
{
    struct tm t;
    if (!reportstart(&t) && !runstart(&t)) {
        struct stat st;
        time_t when = time(NULL);
        if (stat(DATAFILE, &st) == 0 && contents(DATAFILE) > 0)
            when = st.st_mtime;
        else if (stat(REPORTFILE, &st) == 0)
            when = st.st_mtime;
        const struct tm* local = localtime(&when);
        if (local == NULL)
            return "00000000-000000";
        t = *local;
    }
    char text[32];
    snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
             t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

bool exists(const std::string& name)
{
    struct stat st;
    return stat(name.c_str(), &st) == 0;
}

std::string keptname(const char* file, const std::string& suffix)
{
    std::string base = file;
    const size_t dot = base.rfind('.');
    return base.substr(0, dot) + "-" + suffix + base.substr(dot);
}

// Moves the files of `files` that have contents to dated names, one suffix
// for all of them, never onto a name that is taken. Says where they went on
// stderr and in the run status. Returns 0, or -1 with the reason in `why`
// (nothing is replaced then).
int keep(const char* const* files, int count, std::string& why)
{
    const std::string base = stamp();
    std::string suffix = base;
    for (int n = 2;; n++) {
        bool free = true;
        for (int i = 0; i < count; i++)
            free = free && !exists(keptname(files[i], suffix));
        if (free)
            break;
        suffix = base + "-" + std::to_string(n);
    }
    std::vector<std::string> moved;
    for (int i = 0; i < count; i++) {
        if (contents(files[i]) == 0)
            continue;
        const std::string to = keptname(files[i], suffix);
        if (rename(files[i], to.c_str()) != 0) {
            why = std::string("cannot keep the previous ") + files[i] + " as " + to + ": " +
                  strerror(errno);
            return -1;
        }
        moved.push_back(to);
    }
    std::string kept;  // "a", "a and b", "a, b and c"
    for (size_t i = 0; i < moved.size(); i++)
        kept += (i == 0 ? "" : i + 1 == moved.size() ? " and " : ", ") + moved[i];
    if (!kept.empty()) {
        fprintf(stderr, "tarvo: the previous run is kept as %s\n", kept.c_str());
        RunStatusNote(("Previous run kept as " + kept).c_str());
    }
    return 0;
}

void refuse(const char* file, const std::string& why)
{
    fprintf(stderr, "tarvo: %s: %s\n", file, why.c_str());
    RunStatusNote((std::string(file) + ": " + why).c_str());
}

}  // namespace

FILE* opendata(void)
{
    char why[256] = "";
    RunStatusNote("");  // what an earlier Start said is over
    // Held before anything is moved: a data.txt that a running tarvo holds
    // is refused here, never kept away from under it.
    FILE* f = OpenRunFile(DATAFILE, why, sizeof why);
    if (f == NULL) {
        refuse(DATAFILE, why);
        return NULL;
    }
    if (contents(DATAFILE) == 0 && contents(REPORTFILE) == 0 && contents(RUNFILE) == 0)
        return f;
    const bool moved = contents(DATAFILE) > 0;
    static const char* const previous[] = {DATAFILE, REPORTFILE, RUNFILE};
    std::string failed;
    if (keep(previous, 3, failed) < 0) {
        fclose(f);  // the previous file, untouched
        refuse(DATAFILE, failed);
        return NULL;
    }
    if (!moved)
        return f;
    // The stream holds the kept file now: open the new data.txt.
    fclose(f);
    f = OpenRunFile(DATAFILE, why, sizeof why);
    if (f == NULL)
        refuse(DATAFILE, why);
    return f;
}

int closedata(void)
{
    if (fout == NULL)
        return 0;
    // After a failed write the file may end inside a record: only whole
    // records stay (a partial line would read as a valid shorter one).
    // Otherwise every byte received stays, a record cut short included.
    const int r = CloseRunFile(fout, !datawritefailed() ? -1 : wfile != 0 ? 0 : (int)RecLen);
    fout = NULL;
    return r;
}

int keepreport(void)
{
    if (contents(REPORTFILE) == 0)
        return 0;
    static const char* const report[] = {REPORTFILE};
    std::string why;
    if (keep(report, 1, why) < 0) {
        refuse(REPORTFILE, why);
        return -1;
    }
    return 0;
}
