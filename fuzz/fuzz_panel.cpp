// The panel-file loader over arbitrary files: Qt's form builder reads them,
// then the loader's own checks (panel id, control ids, kinds, callback
// names, and the kinds and ranges of the controls against a requirement
// table like the program's) accept or refuse them. An accepted panel then
// takes values of every kind on every control id, as the program and
// scripts set them, and every control of the table reads back a value in
// its range whatever was set.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "panel_callbacks.h"
#include "runtime.h"

namespace {

int inert(int, int, int, void*, int, int) { return 0; }

std::string path;

}  // namespace

// Every callback tarvo.uir names, each doing nothing.
#define INERT_CALLBACK(name) {#name, inert},
const CallbackBinding ProgramCallbacks[] = {TARVO_PANEL_CALLBACKS(INERT_CALLBACK)};
const int ProgramCallbackCount = sizeof ProgramCallbacks / sizeof ProgramCallbacks[0];

// The program's table (app/controls.cpp), with the ids of program/ctrlids.h.
const ControlRequirement ProgramControls[] = {
    {2, CTRL_INTEGER, "serial port number", 1, 2147483647},
    {6, CTRL_INTEGER, "analog channels", 1, 8},
    {7, CTRL_TEXT, "message line", 0, 0},
    {8, CTRL_INTEGER, "baud rate", 1, 12000000},
    {9, CTRL_INTEGER, "status byte", 0, 1},
    {10, CTRL_INTEGER, "sampling period in microseconds", 0, 4294967295LL},
    {11, CTRL_INTEGER, "record the digital lines", 0, 1},
    {12, CTRL_INTEGER, "record the record counter", 0, 1},
    {13, CTRL_INTEGER, "file format", 0, 1},
    {14, CTRL_TEXT, "period hint", 0, 0},
};
const int ProgramControlCount = sizeof ProgramControls / sizeof ProgramControls[0];
static const char* const kScriptButtons[] = {"start", "stop", "quit"};
const ProgramWordTable ProgramWords = {kScriptButtons, 3, "quit", ""};

namespace {

// Every integer control of the table reads back a value in its range.
void checkRanges(int panel)
{
    for (const ControlRequirement& need : ProgramControls) {
        if (need.kind != CTRL_INTEGER)
            continue;
        unsigned u = 0;
        if (GetCtrlVal(panel, need.control, &u) != UIE_NO_ERROR || u < need.minimum ||
            u > need.maximum) {
            std::fprintf(stderr, "control %d reads %u, outside %lld..%lld\n", need.control, u,
                         need.minimum, need.maximum);
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static char a0[] = "fuzz_panel", a1[] = "-platform", a2[] = "offscreen";
    static char* argv[] = {a0, a1, a2, nullptr};
    if (InitRunTime(nullptr, argv, nullptr) != 1)
        std::abort();
    path = "/tmp/tarvo-fuzz-panel-" + std::to_string(getpid()) + ".uir";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    const int panel = LoadPanel(0, path.c_str(), 1);
    std::remove(path.c_str());  // loaded or refused, the file has served
    if (panel <= 0)
        return 0;
    // Values from the end of the input, on the ids a panel is likely to use.
    const int v = size >= 4 ? int(data[size - 1] | data[size - 2] << 8 | data[size - 3] << 16 |
                                  uint32_t(data[size - 4]) << 24)
                            : 0;
    checkRanges(panel);
    for (int id = 1; id <= 24; id++) {
        SetCtrlVal(panel, id, v);
        SetCtrlVal(panel, id, (unsigned)v);
        SetCtrlVal(panel, id, "text \n\x01 of a message");
        int i = 0;
        unsigned u = 0;
        GetCtrlVal(panel, id, &i);
        GetCtrlVal(panel, id, &u);
    }
    checkRanges(panel);
    DiscardPanel(panel);
    return 0;
}
