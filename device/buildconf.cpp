#include "buildconf.h"

#include "ctrlids.h"
#include "reccost.h"
#include "runtime.h"
#include "state.h"

unsigned int blockchecksum(const unsigned char* bytes, unsigned int n)
{
    unsigned int sum = 0;
    for (unsigned int k = 0; k < n; k++) {
        sum = sum + bytes[k];
        if (sum > 255)  // the carry out of bit 7 goes back into bit 0
            sum = (sum + 1) & 0xFF;
    }
    return sum;
}

int buildconf(void)
{
    // The settings, in this order.
    int got = 0;
    got |= GetCtrlVal(PANEL, PANEL_NUMCH, &num_ch);
    got |= GetCtrlVal(PANEL, PANEL_COMPORT, &com);
    got |= GetCtrlVal(PANEL, PANEL_BAUD, &baudr);
    got |= GetCtrlVal(PANEL, PANEL_STATUSBYTE, &di);
    got |= GetCtrlVal(PANEL, PANEL_PERIOD, &SampPer);
    got |= GetCtrlVal(PANEL, PANEL_DIGITAL, &digf);
    got |= GetCtrlVal(PANEL, PANEL_COUNTER, &rec_c);
    got |= GetCtrlVal(PANEL, PANEL_FORMAT, &wfile);
    // The panel file is checked when it loads; this is the last guard before
    // the channels index the block and the record buffer.
    if (got != 0 || num_ch < 1 || num_ch > 8 || di > 1 || digf > 1 || rec_c > 1 || wfile > 1 ||
        baudr < 1 || baudr > 12000000 || com < 1)
        return -3;

    const CostRow row = costrow(baudr);
    CyEv = row.ev;
    CyOdd = row.odd;
    CyStep = row.step;
    CyDig = row.dig;

    ConfBytes[0] = num_ch;
    // Entries beyond num_ch are left as an earlier computation wrote them.
    for (unsigned int i = 1; i <= num_ch; i++)
        ConfBytes[i] = (num_ch - i) * 2;

    RecLen = reclen(num_ch, di);

    ExecTime = reccost(num_ch, di, row);
    // Spare time. A period shorter than the record cost wraps to a value near
    // 2^32, which the first test below relies on.
    ExecTime = SampPer - ExecTime;
    ConfBytes[9] = 0x80 - (ExecTime % 10);
    ExecTime = ExecTime / 10;  // period count, in whole 10 us steps

    if (ExecTime > SampPer)  // wrapped: the period is shorter than the record cost
        return -1;
    if (ExecTime > 0xFFFFFF)  // the count has 24 bits in the block
        return -2;

    ConfBytes[10] = 0xFF - (ExecTime & 0xFF);
    ConfBytes[11] = 0xFF - ((ExecTime & 0xFF00) >> 8);
    ConfBytes[12] = 0xFF - ((ExecTime & 0xFF0000) >> 16);

    ConfBytes[13] = 0;
    if (di == 0)
        ConfBytes[13] |= 0x01;
    if (baudr == 115200)
        ConfBytes[13] |= 0x80;
    if (baudr == 57600)
        ConfBytes[13] |= 0x40;

    chksum = blockchecksum(ConfBytes, 14);
    return 0;
}
