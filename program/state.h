// The program-wide state: the settings that Start reads from the panel, the
// values derived from them, the handshake's reply, the run state and the
// sampling loop's buffers. Every part of the program reads and writes these
// directly, by name.
//
// Two threads use them: the main thread (every panel callback) and, during a
// run, the sampling thread. Everything the sampling thread reads is written
// before Start schedules it; what stays shared during a run is the run flag,
// the record count and the run statistics, all atomic. Each loop keeps its
// own counter, so no loop index is shared between the threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>

// Settings, read from the panel by every Start (all zero before the first).
extern unsigned int com;      // serial port number of the board
extern unsigned int num_ch;   // analog channels, 1..8
extern unsigned int baudr;    // acquisition baud rate
extern unsigned int di;       // 1: each record ends in a status byte
extern unsigned int SampPer;  // sampling period, microseconds
extern unsigned int digf;     // write the four digital lines
extern unsigned int rec_c;    // write the record counter
extern unsigned int wfile;    // data file format: non-zero integer columns, 0 raw bytes

// Derived from the settings by the configuration step.
extern unsigned int RecLen;                      // bytes of one record on the wire
extern unsigned int ExecTime;                    // record cost, then spare time, then period count
extern unsigned int CyEv, CyOdd, CyStep, CyDig;  // the cost row for baudr
extern unsigned char ConfBytes[14];              // the configuration block
extern unsigned int chksum;                      // its checksum, 0..255

// Handshake and command results (main thread).
extern unsigned char c;  // checksum byte the board sent back
extern int bconf;        // result of the configuration step
extern int sconf;        // result of the handshake

// Run state.
extern std::atomic<int> stopp;              // run flag: the sampling loop goes on while it is 1
extern FILE* fout;                          // "data.txt"
extern time_t rawtime;                      // moment the start byte was sent
extern struct tm* timestart;                // its local time, for the run report
extern int functionId;                      // the sampling function's thread-pool id
extern std::atomic<unsigned int> tot_data;  // records the sampling thread has begun
// Records the board counted but never sent (the run status shows them).
extern std::atomic<unsigned int> lost_data;
extern int RecCount;  // record counter expected next, 0..15

// Sampling buffers (sampling thread only).
extern unsigned char cc[256];  // the current record, first byte at 0
extern unsigned char d;        // its status byte

// Shell.
extern int panelHandle;
