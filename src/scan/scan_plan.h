// What the scan settles before its first day: run constants, which templates take part, how far
// each channel's day trace reaches past midnight, and the batches of events.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "control/template_file.h"
#include "scan/event_output.h"
#include "scan/fft_correlation.h"
#include "scan/template_bank.h"

struct Scan_constants {
    float fs = 0.0f;
    int n = 0;        // samples of a day, and positions of an event-day stack
    int w = 0;        // separation window of detection
    int m = 0;        // template length in samples (at least 1)
    int max_lag = 0;  // samples a channel's measurement looks either side of its aligned position
};

// The constants of a scan at control's rate with bank's template length, held to the int range.
Scan_constants scan_constants(const Template_file& control, const Template_bank& bank);

// Templates that have an entry in every per-template sequence of the record and the bank.
std::size_t usable_templates(const Template_file& c, const Template_bank& bank);

// A key naming template i's station channel (network, station, location, channel).
std::string channel_key(const Template_file& c, std::size_t i);

// Template length used in the correlation: the samples the window has, at most M.
int used_length(const Template_bank& bank, std::size_t i);

// True when template i reaches the correlation on some day: waveform found, not longer than a
// day of n samples.
bool correlatable(const Template_bank& bank, std::size_t i, int n);

// Samples past midnight each channel's day trace takes from the next day's file, so that every
// position of the day gets its stack value from every template of the run: the largest moveout
// of a correlatable template on the channel plus the template length less one, at most a day.
// The same for every batch and day, so that values do not depend on how the run is cut.
std::map<std::string, int> day_extensions(const Template_file& c, const Template_bank& bank,
                                          const Scan_constants& sc);

// A template of a batch: its number, its samples used (m) and its spectrum.
struct Batch_template {
    std::size_t i = 0;
    int m = 0;
    Template_spectrum spectrum;
};

struct Batch_event {
    std::size_t k = 0;  // 1-based event number
    std::string file_name;
    std::vector<std::size_t> templates;  // all of the event's template numbers
    Event_output output;
};

// Events scanned together: their days are read and conditioned once for all of them.
struct Batch {
    std::vector<Batch_event> events;
    std::map<std::string, std::set<int>> lengths;     // per channel key: template lengths used
    std::map<std::size_t, Batch_template> templates;  // the correlatable ones, by number
};

// What scanning one event with others holds: bytes of its own (its template spectra), and
// bytes it may share with the events of its batch, by name (a station channel's spectra for one
// template length), counted once per batch.
struct Event_need {
    long long own = 0;
    std::map<std::string, long long> shared;
};

// Cuts the events, in order, into batches: each takes the events from its first on while their
// own bytes and the shared bytes counted once stay within room, and at least one event. Returns
// the index one past each batch's last event, ascending (the last is events.size()).
std::vector<std::size_t> plan_batches(const std::vector<Event_need>& events, long long room);

// What each event of the run holds when scanned (Event_need, by event number less one), for
// day traces of sc.n samples plus each channel's extension.
std::vector<Event_need> event_needs(const Template_file& c, const Template_bank& bank,
                                    const Scan_constants& sc,
                                    const std::map<std::string, int>& extensions);

// The batch of events first..end-1 (1-based), with its template spectra made on plans; the
// first event's output is live and the others' held output spills into a temporary file in the
// results directory. Throws std::bad_alloc when memory runs out.
Batch make_batch(const Template_file& c, const Template_bank& bank, const Scan_constants& sc,
                 const std::map<int, Correlation_plan>& plans, std::size_t first, std::size_t end);
