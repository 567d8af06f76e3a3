// What one event of a batch prints and appends, in the order a run without batches would.
#pragma once

#include <string>
#include <vector>

struct Output_piece {
    std::string text;          // console text
    std::string results_file;  // when not empty: after text, append results_lines to it
    std::string results_lines;
    std::string channels_file;  // when not empty: then append channels_rows to it
    std::string channels_rows;
};

// The first event of a batch is live: its pieces are written at once. The later events' pieces
// are held until the events before them are done.
struct Event_output {
    bool live = false;
    std::vector<Output_piece> held;
    std::vector<std::string> failed_files;  // files an append to failed, in order
};

// Writes text on standard output when out is live, else holds it.
void put_text(Event_output& out, const std::string& text);

// Appends lines to file_name (printing its lines, see append_lines) and then rows to channels_file
// (append_channel_rows) when out is live, else holds both appends. An append that fails adds its
// file's name to out.failed_files.
void put_results(Event_output& out, const std::string& file_name, const std::string& lines,
                 const std::string& channels_file, const std::string& rows);

// Writes and performs everything held, in order (failed appends added to out.failed_files), then
// makes out live.
void release_output(Event_output& out);
