// Whether the archive a run reads from is there.
#pragma once

#include "control/outcome.h"
#include "control/template_file.h"

// Succeeds when the control file has no pick (nothing is read), when downloads are allowed
// (missing day files are fetched into the archive, which is made as needed), or when the archive
// directory exists. Otherwise fails with "Error: line 26 of the control file: the archive
// directory "<dir>" does not exist ..." (or "is not a directory"): a mistyped archive would
// otherwise give no data for any pick.
Status check_archive(const Template_file& control);
