#include "control/quoted.h"

#include <cstdio>

std::string quoted(const std::string& text, char quote) {
    std::string out(1, quote);
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + quote;
}
