// A self-updating progress line on the terminal: units done of the total, percent, elapsed
// time and estimated time left.
#pragma once

#include <chrono>
#include <memory>
#include <string>

struct Progress_output;  // the program's wrapped output streams while a line is active

// One progress line, drawn on standard error only when standard error is a terminal; otherwise
// it writes nothing at all. Standard output is never written. Text the program writes to the
// terminal meanwhile (standard error through C stdio or std::cerr, and std::cout when standard
// output is the same screen) first wipes the line, and the line is drawn again below each
// complete line of such text, so the log scrolls above it. The line is cleared when the record
// is finished or destroyed. One line may be active at a time in a program.
struct Progress_line {
    Progress_line();
    Progress_line(const Progress_line&) = delete;
    Progress_line& operator=(const Progress_line&) = delete;
    ~Progress_line();

    std::string what;  // name of the units, e.g. "template-days"
    long long total = 0;
    long long done = 0;
    bool active = false;        // standard error is a terminal and there is something to count
    bool shown = false;         // the line is on the screen now
    bool at_line_start = true;  // the program's own text on the terminal ended a line
    int shown_width = 0;        // characters drawn, blanked out on clearing
    std::chrono::steady_clock::time_point start, last_draw;
    std::unique_ptr<Progress_output> output;
};

// Starts counting total units named what and draws "what 0 of total" when standard error is a
// terminal; standard output should be at the start of a line. A total of 0 or less draws
// nothing. Never fails: write errors on the terminal are ignored.
void progress_start(Progress_line& line, long long total, const std::string& what);

// Counts units more done (held to the total) and redraws the line, at most about four times a
// second except for the last unit. Does nothing when the line is not active.
void progress_advance(Progress_line& line, long long units = 1);

// Clears the line from the terminal and gives the program's output streams back; later calls
// do nothing. Called by the destructor too.
void progress_finish(Progress_line& line);

// The text of the line: "what D of T (P%), elapsed H:MM:SS, about H:MM:SS left" (the time left
// as "..." before the first unit is done).
std::string progress_text(const std::string& what, long long done, long long total,
                          double elapsed_seconds);
