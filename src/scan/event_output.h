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

// A temporary file that holds an event's output until its turn; removed when the holder goes.
struct Spill_file {
    std::string path;  // empty until the first piece is held

    Spill_file() = default;
    Spill_file(Spill_file&& other) noexcept;
    Spill_file& operator=(Spill_file&& other) noexcept;
    Spill_file(const Spill_file&) = delete;
    Spill_file& operator=(const Spill_file&) = delete;
    ~Spill_file();
};

// The first event of a batch is live: its pieces are written at once. The later events' pieces
// are held until the events before them are done: in a temporary file in spill_dir (a results
// directory, ending in '/'), or in memory should that file not be writable.
struct Event_output {
    bool live = false;
    std::string spill_dir;
    Spill_file spill;
    std::vector<Output_piece> held;         // pieces the temporary file could not take
    std::vector<std::string> failed_files;  // files an append to failed, in order
};

// Writes text on standard output when out is live, else holds it.
void put_text(Event_output& out, const std::string& text);

// Appends lines to file_name (printing its lines, see append_lines) and then rows to channels_file
// (append_channel_rows) when out is live, else holds both appends. An append that fails adds its
// file's name to out.failed_files.
void put_results(Event_output& out, const std::string& file_name, const std::string& lines,
                 const std::string& channels_file, const std::string& rows);

// Writes and performs everything held, in order (failed appends added to out.failed_files),
// removes the temporary file, then makes out live.
void release_output(Event_output& out);
