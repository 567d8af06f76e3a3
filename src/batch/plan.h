// vemlo-batch's plan: one long scan cut into chunks of consecutive days, each a vemlo run of its
// own, and the identity that ties a chunk's result to the plan it ran under.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "control/template_file.h"

// One chunk: days first_day .. last_day (epoch seconds of 00:00:00 UTC, 86400 apart), numbered
// from 1 in day order.
struct Chunk {
    int number = 0;
    int64_t first_day = 0;
    int64_t last_day = 0;
};

// Most chunks a plan may have.
constexpr int max_chunks = 100000;

// The scan period of control cut into chunks of days_per_chunk consecutive days (the last one
// ends on the period's last day, so it may be shorter), walking the days as vemlo's scan does.
// Returns no chunk when the period is empty (last day before first), and also when
// days_per_chunk < 1 or the period's ends do not convert to a time (settings that vemlo rejects
// before scanning); at most max_chunks + 1 chunks (the caller refuses more than max_chunks).
std::vector<Chunk> split_scan_period(const Template_file& control, int days_per_chunk);

// The event names a chunk's control file uses: the user's names, except that names shared by
// several events, names with a slash and overlong names become "event-<n>" (n the event number,
// made unique against every other name), so that every event has a results file of its own.
std::vector<std::string> chunk_event_names(const std::vector<std::string>& names);

// control restricted to one chunk: output_dir replaced, first and last day set to the chunk's,
// event names from chunk_event_names; everything else unchanged.
Template_file chunk_control(const Template_file& control, const Chunk& chunk,
                            const std::string& output_dir);

// The text that decides whether an earlier batch can be resumed: the directory the batch runs
// from, the days per chunk and the user's control file text.
std::string plan_text(const std::string& base_dir, int days_per_chunk,
                      const std::string& control_text);

// The identity of one chunk under one plan: 16 hexadecimal digits of a 64-bit FNV-1a hash of
// the plan text and the chunk's control file text. A chunk's done mark holds it, so that a
// chunk that ran under another plan never counts as done.
std::string chunk_identity(const std::string& plan, const std::string& chunk_control_text);
