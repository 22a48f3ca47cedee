#include "state.h"

unsigned int com, num_ch, baudr, di, SampPer, digf, rec_c, wfile;

unsigned int RecLen, ExecTime;
unsigned int CyEv, CyOdd, CyStep, CyDig;
unsigned char ConfBytes[14];
unsigned int chksum;

unsigned char c;
int bconf, sconf;

std::atomic<int> stopp{1};
FILE* fout = nullptr;
time_t rawtime;
struct tm* timestart = nullptr;
int functionId;
std::atomic<unsigned int> tot_data{0};
std::atomic<unsigned int> lost_data{0};
int RecCount = 1;

unsigned char cc[256];
unsigned char d;

int panelHandle;
