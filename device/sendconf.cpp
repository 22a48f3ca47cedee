#include "sendconf.h"

#include "runtime.h"
#include "state.h"

static const char ident[] = "KLVDAQ00730019";

int sendconf(void)
{
    char buf[15];
    memset(buf, 0, sizeof buf);  // 15 bytes for 14 read: always a terminated text

    OpenComConfig(com, "", 19200, 0, 8, 1, 256, 256);
    FlushInQ(com);  // only what the board sends from now on counts
    ComBreak(com, 500);
    Delay(0.25);
    ComRd(com, buf, 14);
    if (strcmp(buf, ident) != 0)
        return -1;

    FlushInQ(com);  // whatever followed the identification
    for (unsigned int i = 0; i < 14; i++)
        ComWrtByte(com, ConfBytes[i]);
    Delay(0.25);
    ComRd(com, &c, 1);  // without a reply c keeps its value, which never matches
    if ((unsigned int)c != chksum)
        return -2;
    return 0;
}
