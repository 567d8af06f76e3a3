// The station channels of one scanned day: fetched once for all templates of a batch,
// conditioned, and turned into the block spectra the correlations read; and what each template
// prints before its correlation.
#pragma once

#include <cstddef>
#include <deque>
#include <exception>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "acquire/get_data.h"
#include "control/outcome.h"
#include "dsp/time_convert.h"
#include "scan/fft_correlation.h"
#include "scan/scan_plan.h"

// One station channel of the scanned day: what its fetch printed, and what the correlations
// need once the trace itself is released.
struct Channel_day {
    bool read = false;              // its day file was read and held samples
    bool found = false;             // conditioned into a day trace
    std::size_t size = 0;           // samples of the trace: the day's, then any past midnight
    std::size_t asked = 0;          // samples asked for
    std::vector<Sample_span> data;  // the samples of the trace that are data
    std::vector<float> trace;       // the conditioned samples, measured at the detections
    std::string conditioning_text;  // the progress line of each fetch
    std::map<int, Day_spectra> by_length;  // per template length
};

// What template i of event e (within the batch) prints before its correlation, and whether it
// is correlated.
struct Template_day {
    std::string text;
    bool correlated = false;
};

struct Day_channels {
    std::map<std::string, Channel_day> channels;  // by channel key
    std::set<std::string> failed_downloads;       // channel keys whose day file failed to download
    std::map<std::pair<std::size_t, std::size_t>, Template_day> templates;  // by {e, i}
};

// A read day, conditioned and turned into spectra by a task of its own.
struct Pending_channel {
    Channel_day* channel = nullptr;
    Decoded_day decoded;
    int length = 0;  // samples to condition: the day's and those past midnight
    const std::set<int>* lengths = nullptr;  // template lengths of its spectra
    // The placed window waiting to be band-passed, then what was made of it, for
    // finish_conditioning to hand to the channel.
    Window_in_progress placed;
    Conditioned_trace trace;
    std::string text;
    std::map<int, Day_spectra> spectra;
    std::exception_ptr failure;
};

// What the conditioning of one fetch works with: the control file, the plans by template length
// and the shortest template length.
struct Conditioning_context {
    const Template_file* control = nullptr;
    const std::map<int, Correlation_plan>* plans = nullptr;
    int m_min = 0;
};

// The days being conditioned. Windows are band-passed two at a time where they can be: a placed
// window waits for the next one (or for finish_conditioning).
struct Conditioning_queue {
    std::deque<Pending_channel> items;
    Pending_channel* waiting = nullptr;
    bool closing = false;          // no more windows to wait for: each is band-passed at once
    Conditioning_context context;  // as start_conditioning was given it, for finish_conditioning
};

// The memory a day's fetch may take beside its batch.
struct Fetch_memory {
    long long budget = 0;   // the run's, for the message of a day file too large for it
    long long room = 0;     // bytes of the channel-days read and conditioned at once
    std::size_t group = 1;  // channel-days conditioned at once, at most
    int threads = 1;        // threads that compute spectra
};

// Fetches every channel the batch's templates need on day, in the order a scan template by
// template would (the first fetch of each channel, and again for a channel whose day file was
// not found before), conditions them up to memory.group at a time and as far as memory.room
// holds them (each counted as conditioning_bytes of its files), and composes what each template
// prints (template_texts). Download lines go into the texts; the reader's lines go to standard
// error as the files are read. Fails, with nothing more read, when a day file alone takes more
// than memory.room: the message names it and the budget it needs. Throws std::bad_alloc when
// memory runs out.
Outcome<Day_channels> fetch_channels(const Template_file& control, const Template_bank& bank,
                                     const Scan_constants& sc, const Doy_time& day,
                                     const Batch& batch,
                                     const std::map<std::string, int>& extensions,
                                     const std::map<int, Correlation_plan>& plans,
                                     const Fetch_memory& memory);

// Starts an OpenMP task that conditions the pending day (as get_data would for the whole day and
// the samples past midnight asked for) and computes its spectra and window norms for every
// template length of its channel (windows of the template length M from every position up to the
// trace's end), the blocks as tasks of their own; the decoded day is released as it is
// conditioned. Once its window is placed, it is band-passed together with the window of another
// pending day of queue, by whichever task places the second of them, or alone by
// finish_conditioning; every trace gets the bits conditioning it alone gives. Call it inside a
// parallel region; pending (an item of queue) must stay in place until finish_conditioning. A
// failure is kept in pending.failure.
void start_conditioning(const Template_file& control, const Doy_time& day, const Scan_constants& sc,
                        Conditioning_queue& queue, Pending_channel& pending,
                        const std::map<int, Correlation_plan>& plans);

// Waits for the tasks the current task started (every start_conditioning of queue), conditions a
// window still waiting, hands each channel its conditioning line, data spans, spectra and trace,
// and empties queue. Throws the first failure of a task (std::bad_alloc when memory ran out).
void finish_conditioning(Conditioning_queue& queue);

// A fetch of template i for event e: what it printed (or the line of a template too long to be
// correlated), and whether the day file was read for it.
struct Template_fetch {
    std::size_t e = 0, i = 0;
    std::string said;
    bool read = false;
    bool too_long = false;
};

// What each fetched template prints before its correlation on day, and which are correlated:
// its fetch's lines, its channel's conditioning line, then "Data was not found for ...", a
// day trace too short for it, or "assigning image..." and "cross-correlating...done.".
std::map<std::pair<std::size_t, std::size_t>, Template_day> template_texts(
    const Template_file& control, const Template_bank& bank, const Doy_time& day,
    const std::vector<Template_fetch>& fetches, const std::map<std::string, Channel_day>& channels);
