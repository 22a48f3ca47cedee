#include "acquisition.h"

#include "buildconf.h"
#include "ctrlids.h"
#include "runtime.h"
#include "sendconf.h"
#include "state.h"

#include <string>

const char MSG_SAMPLING[] = "Sampling...";

// The settings a run is made with, and Start itself: greyed out from Start
// until it is clear the run will not begin, and for the whole run, so the
// panel never shows settings other than those being recorded.
static const int SETTINGS[] = {PANEL_COMPORT,    PANEL_NUMCH,  PANEL_BAUD,
                               PANEL_STATUSBYTE, PANEL_PERIOD, PANEL_DIGITAL,
                               PANEL_COUNTER,    PANEL_FORMAT, PANEL_START};

static void dimsettings(int dimmed)
{
    for (size_t i = 0; i < sizeof SETTINGS / sizeof SETTINGS[0]; i++)
        SetCtrlAttribute(PANEL, SETTINGS[i], ATTR_DIMMED, dimmed);
}

// The run status says what the handshake is doing while it holds the
// window (about a second), in place of whatever an earlier Start said.
// `what` names the board as "the board on %s" (the device the port number
// maps to). Without a device there is no note: the open says why it fails.
static void boardnote(const char* what)
{
    char device[256];
    if (GetComDeviceName(com, device, sizeof device) < 0)
        return;
    std::string note = what;
    const std::string board = "the board on %s";
    const size_t at = note.find(board);
    if (at != std::string::npos)
        note.replace(at, board.size(),
                     strcmp(device, "virtual") == 0 ? "the virtual board"
                                                    : "the board on " + std::string(device));
    RunStatusNote(note.c_str());
}

// How long a read in the run waits before the board counts as silent: two
// periods and a second. A time-out shorter than the period would take every
// gap between records for silence.
static double acqtimeout(void) { return 2.0 * SampPer / 1e6 + 1.0; }

int start(int panel, int control, int event, void* callbackData, int eventData1, int eventData2)
{
    (void)panel, (void)control, (void)callbackData, (void)eventData1, (void)eventData2;
    switch (event) {
    case EVENT_COMMIT:
        // One run per process: a Start while the run goes on is ignored, so
        // the settings, the port and the data file stay the run's own.
        if (functionId != 0)
            break;

        dimsettings(1);
        stopp = 1;
        bconf = buildconf();
        if (bconf == -1) {
            dimsettings(0);
            SetCtrlVal(PANEL, PANEL_MESSAGE, " ERROR: The sampling period results too short!");
            stopp = 0;
            break;
        }
        if (bconf == -2) {
            dimsettings(0);
            SetCtrlVal(PANEL, PANEL_MESSAGE, " ERROR: The sampling period is too long!");
            stopp = 0;
            break;
        }
        if (bconf == -3) {
            dimsettings(0);
            SetCtrlVal(PANEL, PANEL_MESSAGE, " ERROR: The panel's settings are out of range!");
            stopp = 0;
            break;
        }

        boardnote("Checking the board on %s...");
        sconf = sendconf();
        if (sconf < 0) {
            // A port that did not open has put its reason in the run status.
            if (FlushInQ(com) != COM_ERR_NOT_OPEN)
                boardnote(sconf == -1 ? "No answer from the board on %s"
                                      : "Wrong checksum from the board on %s");
            CloseCom(com);  // the port, and its lock, are free while the message shows
            dimsettings(0);
        }
        if (sconf == -1) {
            SetCtrlVal(PANEL, PANEL_MESSAGE, " ERROR: Unknown device!");
            Delay(2.0);
            stopp = 0;
            QuitUserInterface(0);
            break;
        }
        if (sconf == -2) {
            SetCtrlVal(PANEL, PANEL_MESSAGE, " ERROR: bad CHK!");
            stopp = 0;
            Delay(2.0);
            QuitUserInterface(0);
            break;
        }

        // Binary: raw records hold every byte value, and a text-mode file
        // on Windows would turn each 0x0A into 0x0D 0x0A. The columns carry
        // the platform's line ends themselves (LINEEND). Held by this run,
        // the previous run's files kept first.
        fout = opendata();
        if (fout == NULL) {
            // Nothing to record into: leave the board alone and stay ready.
            CloseCom(com);
            dimsettings(0);
            SetCtrlVal(PANEL, PANEL_MESSAGE, " ERROR: Cannot create DATA.TXT!");
            stopp = 0;
            break;
        }
        // Records are written a line at a time; a large buffer keeps the
        // writes few, and the sampling loop flushes it every second. The
        // buffer is given: with none, glibc ignores the size and uses 4 KiB.
        static char foutbuf[1 << 16];
        setvbuf(fout, foutbuf, _IOFBF, sizeof foutbuf);

        CloseCom(com);
        if (OpenComConfig(com, "", baudr, 2, 8, 1, RecLen, RecLen) < 0) {
            closedata();
            dimsettings(0);
            SetCtrlVal(PANEL, PANEL_MESSAGE, " ERROR: Cannot open the serial port for sampling!");
            stopp = 0;
            break;
        }
        SetComTime(com, acqtimeout());
        FlushInQ(com);  // nothing of the handshake reaches the sampling function

        SetCtrlVal(PANEL, PANEL_MESSAGE, MSG_SAMPLING);
        time(&rawtime);
        timestart = localtime(&rawtime);
        ComWrtByte(com, 0);  // the start byte: the board begins streaming
        runinfobegin();
        if (CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, sample, NULL, &functionId) <
            0) {
            functionId = 0;
            stopp = 0;
            CloseCom(com);
            closedata();
            runinfoend("quit");
            dimsettings(0);
            SetCtrlVal(PANEL, PANEL_MESSAGE, " ERROR: Cannot start the sampling thread!");
        }
        break;
    case EVENT_LEFT_CLICK: break;
    }
    return 0;
}
