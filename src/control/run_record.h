// The run record: a file in the results directory that says which run wrote the results.
#pragma once

#include <string>

#include "control/template_file.h"

// Its name in the results directory. No event may take it (see parse_template_file).
inline constexpr char run_record_file[] = "vemlo-run.txt";

// The control file's path as a run record keeps it: made absolute from the current directory,
// so that it tells where the file was wherever the record is read (as given when that fails).
std::string record_path(const std::string& filename);

// The text of the run record of a run of vemlo version on control, read from the control file
// control_path whose whole text is control_text:
//
//   vemlo run record
//   vemlo version: 0.2
//   control file: /home/me/quakes/control.txt
//   scan period: 2024-04-09 (2024 100) to 2024-04-10 (2024 101), 2 day(s)
//   MAD multiple: 9
//   control file text follows (1234 bytes):
//   <the control file, byte for byte>
//
// The MAD multiple is the shortest decimal that reads back to the run's value. A period whose
// last day is before its first has 0 days. Never fails.
std::string format_run_record(const std::string& version, const std::string& control_path,
                              const std::string& control_text, const Template_file& control);
