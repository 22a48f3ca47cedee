// The hint beside the period control: the periods that the channels, baud
// rate and status byte now on the panel allow, whether the period typed is
// among them, and the line's own floor where the baud rate is the tighter
// limit.
#pragma once

// A hint function (see InstallHintFunction): reads the three settings from
// the panel and writes the record cost. Changes no setting: Start alone reads
// them into the program's state.
int periodhint(int panel, char* text, int size);
