// The results directory at the start of a scan.
#pragma once

#include <string>

#include "control/outcome.h"
#include "control/template_file.h"

// Makes control.output_dir ready for a scan: creates it (and its parents), writes record into
// its run record (control/run_record.h), and creates or empties every event's results file and
// its channels file (which gets its header), as the scan only appends to them. Fails at the first
// of these that cannot be done, with one line beginning "Error: " that names the directory or file
// and the reason; nothing after it is done.
Status start_results(const Template_file& control, const std::string& record);
