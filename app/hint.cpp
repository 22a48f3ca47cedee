#include "hint.h"

#include <cstdio>

#include "ctrlids.h"
#include "reccost.h"
#include "runtime.h"

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
    // The same cost and the same limits as the configuration step.
    unsigned int cost = reccost(channels, status != 0, baud);
    const char* verdict = "";
    if (period < cost)
        verdict = ": too short";
    else if ((period - cost) / 10 > 0xFFFFFF)
        verdict = ": too long";
    snprintf(text, size, "shortest %u \xC2\xB5s%s", cost, verdict);
    return 0;
}
