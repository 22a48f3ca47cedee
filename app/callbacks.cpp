// The panel's callbacks: Quit, the commands of the run, and the settings
// controls, which do nothing when changed (Start reads the settings).
#include "acquisition.h"
#include "panel_callbacks.h"
#include "runtime.h"
#include "state.h"

int quit(int panel, int control, int event, void* callbackData, int eventData1, int eventData2)
{
    switch (event) {
    case EVENT_COMMIT:
        // A person who quits (or closes the window) during a run is asked
        // first: Stop writes the run report, Quit alone does not. Scripts
        // and termination signals are not asked.
        if (functionId != 0 && fout != NULL && InteractiveEvent()) {
            switch (GenericMessagePopup("A run is in progress",
                                        "Recording goes on until you choose.\n\n"
                                        "Stop and save the report: the run ends, DATA.TXT is "
                                        "closed and CONFIG.TXT is written.\n"
                                        "Quit without the report: the run ends, DATA.TXT is "
                                        "closed, no CONFIG.TXT.",
                                        "Stop and save the report", "Quit without the report",
                                        "Cancel", 3)) {
            case 1:
                stop(panel, control, EVENT_COMMIT, callbackData, eventData1, eventData2);
                return 0;
            case 2: break;
            default: return 0;  // the run goes on
            }
        }
        // Quit during a run (also closing the window, or a termination
        // signal) ends the run first, so data.txt is complete and closed.
        endrun();
        QuitUserInterface(0);
        break;
    case EVENT_LEFT_CLICK: break;
    }
    return 0;
}

#define INERT_CALLBACK(name)                                                           \
    int name(int panel, int control, int event, void* callbackData, int eventData1,    \
             int eventData2)                                                           \
    {                                                                                  \
        (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1, \
            (void)eventData2;                                                          \
        return 0;                                                                      \
    }

TARVO_PANEL_SETTINGS(INERT_CALLBACK)

// Start, and the settings a run began with kept for the next start of tarvo.
static int startrun(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2)
{
    const int idle = functionId == 0;
    start(panel, control, event, callbackData, eventData1, eventData2);
    if (event == EVENT_COMMIT && idle && functionId != 0)
        RememberPanelSettings(panel);
    return 0;
}

// Stop, and a fresh tarvo for the next run when the window asks for one.
// Quit (also its "Stop and save the report"), a failed Start and a
// termination signal end the program for good.
static int stoprun(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2)
{
    stop(panel, control, event, callbackData, eventData1, eventData2);
    if (event == EVENT_COMMIT)
        StartProgramAgain(panel);
    return 0;
}

// The panel file's callback names, start and stop bound to the two above.
const CallbackBinding ProgramCallbacks[] = {{"start", startrun},
                                            {"stop", stoprun},
                                            {"quit", quit},
                                            TARVO_PANEL_SETTINGS(TARVO_BIND_CALLBACK)};
const int ProgramCallbackCount = sizeof ProgramCallbacks / sizeof ProgramCallbacks[0];
