#include "hint.h"

#include <cstdio>

#include "ctrlids.h"
#include "reccost.h"
#include "runtime.h"

// A time in microseconds as people read it: whole microseconds below 10 ms,
// then milliseconds and seconds to a tenth ("1505 µs", "10.4 ms", "167.8 s").
static void duration(char* text, int size, double us)
{
    if (us < 10000)
        snprintf(text, size, "%.0f \xC2\xB5s", us);
    else if (us < 1e6)
        snprintf(text, size, "%.1f ms", us / 1e3);
    else
        snprintf(text, size, "%.1f s", us / 1e6);
}

int periodhint(int panel, char* text, int size)
{
    // Locals: the program's settings keep the values of the last Start.
    unsigned int channels = 0, baud = 0, status = 0, period = 0;
    if (GetCtrlVal(panel, PANEL_NUMCH, &channels) < 0 || GetCtrlVal(panel, PANEL_BAUD, &baud) < 0 ||
        GetCtrlVal(panel, PANEL_STATUSBYTE, &status) < 0 ||
        GetCtrlVal(panel, PANEL_PERIOD, &period) < 0)
        return -1;
    if (channels < 1 || channels > 8)
        return -1;
    // The same cost and the same limits as the configuration step: the
    // board counts the period past the cost in 24 bits of 10 µs.
    const unsigned int di = status != 0;
    const unsigned int cost = reccost(channels, di, baud);
    const double longest = double(cost) + 0xFFFFFF * 10.0 + 9;
    const char* verdict = "";
    if (period < cost)
        verdict = ": too short";
    else if ((period - cost) / 10 > 0xFFFFFF)
        verdict = ": too long";
    char from[32], to[32];
    duration(from, sizeof from, cost);
    duration(to, sizeof to, longest);
    int n = snprintf(text, size, "%s to %s%s", from, to, verdict);
    // Start checks the board's table alone; a slow line carries fewer
    // records than the table allows, and the records would queue up.
    const unsigned int line = linefloor(channels, di, baud);
    if (line > cost && n >= 0 && n < size) {
        char need[32];
        duration(need, sizeof need, line);
        snprintf(text + n, size - n, "; at %u bit/s the line needs %s", baud, need);
    }
    return 0;
}
