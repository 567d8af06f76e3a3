// vemlo-batch's work directory: "vemlo-batch/" inside the results directory, holding the plan,
// the user's control file and one folder per chunk (its control file, results, log and done
// mark).
#pragma once

#include <string>
#include <vector>

#include "batch/plan.h"
#include "control/outcome.h"
#include "control/template_file.h"

// Where one batch keeps its files. All directory paths end in '/'.
struct Batch_work {
    std::string base_dir;  // absolute; the directory the user ran vemlo-batch in
    std::string dir;       // absolute work directory, inside the results directory
    std::string relative;  // the work directory as seen from base_dir (output_dir + "vemlo-batch/")
};
Batch_work batch_work(const Template_file& control, const std::string& base_dir);
std::string chunk_dir(const Batch_work& work, int number);         // absolute
std::string chunk_output_dir(const Batch_work& work, int number);  // relative to base_dir
std::string chunk_log(const Batch_work& work, int number);         // absolute

// Whole content of a file ("" when it cannot be read).
std::string read_text(const std::string& path);

// Writes text beside path, flushes it to the disk and renames it into place, so that a reader
// never sees half a file and a full disk is never taken for success. Fails naming the file.
Status write_text(const std::string& path, const std::string& text);

// Makes the work directory of work, or makes sure that an existing folder of that name is one:
// empty, holding nothing but the lock, or holding a vemlo-batch plan file. Fails (naming the
// folder) for a folder of anything else, which vemlo-batch leaves alone.
Status claim_work_dir(const Batch_work& work);

// Makes the claimed work directory ready for the plan (plan_text of the control file's text,
// the days per chunk and the base directory): when the plan differs from the one recorded
// there, or none is recorded, every done mark is dropped and the files of earlier plans that the
// new one does not use are removed (only names vemlo-batch makes), so the batch starts afresh.
// Then writes the plan, a copy of the control file and every chunk's control file. Fails with a
// one-line message.
Status prepare_work(const Batch_work& work, const std::string& control_text,
                    const Template_file& control, const std::vector<Chunk>& chunks,
                    int days_per_chunk);

// A work directory read back: the base directory, the control record and the chunks.
struct Loaded_work {
    Batch_work work;
    Template_file control;
    std::vector<Chunk> chunks;
};

// Reads a work directory written by prepare_work back. Fails when dir holds no plan.
Outcome<Loaded_work> load_work(const std::string& dir);

// The identity (chunk_identity) of chunk number under the plan and chunk control file now in
// the work directory. Fails when either cannot be read.
Outcome<std::string> read_chunk_identity(const Batch_work& work, int number);

// Writes chunk number's done mark holding identity, flushed to the disk. Fails naming the mark.
Status mark_chunk_done(const Batch_work& work, int number, const std::string& identity);

// Removes chunk number's done mark. Fails when a mark is there and cannot be removed.
Status unmark_chunk(const Batch_work& work, int number);

// True when chunk number has a done mark that holds identity (a mark of another plan, or one
// cut short, does not count).
bool chunk_done(const Batch_work& work, int number, const std::string& identity);
