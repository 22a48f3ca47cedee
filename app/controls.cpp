// The controls of tarvo.uir that the program reads and sets, with the values
// it can take: LoadPanel checks the panel file against this table, so that an
// edited panel cannot offer a setting the program cannot use (more channels
// than the configuration block holds, a baud rate no serial chip runs at).
#include "ctrlids.h"
#include "runtime.h"

const ControlRequirement ProgramControls[] = {
    {PANEL_COMPORT, CTRL_INTEGER, "serial port number", 1, 2147483647},
    {PANEL_NUMCH, CTRL_INTEGER, "analog channels", 1, 8},
    {PANEL_MESSAGE, CTRL_TEXT, "message line", 0, 0},
    {PANEL_BAUD, CTRL_INTEGER, "baud rate", 1, 12000000},
    {PANEL_STATUSBYTE, CTRL_INTEGER, "status byte", 0, 1},
    {PANEL_PERIOD, CTRL_INTEGER, "sampling period in microseconds", 0, 4294967295LL},
    {PANEL_DIGITAL, CTRL_INTEGER, "record the digital lines", 0, 1},
    {PANEL_COUNTER, CTRL_INTEGER, "record the record counter", 0, 1},
    {PANEL_FORMAT, CTRL_INTEGER, "file format", 0, 1},
    {PANEL_PERIODHINT, CTRL_TEXT, "period hint", 0, 0},
};
const int ProgramControlCount = sizeof ProgramControls / sizeof ProgramControls[0];
