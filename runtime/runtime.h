// The run-time layer: the one interface through which app/, device/ and
// acquisition/ reach the panel, the event loop, serial ports, delays and the
// thread pool. Nothing above this layer includes Qt or termios headers.
//
// The calls keep the names and argument order of the instrument run-time
// engine the program was first written against, so the program reads as a
// plain procedural program. Everything behind them is ours.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

// ---------------------------------------------------------------------------
// Panel callbacks

enum {
    EVENT_COMMIT = 1,      // the user committed a value or pressed a button
    EVENT_LEFT_CLICK = 3,  // a left mouse press on a control
};

using CtrlCallbackPtr = int (*)(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);

// One entry of the table that binds the callback names in the panel file to
// the program's functions.
struct CallbackBinding {
    const char* name;
    CtrlCallbackPtr function;
};

// The program's table of callbacks. The program (and each test program that
// loads panels) defines these two; LoadPanel binds every callback name found in
// the panel file through them.
extern const CallbackBinding ProgramCallbacks[];
extern const int ProgramCallbackCount;

enum { CTRL_INTEGER = 1, CTRL_TEXT = 2 };

// What the program needs of a control of the panel file.
struct ControlRequirement {
    int control;       // control id
    int kind;          // CTRL_INTEGER: read with GetCtrlVal; CTRL_TEXT: a text the program sets
    const char* what;  // what the program uses it for, for messages
    long long minimum, maximum;  // CTRL_INTEGER: every value the control offers lies in this range
};

// The program's table of the controls it reads and sets. The program (and
// each test program that loads panels) defines these two; LoadPanel refuses a
// panel file that lacks one of them, has it of another kind, or offers a value
// outside its range (a spin box's minimum and maximum, a combo box's items and
// typed values, a check box's 0 and 1). Scripts and SetCtrlVal cannot set a
// value outside the range either.
extern const ControlRequirement ProgramControls[];
extern const int ProgramControlCount;

// The program's own words in the run-time layer's texts and scripts. The
// program (and each test program that loads panels) defines ProgramWords.
struct ProgramWordTable {
    // The callbacks a script may `press`, in the order --help lists them.
    const char* const* scriptButtons;
    int scriptButtonCount;
    const char* quitCallback;    // what closing the window and termination signals press
    const char* controlIdsHelp;  // --help's paragraph on the control ids (lines, a blank one last)
};
extern const ProgramWordTable ProgramWords;

// ---------------------------------------------------------------------------
// Start-up, panel and event loop (main thread only, unless said otherwise)

// Takes the argument vector (null-terminated, as main receives it). Understands
// --com N=DEVICE, --script FILE, --help, --version and hands the rest to Qt.
// Returns 1 on success, 0 on failure (an unknown option, a bad value: a one-line
// reason on stderr). --help and --version print and exit the process with 0;
// a script that does not parse is reported with its line number and exits
// the process with status 2.
int InitRunTime(void* instance, char** argv, void* reserved);

// Loads panel `resourceId` from the Qt Designer file `file`, found beside the
// executable. Returns a panel handle (> 0) or, with a one-line reason on
// stderr, LOAD_PANEL_FAILED (the file does not serve) or LOAD_SCRIPT_MISFIT
// (the panel serves, the unattended script names what it does not hold).
int LoadPanel(int parent, const char* file, int resourceId);
enum { LOAD_PANEL_FAILED = -1, LOAD_SCRIPT_MISFIT = -2 };
int DisplayPanel(int panel);
int DiscardPanel(int panel);

// Runs the event loop until a callback calls QuitUserInterface; the loop ends
// after that callback has returned.
int RunUserInterface();
int QuitUserInterface(int returnCode);

// Shows a modal question with up to three buttons (null for none) and returns the
// number of the one chosen (1..3); Escape or closing it chooses `escapeButton`.
int GenericMessagePopup(const char* title, const char* message, const char* button1,
                        const char* button2, const char* button3, int escapeButton);
// 1 when the callback in progress was set off by a person at the window; 0 for a
// script's action, a signal, or outside a callback.
int InteractiveEvent(void);

