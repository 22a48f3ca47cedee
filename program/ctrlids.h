// Control ids of panel 1 in tarvo.uir.
#pragma once

enum {
    PANEL = 1,  // the front panel's resource id

    PANEL_COMPORT = 2,      // serial port number
    PANEL_START = 3,        // the Start button
    PANEL_NUMCH = 6,        // analog channels, 1..8
    PANEL_MESSAGE = 7,      // message line
    PANEL_BAUD = 8,         // acquisition baud rate
    PANEL_STATUSBYTE = 9,   // status byte present, 0/1
    PANEL_PERIOD = 10,      // sampling period, microseconds
    PANEL_DIGITAL = 11,     // record the four digital lines, 0/1
    PANEL_COUNTER = 12,     // record the record counter, 0/1
    PANEL_FORMAT = 13,      // data file format: 1 integer columns, 0 raw bytes
    PANEL_PERIODHINT = 14,  // the shortest period the settings allow (a hint, text)
};
