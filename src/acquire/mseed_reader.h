// Reading the segments of one channel from miniSEED files.
#pragma once

#include <cmath>
#include <string>
#include <vector>

// One continuous stretch of samples of a channel.
struct Mseed_segment {
    double starttime = 0.0;  // first sample, microseconds since 1970-01-01T00:00:00 UTC
    double samprate = 0.0;   // reported rate, or the derived one when they disagree
    // Integer counts and 32-bit floats as they are, 64-bit floats narrowed to float; NaN and
    // infinities are kept for the caller to judge.
    std::vector<float> samples;
};

// A file to read, and the time (microseconds since 1970-01-01T00:00:00 UTC) from which on its
// records are not needed: reading stops at the first record of the channel that begins then or
// later.
struct Mseed_source {
    std::string path;
    double until = INFINITY;
};

// Reads the channel (network, station, location and channel codes) of the first data record of
// sources[0] from every source in turn; records of other channels are passed over. Records that
// continue one another (within half a sample period, whatever their quality code) join one
// segment, also across files. Returns the segments in the order their first records were read,
// each with its samples. A segment whose reported rate differs from the first segment's (by the
// library's tolerance, a relative 0.0001), whose samples are not numbers, or that holds no
// samples is left out with one line on standard error. Standard output is flushed first; each
// file read gets a "Reading: <path>" line on standard error, a read error a line naming the file
// and the library's reason (the records before it are kept), and a rate that disagrees with the
// segment's span a line giving both (the derived rate is used). An empty result means the first
// file gave nothing usable (said on standard error).
std::vector<Mseed_segment> read_mseed_channel(const std::vector<Mseed_source>& sources);

// The rate and the bytes per decoded sample of the first data record of path (8 for 64-bit
// floats, else 4), as libmseed holds them; rate 0 when path cannot be read as miniSEED. Reads one
// record's header, prints nothing.
struct Mseed_first_record {
    double samprate = 0.0;
    int sample_bytes = 4;
};
Mseed_first_record peek_mseed(const std::string& path);

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

// Adds the first count names a user gave to the input list and expands "@listfile" entries.
// Standard output is flushed first, as messages go to standard error. Returns 0.
int parameter_proc(int count, char** names);

// Adds the file names listed in listfile (standard output is flushed first, as messages go to
// standard error). Returns the number added, or -1 when it cannot be opened.
int readlistfile(const char* listfile);

// Makes a node holding copies of key (when not null) and data and stores it as the whole list
// in *listroot. Returns the node, or nullptr (with a message) when data is null.
Input_node* addnode(Input_node** listroot, void* key, int keylen, void* data, int datalen);
