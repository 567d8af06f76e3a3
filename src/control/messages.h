// Console texts of vemlo that another program reads back (vemlo-batch judges a chunk by its
// log): one definition for the side that writes them and the side that looks for them.
#pragma once

// Begins the line vemlo prints when a results file cannot be opened.
inline constexpr char results_open_failure[] = "Unable to open output file";

// Begins the line vemlo prints when a results file could not be written completely.
inline constexpr char results_write_failure[] = "Unable to write output file";

// Begins the last line of every run that got to its end.
inline constexpr char run_time_line[] = "Run time: ~";
