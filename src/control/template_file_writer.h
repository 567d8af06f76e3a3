// Writing a control record back to the positional control-file format.
#pragma once

#include <string>

#include "control/outcome.h"
#include "control/template_file.h"

// Whether a and b hold the same value in every member.
bool same_record(const Template_file& a, const Template_file& b);

// The control file text of t: the 37 setting lines (labels on the label lines) followed by the
// event blocks, which parse_template_file reads back into a record equal to t. Fails with a
// message beginning "Error: " when no text reads back to t: a directory lacks its final slash or
// has blanks around it, a text member holds a line break, a template code is empty or holds
// whitespace, an event name is one the reader refuses or an empty last name, pick_event does not
// number the events in order, or the per-template sequences differ in length.
Outcome<std::string> format_template_file(const Template_file& t);

// Writes format_template_file(t) to path, replacing the file. Fails with one line beginning
// "Error: " that names the file and the problem.
Status write_template_file(const Template_file& t, const std::string& path);