// Between runs, in the window. In unattended mode these do nothing: a script
// run always starts from the panel file's values and leaves nothing behind.
//
// The settings controls are the panel's integer controls that the program
// reads. RememberPanelSettings keeps their values in a file of the user's
// (tarvo/window.conf in the configuration folder: $XDG_CONFIG_HOME, else
// ~/.config); returns 0, or -1 when they could not be kept (the reason on
// stderr). RecallPanelSettings puts the values kept there back on the panel,
// leaving out, with a note under the run status and on stderr, a value the
// panel does not take (out of range, a port no longer listed) and every value
// when the panel file has changed since; a file that cannot be read is noted
// and changes nothing. Returns how many values it put back. A button with the
// `panelFileValues` property puts the panel file's own values back.
int RememberPanelSettings(int panel);
int RecallPanelSettings(int panel);
// When the panel's check box with the `startAgain` property is ticked, starts
// a fresh copy of this program with this one's command line in the current
// folder, where the box is ticked again. Never in unattended mode, nor once a
// termination signal has come. Returns 1 when one was started, 0 when none
// was asked for, -1 when it could not be started (the reason on stderr).
int StartProgramAgain(int panel);

// Integer and text values of the controls of panel `panel` (a resource id or
// a handle: one panel is loaded). GetCtrlVal runs on the main thread;
// SetCtrlVal is safe from any thread.
int GetCtrlVal(int panel, int control, unsigned int* value);
int GetCtrlVal(int panel, int control, int* value);
int SetCtrlVal(int panel, int control, const char* text);
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, unsigned int value);

// Result codes of the panel calls.
enum {
    UIE_NO_ERROR = 0,
    UIE_BAD_PANEL = -1,
    UIE_BAD_CONTROL = -2,
    UIE_BAD_TYPE = -3,
    UIE_BAD_ATTRIBUTE = -4,
};

// Attributes of a control.
enum {
    // 1: greyed out. A dimmed control takes nothing from the user, and a
    // script's `set` or `press` of it is refused as the user's would be (a
    // line on stderr, the script goes on); the program still sets its value.
    // Dimming the port list dims the buttons that read it again.
    ATTR_DIMMED = 1,
};
// Main thread; from another thread the change is made by the main thread
// soon after (and 0 is returned).
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int GetCtrlAttribute(int panel, int control, int attribute, int* value);

// ---------------------------------------------------------------------------
// Serial ports, by number. A number maps to a device through --com N=DEVICE,
// or through the default table (see README); an empty device name means that
// mapping. DEVICE "virtual" is the built-in board model.

// Result codes: bytes and counts are >= 0, failures negative.
enum {
    COM_ERR_NOT_OPEN = -3,  // the port number is not open
    COM_ERR_OPEN = -2,      // the device cannot be opened (missing, busy)
    COM_ERR_CONFIG = -4,    // the device refuses the link setting
    COM_ERR_IO = -6,        // the device failed or went away
    COM_ERR_BAD_ARG = -7,
    COM_ERR_TIMEOUT = -99,     // nothing arrived within the read time-out
    COM_ERR_CANCELLED = -100,  // CancelComRd cut the read short
};

// Parity codes: 0 none, 1 odd, 2 even.
int OpenComConfig(int port, const char* deviceName, long baud, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize);
int CloseCom(int port);
int FlushInQ(int port);
int ComBreak(int port, int milliseconds);
// Reads up to `count` bytes; returns when all have arrived or the read time-out
// has passed. Returns the number read (>= 0) or a negative code.
int ComRd(int port, void* buffer, int count);
// The next byte (0..255) or a negative code.
int ComRdByte(int port);
int ComWrtByte(int port, int byte);
// The read time-out of an open port (seconds). A port opens with the default,
// DEFAULT_COM_TIMEOUT.
int SetComTime(int port, double seconds);
// Wakes a read blocked on `port` (from another thread) and makes further reads
// fail with COM_ERR_CANCELLED until the port is reopened.
int CancelComRd(int port);
// A text for a negative serial result, for messages.
const char* ComErrorText(int code);
// The device that port number `port` opens ("/dev/ttyUSB0", "COM3",
// "virtual"), into `name` (at most `size` bytes, the terminating zero
// included). Returns 0, or -1 when the number maps to no device.
int GetComDeviceName(int port, char* name, int size);

