// Test support: the real front panel, loaded offscreen from tarvo.uir once
// per test program, and a way to set the acquisition settings on it as a
// user would.
#pragma once

#include <cstdint>

struct Settings {
    uint32_t num_ch = 6;
    uint32_t baudr = 115200;
    uint32_t di = 1;
    uint32_t SampPer = 2000;
    uint32_t digf = 1;
    uint32_t rec_c = 1;
    uint32_t wfile = 1;
};

// Puts the settings on the panel's controls.
void putsettings(const Settings& s);
