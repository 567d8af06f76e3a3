// Joining the chunks' results into the results files one vemlo run over the whole period
// would write.
#pragma once

#include <vector>

#include "batch/work_dir.h"
#include "control/outcome.h"

// Joins the chunks' results into output_dir, per event in file order and chunk by chunk, so that
// every results file and channels file (one header, then the chunks' rows) reads as one vemlo run
// over the whole period would leave it, and puts the batch's run record (record_run) beside them;
// run from work.base_dir. Nothing is written unless every chunk is done under the plan now in the
// work directory and has every event's results and channels files (a chunk marked done whose
// results are gone loses its mark). Every merged file is first written and flushed beside its final
// name; they are renamed into place only when all of them were. Returns the numbers of the chunks
// that are not done (empty: merged); fails, after removing what it wrote, when a merged file cannot
// be written.
Outcome<std::vector<int>> merge_chunks(const Batch_work& work, const Template_file& control,
                                       const std::vector<Chunk>& chunks);

// Prints where the merged results are, or which chunks failed (with their days and logs), or the
// write failure of merged. Returns the exit status for the command: 0 when everything was
// merged, 1 otherwise.
int report_merge(const Batch_work& work, const Template_file& control,
                 const std::vector<Chunk>& chunks, const Outcome<std::vector<int>>& merged);
