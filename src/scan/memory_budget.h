// The memory a run may take, and what the scan needs of it.
#pragma once

#include <string>

#include "control/outcome.h"
#include "control/template_file.h"

// The budget in bytes: VEMLO_MEMORY_MB megabytes (MiB) when that variable is set, else half of
// the physical memory, or of the process's control-group memory limit (a Slurm job's or a
// container's) when that is smaller. Fails with a line beginning "Error: " when the variable is
// set to anything but a whole number from 1 to 2^30.
Outcome<long long> memory_budget_bytes();

// The budget when VEMLO_MEMORY_MB is not set: half of physical bytes, or of limit (a control
// group's memory limit; 0 or less: none) when that is smaller.
long long default_budget(long long physical, long long limit);

// Bytes the program itself takes beside what the budget counts (code, libraries, thread stacks,
// the FFT library's plans), counted within the budget.
constexpr long long program_bytes = 64LL << 20;

// Bytes an event-day's detection holds: its stack of n positions, their counts and the MAD's
// selection (at most twice n keys).
long long stack_bytes(long long n);

// Bytes a channel-day holds from its reading to its conditioning, reading it taking reading
// bytes (see day_reading_bytes): the decoded day at the file's own rate (at most half of those),
// and while it is conditioned its window of trace samples at the run's rate with the filter's
// pads; or reading itself, when that is more.
long long conditioning_bytes(long long reading, long long trace);

// Bytes one station channel holds through a scanned day whatever its template lengths: its
// conditioned trace of trace samples, kept for the measurements at the detections.
long long channel_trace_bytes(long long trace);

// Bytes one station channel holds through a scanned day for templates of m samples, its day
// trace being trace samples: the block spectra and window norms (with the gap flags).
long long channel_length_bytes(long long trace, int m);

// Bytes a template of m samples holds while its batch is scanned (its spectrum and its samples
// in double), correlated with traces of trace samples.
long long template_bytes(int m, long long trace);

// Checks that the budget holds the scan of every event alone on one thread, with day files at
// the run's rate: the program, one conditioning or one event-day's detection, one thread's FFT
// buffers, and each of the event's templates and station channels at the full template length.
// Succeeds when it does, else fails with one line beginning "Error: " naming the first event
// that does not fit and the budget it would need.
Status check_memory_budget(const Template_file& control, long long budget);

// The message of a run stopped because a budget of budget bytes cannot hold need bytes for what.
std::string budget_too_small(long long budget, long long need, const std::string& what);
