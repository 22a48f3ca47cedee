#include "ctrlids.h"
#include "hint.h"
#include "runtime.h"
#include "state.h"

int main(int argc, char* argv[])
{
    (void)argc;
    if (InitRunTime(0, argv, 0) == 0)
        return -1;
    if ((panelHandle = LoadPanel(0, "tarvo.uir", 1)) < 0)
        // A script that does not fit the panel is the script's mistake.
        return panelHandle == LOAD_SCRIPT_MISFIT ? 2 : -1;
    InstallHintFunction(panelHandle, PANEL_PERIODHINT, periodhint);
    // The window offers the settings of the last run it started.
    RecallPanelSettings(panelHandle);
    DisplayPanel(panelHandle);
    RunUserInterface();
    // Id 0 (no run was started) returns at once.
    CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, functionId, 0);
    CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, functionId);
    DiscardPanel(panelHandle);
    return 0;
}
