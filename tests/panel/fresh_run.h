// The program's run state as a new process starts with it, for test
// programs that make several runs in one process.
#pragma once

#include "ctrlids.h"
#include "runtime.h"
#include "state.h"

// Ends a run a test left going, waits for its sampling thread and clears
// what the next Start expects cleared.
inline void freshRunState()
{
    if (functionId != 0) {
        stopp = 0;  // a run the test left going
        CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, functionId, 0);
        CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, functionId);
    }
    functionId = 0;
    tot_data = 0;
    lost_data = 0;
    RecCount = 1;
    stopp = 1;
    timestart = nullptr;
    fout = nullptr;
    // A new process's window has its settings and Start enabled (a panel
    // not loaded yet refuses the call, and has them enabled anyway).
    for (int id : {PANEL_COMPORT, PANEL_NUMCH, PANEL_BAUD, PANEL_STATUSBYTE, PANEL_PERIOD,
                   PANEL_DIGITAL, PANEL_COUNTER, PANEL_FORMAT, PANEL_START})
        SetCtrlAttribute(PANEL, id, ATTR_DIMMED, 0);
}
