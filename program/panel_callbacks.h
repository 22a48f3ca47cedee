// The callbacks tarvo.uir names, each the program function of that name:
// X(name) once for each. One list for the program's table and for the test
// programs that load the same panel file with callbacks of their own.
#pragma once

// The commands of a run: start, stop, quit.
#define TARVO_PANEL_COMMANDS(X) X(start) X(stop) X(quit)

// The settings controls' callbacks: Start reads the settings, so these have
// nothing to do when a setting changes.
#define TARVO_PANEL_SETTINGS(X) \
    X(comport) X(disp) X(pic) X(comvel) X(dig) X(freq) X(recdig) X(rec_control) X(writef)

#define TARVO_PANEL_CALLBACKS(X) TARVO_PANEL_COMMANDS(X) TARVO_PANEL_SETTINGS(X)

// An entry of the callback table (runtime.h) for X(name).
#define TARVO_BIND_CALLBACK(name) {#name, name},
