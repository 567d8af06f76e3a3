// Running vemlo for vemlo-batch: one chunk, or the fetch of the templates' day files before
// the chunks start.
#pragma once

#include <string>

#include "batch/work_dir.h"
#include "control/outcome.h"

// vemlo, installed beside the running program.
std::string vemlo_beside_me();

// Why a chunk's run of vemlo cannot be trusted: its console text must end with the run-time
// line and hold no line saying that a results file could not be opened or written. Fails with
// the reason.
Status check_chunk_log(const std::string& console);

// Runs vemlo on one chunk's control file from the base directory, its console output going to
// the chunk's log, with OMP_NUM_THREADS set to threads when threads > 0. The chunk is marked
// done, with the identity of the plan it ran under, only when vemlo exited with status 0, its
// log is complete (check_chunk_log), every event's results file is there, and the mark was
// written and flushed. Prints "Chunk N done." or why it failed (the reason is also appended to
// the log, when it can be) and fails with that reason.
Status run_chunk(const Batch_work& work, const Template_file& control, const Chunk& chunk,
                 int threads);

// When the control file allows downloads, chunks running at the same time could fetch the same
// day file at once. This runs vemlo --templates-only once, so that it fetches every
// template's day file before any chunk starts (its log: prefetch/log.txt in the work directory).
// Fails after printing a message.
Status prefetch_templates(const Batch_work& work, const Template_file& control);
