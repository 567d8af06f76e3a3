// Control-file text shown in messages.
#pragma once

#include <string>

// text between two quote characters, each control character written as \xNN so that a message
// stays on one line and shows what the file holds.
std::string quoted(const std::string& text, char quote = '"');
