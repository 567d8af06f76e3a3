// How a function that can fail says so. It returns a Status (nothing else to return) or an
// Outcome<T> (a value on success); both are [[nodiscard]] and hold the message for the user when
// the call failed (one line, no line end). Library code never ends the process: the program's
// main turns a failure into its message and exit status.
#pragma once

#include <optional>
#include <string>
#include <utility>

struct [[nodiscard]] Status {
    std::optional<std::string> error;  // set when the call failed

    bool ok() const { return !error.has_value(); }
};

// The Status of a call that succeeded.
inline Status success() {
    return {};
}

// The Status of a call that failed with message.
inline Status failure(std::string message) {
    return {std::move(message)};
}

template <typename T>
struct [[nodiscard]] Outcome {
    std::optional<T> value;  // set when the call succeeded
    std::string error;       // the message when it failed

    bool ok() const { return value.has_value(); }
};

// The Outcome of a call that succeeded with value.
template <typename T>
Outcome<T> succeeded(T value) {
    return {std::optional<T>(std::move(value)), std::string()};
}

// The Outcome of a call that failed with message.
template <typename T>
Outcome<T> failed(std::string message) {
    return {std::nullopt, std::move(message)};
}
