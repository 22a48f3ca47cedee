// The worked example of a run report (config.txt), shared by the test of the
// recorder that writes it and the tests of the reader that reads it back.
#pragma once

// The report of a run with integer columns, 6 channels, digital lines and
// counter, 2000 us, 960 records, started on Thursday 15 March 2007 14:03:27.
inline constexpr char kWorkedReport[] =
    "A genuine device had sampled data in file DATA.TXT as:\n"
    "\n"
    "Colums of int...\n"
    "\n"
    "The start flag date/time was sent at:Thu Mar 15 14:03:27 2007\n"
    "\n"
    "With the configuration parameters:\n"
    "Number of Analogical channels:  6\n"
    "And 4 digital channelsThe last colum is the record counter 0-15\n"
    "with a sample period of [us]:  2000\n"
    "The number of samples for every channel is:  960";
