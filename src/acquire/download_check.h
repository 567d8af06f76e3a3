// Whether a finished download holds the whole answer of the data centre.
#pragma once

#include <string>

#include "control/outcome.h"

// Checks the file a download wrote against wget's report of it (wget run with --no-verbose
// --server-response, its messages in English, its report in wget_log): the file must be as long as
// the Content-Length of the last answer (when it gave one), the report must not say that the
// transfer ended early, and the file must be whole miniSEED (check_mseed_whole), which catches
// a chunked or close-delimited answer cut within a record. Fails with a one-line reason.
Status check_download_whole(const std::string& file, const std::string& wget_log);
