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

// Bytes the scan takes whatever the batch: one event-day's stack, counts and MAD selection or
// the conditioning of one day trace (not at the same time), the FFT scratch buffers and the
// program itself. n is the number of samples of a day trace.
long long scan_base_bytes(long long n);

// Bytes of the conditioning of one day trace of n samples: the reader's block, the decoded day
// and its interpolated copy, which the band-pass filters in place. The scan conditions further
// traces at the same time only when the budget holds them.
long long conditioning_bytes(long long n);

// Bytes one station channel holds through a scanned day for templates of m samples: the block
// spectra and window norms (with the gap flags) of that length.
long long channel_length_bytes(long long n, int m);

// Bytes one station channel holds through a scanned day whatever its template lengths: its
// conditioned trace of n samples, kept for the measurements at the detections.
long long channel_trace_bytes(long long n);

// Bytes a template of m samples holds while its batch is scanned (its spectrum).
long long template_bytes(int m);

// Checks that the budget holds the scan of every event alone, counting each of its station
// channels at the full template length. Succeeds when it does, else fails with one line
// beginning "Error: " naming the first event that does not fit and the budget it would need.
Status check_memory_budget(const Template_file& control, long long budget);
