// The program's tables for a test program that runs the program's code
// without a panel: no callbacks, no controls, no words of its own. One
// source file of such a program includes it.
#pragma once

#include "runtime.h"

const CallbackBinding ProgramCallbacks[] = {{"", nullptr}};
const int ProgramCallbackCount = 0;
const ControlRequirement ProgramControls[] = {{0, 0, nullptr, 0, 0}};
const int ProgramControlCount = 0;
const ProgramWordTable ProgramWords = {nullptr, 0, "", ""};