constexpr double DEFAULT_COM_TIMEOUT = 1.0;

// ---------------------------------------------------------------------------
// Delays and the default thread pool

// Blocks the calling thread. On the main thread, a text set just before is
// on screen first.
void Delay(double seconds);

constexpr int DEFAULT_THREAD_POOL_HANDLE = -1;
using ThreadFunctionPtr = int (*)(void* functionData);

// Runs `function(data)` on a thread of its own; its id (> 0) goes to *id.
int CmtScheduleThreadPoolFunction(int pool, ThreadFunctionPtr function, void* data, int* id);
// Blocks until the function has returned. Id 0 returns at once.
int CmtWaitForThreadPoolFunctionCompletion(int pool, int id, int options);
// As above, but gives up after `seconds`: 1 when the function has returned,
// 0 when it is still running.
int CmtWaitForThreadPoolFunctionTimed(int pool, int id, double seconds);
// Forgets a returned function's id. Id 0 returns at once.
int CmtReleaseThreadPoolFunctionID(int pool, int id);

// ---------------------------------------------------------------------------
// Run files

// Opens `path` for the records of a run (binary, created when missing, not
// truncated) and holds it against every other run until it is closed. A
// FIFO with no reader is refused at once rather than waited for. Returns
// null with a one-line reason in `why` ("in use by process 4711", "a FIFO
// with no reader", the system's text).
FILE* OpenRunFile(const char* path, char* why, int whySize);
// Closes a stream of OpenRunFile. With `recordLength` >= 0 a regular file is
// then cut back to its last whole record: of `recordLength` bytes, or a line
// when it is 0. Returns 0, or -1 when the stream could not be written out or
// cut.
int CloseRunFile(FILE* file, int recordLength);

// ---------------------------------------------------------------------------
// Live view: the chart of the records and the run status beside the message
// line. The panel shows them where its file has room for them (a frame with
// the `chart` property, labels with a `runStatus` property); with none, or
// with --no-chart, the calls cost next to nothing.

// A new run's records are coming: `channels` analog values (0..4095) per
// record, the four digital lines when `digital` is non-zero, one record every
// `periodUs` microseconds (the chart's time axis). Any thread; the chart
// forgets the previous run.
void ChartBegin(int channels, int digital, unsigned int periodUs);
// Hands record number `index` (counting from 1) to the chart: `values`, as
// many as ChartBegin said, and its status byte (the digital lines in bits 7..4).
// From the sampling thread only: it never waits; a record the chart has no
// room for is left out of the view, and nothing else. Returns how many records
// the caller may pass over before handing the next one: at high record rates
// the chart takes only as many as it can draw.
int ChartRecord(unsigned int index, const unsigned short* values, int status);

// The run status follows two counters the sampling thread keeps (records
// begun, records lost), the time since this call and the size of `fileName`.
// The panel reads them several times a second; the thread only raises them.
// Any thread; the counters must outlive the process's panel.
// With `periodUs`, a run whose records are clearly overdue (more than
// 3 periods and at least 2 s since the last) shows how long ago the last came.
void RunStatusBegin(const std::atomic<unsigned int>* records, const std::atomic<unsigned int>* lost,
                    const char* fileName, unsigned int periodUs = 0);
// The run's final numbers: the status is read once more and then stays. On
// the main thread the window shows them at once, before the call returns.
void RunStatusEnd(void);
// A note under the run status, before, during or after a run (any thread):
// what is happening to the port and the files around it. An empty text
// clears it. On the main thread the window shows it at once, so a note set
// before a long call on that thread (the handshake) is on screen during it.
void RunStatusNote(const char* text);

// A hint: a text that the panel computes from the values of its controls and
// shows in a text control, computed again whenever a control's value changes
// (by the user, a script or the program). The function runs on the main
// thread, reads controls with GetCtrlVal and changes none; it writes at most
// `size` bytes (the terminating zero included) into `text` and returns 0, or
// a negative value for no hint (the control is cleared).
using HintFunctionPtr = int (*)(int panel, char* text, int size);
int InstallHintFunction(int panel, int control, HintFunctionPtr function);
