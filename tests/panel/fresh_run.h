// The program's run state as a new process starts with it, for test
// programs that make several runs in one process.
#pragma once

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
}
