// Conditioned windows on request, for pictures of detections: the template of a pick as template
// creation makes it, and stretches of a day trace as the scan conditions it.
#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "control/outcome.h"
#include "control/template_file.h"

// One request. As a line, tab-separated fields (names and codes may hold blanks, never a tab):
//   template <event name> <k> <network> <station> <location> <channel>
//       the k-th template (from 1, file order) of the first event of that name, which must be
//       of that channel
//   window <network> <station> <location> <channel> <start> <seconds>
//       the day trace of a channel of the control file's templates from start (epoch seconds,
//       rounded to the nearest sample) for seconds (more than 0, at most a day)
struct Window_request {
    bool is_template = false;
    std::size_t template_index = 0;  // template: its index in the control's sequences
    std::size_t channel_index = 0;   // window: a template of that channel
    long long first_sample = 0;      // window: samples at the run's rate since 1970
    long long samples = 0;           // window: how many
};

// Reads the requests of in, one a line, checked against control (settings that check_settings
// accepts). Fails with "line N: ..." naming the first request that is not one of the above, an
// event, template or channel the control file does not have, or a start or length out of range.
Outcome<std::vector<Window_request>> read_window_requests(std::istream& in,
                                                          const Template_file& control);

// Writes one answer line to out per request, in request order:
//   data <TAB> first sample's epoch seconds <TAB> samples per second <TAB> samples (blanks)
//   none <TAB> why
// "none" where there is no data (no usable day file); a window reaching past the day trace is
// cut short there. Each channel-day is read and conditioned once for all its windows. What the
// reading and conditioning say goes to log. Never fails: missing data is an answer.
void answer_window_requests(const std::vector<Window_request>& requests,
                            const Template_file& control, std::ostream& out, std::ostream& log);
