// Reading the first trace of a miniSEED file.
#pragma once

#include <cstdint>

// First continuous trace of a miniSEED file.
struct Mseed_trace {
    int32_t numsamples = 0;
    int32_t samplesize = 0;  // bytes per sample of the decoded type (4 'i'/'f', 8 'd', 1 'a')
    double samprate = 0.0;   // reported rate, or the derived one when they disagree
    double starttime = 0.0;  // microseconds since 1970-01-01T00:00:00 UTC
    double endtime = 0.0;    // time of the last sample, same unit
    int32_t* datasamples = nullptr;  // numsamples words from malloc; the caller frees them
    // What the words of datasamples hold: 'i' signed 32-bit integer counts, 'f' IEEE
    // single-precision values (64-bit float samples are narrowed to float), or 0 when the file
    // gave no usable samples (then datasamples is null and numsamples 0).
    char wordtype = 0;
};

// One entry of the input list.
struct Input_node {
    void* key;
    char* data;
    Input_node* next;
};

// Process-wide reader settings.
extern int verbose;
extern int reclen;
extern double timetol;
extern double sampratetol;
extern Input_node* filelist;

// Reads the file names[0] (names is null-terminated; a leading '@' is part of the file name,
// not a list file) and returns its first trace. Standard output is flushed first; messages go
// to standard error. A file that yields no trace, a trace without samples, or samples that are
// not numbers give a record with no samples (wordtype 0) and one line saying why.
Mseed_trace mseed2ascii(char** names);

// Adds the first count names a user gave to the input list and expands "@listfile" entries.
// Standard output is flushed first, as messages go to standard error. Returns 0.
int parameter_proc(int count, char** names);

// Adds the file names listed in listfile (standard output is flushed first, as messages go to
// standard error). Returns the number added, or -1 when it cannot be opened.
int readlistfile(const char* listfile);

// Makes a node holding copies of key (when not null) and data and stores it as the whole list
// in *listroot. Returns the node, or nullptr (with a message) when data is null.
Input_node* addnode(Input_node** listroot, void* key, int keylen, void* data, int datalen);
