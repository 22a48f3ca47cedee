#include "reccost.h"

CostRow costrow(uint32_t baudr)
{
    if (baudr == 115200)
        return {488, 311, 453, 111};
    if (baudr == 57600)
        return {779, 505, 744, 208};
    return {1061, 693, 1026, 302};
}

uint32_t reccost(uint32_t num_ch, uint32_t di, const CostRow& row)
{
    uint32_t cost;
    if (num_ch == 1 || num_ch == 3 || num_ch == 5 || num_ch == 7)
        cost = row.odd + ((num_ch - 1) / 2) * row.step;
    else
        cost = row.ev + ((num_ch - 2) / 2) * row.step;
    if (di == 1)
        cost += row.dig;
    return cost;
}
