#include "scan/event_output.h"

#include <iostream>

#include "scan/channels_file.h"
#include "scan/results_file.h"

void put_text(Event_output& out, const std::string& text) {
    if (out.live) {
        std::cout << text << std::flush;
    } else {
        out.held.push_back({text, "", "", "", ""});
    }
}

void put_results(Event_output& out, const std::string& file_name, const std::string& lines,
                 const std::string& channels_file, const std::string& rows) {
    if (out.live) {
        if (!append_lines(file_name, lines, std::cout))
            out.failed_files.push_back(file_name);
        std::cout.flush();
        if (!append_channel_rows(channels_file, rows))
            out.failed_files.push_back(channels_file);
    } else {
        out.held.push_back({"", file_name, lines, channels_file, rows});
    }
}

void release_output(Event_output& out) {
    out.live = true;
    for (const Output_piece& piece : out.held) {
        std::cout << piece.text;
        if (!piece.results_file.empty() &&
            !append_lines(piece.results_file, piece.results_lines, std::cout)) {
            out.failed_files.push_back(piece.results_file);
        }
        if (!piece.channels_file.empty() &&
            !append_channel_rows(piece.channels_file, piece.channels_rows)) {
            out.failed_files.push_back(piece.channels_file);
        }
    }
    std::cout.flush();
    std::vector<Output_piece>().swap(out.held);
}
