// Whether a miniSEED file is whole: a download cut off in its last record still reads, record
// by record, as a shorter file would, so completeness is checked apart from reading.
#pragma once

#include <string>

#include "control/outcome.h"

// Reads every record header of the miniSEED file at path with libmseed (no samples decoded)
// and compares the bytes the records take with the file's size. Succeeds when the records
// cover the whole file; fails with a one-line reason when the file cannot be read, holds
// something that is not a miniSEED record, or ends within a record (libmseed reports a cut last
// record as plain end of file).
Status check_mseed_whole(const std::string& path);
