#include "scan/event_output.h"

#include <iostream>

#include "scan/results_file.h"

void put_text(Event_output& out, const std::string& text) {
    if (out.live) {
        std::cout << text << std::flush;
    } else {
        out.held.push_back({text, "", ""});
    }
}

void put_results(Event_output& out, const std::string& file_name, const std::string& lines) {
    if (out.live) {
        if (!append_lines(file_name, lines, std::cout))
            out.failed_files.push_back(file_name);
        std::cout.flush();
    } else {
        out.held.push_back({"", file_name, lines});
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
    }
    std::cout.flush();
    std::vector<Output_piece>().swap(out.held);
}
