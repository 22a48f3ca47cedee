// On Windows tarvo is a window program: started from Explorer it opens no
// console window of its own. Started from a console (cmd, PowerShell) it
// writes --help, errors and unattended mode's messages to that console;
// started with its output redirected, to where it was sent, as anywhere.
//
// This runs before main, so that the first line printed finds its console.
#include <windows.h>

#include <cstdio>

namespace {

bool noHandle(DWORD which)
{
    const HANDLE h = GetStdHandle(which);
    return h == nullptr || h == INVALID_HANDLE_VALUE;
}

struct ParentConsole {
    ParentConsole()
    {
        const bool out = noHandle(STD_OUTPUT_HANDLE);
        const bool err = noHandle(STD_ERROR_HANDLE);
        if (!(out || err) || !AttachConsole(ATTACH_PARENT_PROCESS))
            return;
        if (out)
            std::freopen("CONOUT$", "w", stdout);
        if (err)
            std::freopen("CONOUT$", "w", stderr);
    }
};

const ParentConsole parentConsole;

}  // namespace
