// Writing a control record back to the positional control-file format.
#pragma once

#include <string>

#include "control/template_file.h"

// The control file text of t: the 37 setting lines (labels on the label lines) followed by the
// event blocks. parse_template_file reads the text back into a record equal to t whenever t can
// be written at all; it returns "" when it cannot: output_dir holds whitespace or lacks its
// final slash, data_dir lacks its final slash, a text member holds a line break, a template
// field of the template section is empty or holds whitespace, pick_event does not number the
// events in order, or the per-template sequences differ in length.
std::string format_template_file(const Template_file& t);

// Writes format_template_file(t) to path, replacing the file. Returns "" on success, otherwise
// one line beginning "Error: " that names the file and the problem (no line end).
std::string write_template_file(const Template_file& t, const std::string& path);
