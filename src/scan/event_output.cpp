// Held output goes to a temporary file as records, each a kind letter and its fields, every field
// its length in decimal, a newline and its bytes: "T" console text, "A" a results file's name and
// the lines to append to it, "C" a channels file's name and the rows to append to it.
#include "scan/event_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <utility>

#include "scan/channels_file.h"
#include "scan/results_file.h"

namespace {

void write_field(std::ostream& os, const std::string& field) {
    os << field.size() << '\n' << field;
}

bool read_field(std::istream& in, std::string& field) {
    std::size_t size = 0;
    if (!(in >> size) || in.get() != '\n')
        return false;
    field.resize(size);
    return static_cast<bool>(in.read(field.data(), static_cast<std::streamsize>(size)));
}

// The fields of a record of the given kind.
bool read_record(std::istream& in, char kind, Output_piece& piece) {
    if (kind == 'T')
        return read_field(in, piece.text);
    if (kind == 'C')
        return read_field(in, piece.channels_file) && read_field(in, piece.channels_rows);
    return kind == 'A' && read_field(in, piece.results_file) && read_field(in, piece.results_lines);
}

// Appends piece to out's temporary file, made on first use. False when it cannot be written:
// the file is then cut back to the records before it, so that a half-written record is never
// read back.
bool spill_piece(Event_output& out, const Output_piece& piece) {
    if (out.spill.path.empty()) {
        std::string name = out.spill_dir + ".vemlo-held-XXXXXX";
        const int fd = mkstemp(name.data());
        if (fd < 0)
            return false;
        close(fd);
        out.spill.path = name;
    }
    struct stat before;
    if (stat(out.spill.path.c_str(), &before) != 0)
        return false;
    std::ofstream file(out.spill.path, std::ios::out | std::ios::app | std::ios::binary);
    if (!piece.text.empty()) {
        file << 'T';
        write_field(file, piece.text);
    }
    if (!piece.results_file.empty()) {
        file << 'A';
        write_field(file, piece.results_file);
        write_field(file, piece.results_lines);
    }
    if (!piece.channels_file.empty()) {
        file << 'C';
        write_field(file, piece.channels_file);
        write_field(file, piece.channels_rows);
    }
    file.close();
    if (!file.fail())
        return true;
    // Should the cut fail too, the piece is still kept in memory; reading the file back then
    // stops at the broken record and the run reports the held output as lost.
    (void)truncate(out.spill.path.c_str(), before.st_size);
    return false;
}

void hold(Event_output& out, Output_piece piece) {
    // Once a piece stays in memory, the later ones do too, so that the order holds.
    if (!out.held.empty() || !spill_piece(out, piece))
        out.held.push_back(std::move(piece));
}

// Prints piece's text and performs its append.
void perform(Event_output& out, const Output_piece& piece) {
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

}  // namespace

Spill_file::Spill_file(Spill_file&& other) noexcept : path(std::exchange(other.path, {})) {}

Spill_file& Spill_file::operator=(Spill_file&& other) noexcept {
    std::swap(path, other.path);
    return *this;
}

Spill_file::~Spill_file() {
    if (!path.empty())
        std::remove(path.c_str());
}

void put_text(Event_output& out, const std::string& text) {
    if (out.live) {
        std::cout << text << std::flush;
    } else {
        hold(out, {text, "", "", "", ""});
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
        hold(out, {"", file_name, lines, channels_file, rows});
    }
}

void release_output(Event_output& out) {
    out.live = true;
    if (!out.spill.path.empty()) {
        // Read back a piece at a time, so that memory holds one event-day's output at most.
        std::ifstream in(out.spill.path, std::ios::binary);
        bool whole = static_cast<bool>(in);
        for (char kind; whole && in.get(kind);) {
            Output_piece piece;
            whole = read_record(in, kind, piece);
            if (whole)
                perform(out, piece);
        }
        if (!whole || !in.eof()) {
            std::cout.flush();
            std::cerr << "Error: the held output in " << out.spill.path
                      << " could not be read back whole" << std::endl;
            out.failed_files.push_back(out.spill.path);
        }
        Spill_file().path.swap(out.spill.path);  // removed here
    }
    for (const Output_piece& piece : out.held)
        perform(out, piece);
    std::cout.flush();
    std::vector<Output_piece>().swap(out.held);
}
