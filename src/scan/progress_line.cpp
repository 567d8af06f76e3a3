#include "scan/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iostream>

namespace {

constexpr std::chrono::milliseconds redraw_interval(250);

// Writes text to standard error unbuffered; a failing terminal is not worth stopping a run for.
void write_terminal(const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(2, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        written += static_cast<std::size_t>(n);
    }
}

// Columns of the terminal on standard error, 80 when it does not say.
int terminal_columns() {
    winsize size{};
    if (::ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::string clock_text(double seconds) {
    const long long s = static_cast<long long>(std::max(0.0, seconds) + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

void draw(Progress_line& line) {
    const auto now = std::chrono::steady_clock::now();
    std::string text = progress_text(line.what, line.done, line.total,
                                     std::chrono::duration<double>(now - line.start).count());
    // A line longer than the terminal would wrap, and "\r" would no longer reach its start.
    text.resize(std::min<std::size_t>(text.size(), terminal_columns() - 1));
    const int width = static_cast<int>(text.size());
    if (width < line.shown_width) {
        text.append(line.shown_width - width, ' ');
    }
    write_terminal("\r" + text);
    line.shown = true;
    line.shown_width = std::max(width, line.shown_width);
    line.last_draw = now;
}

void clear(Progress_line& line) {
    if (line.shown) {
        write_terminal("\r" + std::string(line.shown_width, ' ') + "\r");
        line.shown = false;
        line.shown_width = 0;
    }
}

// Before the program's own text reaches the terminal: wipe the line.
void before_text(Progress_line& line) {
    clear(line);
}

// After it: where the text ended a line, draw the line again below it.
void after_text(Progress_line& line, char last) {
    line.at_line_start = last == '\n';
    if (line.at_line_start && line.active) {
        std::fflush(stdout);
        draw(line);
    }
}

// A stream buffer of std::cout or std::cerr while its text shares the terminal with the line.
class Wiping_buffer : public std::streambuf {
  public:
    Wiping_buffer(std::streambuf* target, Progress_line& line) : target_(target), line_(line) {}

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        before_text(line_);
        const int_type result = target_->sputc(traits_type::to_char_type(c));
        target_->pubsync();
        after_text(line_, traits_type::to_char_type(c));
        return result;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (n <= 0) {
            return 0;
        }
        before_text(line_);
        const std::streamsize result = target_->sputn(s, n);
        target_->pubsync();
        after_text(line_, s[n - 1]);
        return result;
    }
    int sync() override { return target_->pubsync(); }

  private:
    std::streambuf* target_;
    Progress_line& line_;
};

// Writes of the C stdio stream that stands in for stderr meanwhile.
ssize_t write_stderr(void* cookie, const char* text, std::size_t size) {
    Progress_line& line = *static_cast<Progress_line*>(cookie);
    if (size == 0) {
        return 0;
    }
    before_text(line);
    write_terminal(std::string(text, size));
    after_text(line, text[size - 1]);
    return static_cast<ssize_t>(size);
}

// Puts a wiping buffer in front of stream's own and returns it; the own one is kept in saved.
std::unique_ptr<std::streambuf> wrap(std::ostream& stream, std::streambuf*& saved,
                                     Progress_line& line) {
    stream.flush();
    auto wrapper = std::make_unique<Wiping_buffer>(stream.rdbuf(), line);
    saved = stream.rdbuf(wrapper.get());
    return wrapper;
}

}  // namespace

struct Progress_output {
    std::unique_ptr<std::streambuf> cout_wrap, cerr_wrap;
    std::streambuf* saved_cout = nullptr;
    std::streambuf* saved_cerr = nullptr;
    FILE* saved_stderr = nullptr;
};

Progress_line::Progress_line() = default;
Progress_line::~Progress_line() {
    progress_finish(*this);
}

std::string progress_text(const std::string& what, long long done, long long total,
                          double elapsed_seconds) {
    const long long percent = total > 0 ? done * 100 / total : 100;
    std::string text = what + " " + std::to_string(done) + " of " + std::to_string(total) + " (" +
                       std::to_string(percent) + "%), elapsed " + clock_text(elapsed_seconds) +
                       ", ";
    if (done <= 0) {
        return text + "time left ...";
    }
    const double left =
        elapsed_seconds * static_cast<double>(total - done) / static_cast<double>(done);
    return text + "about " + clock_text(left) + " left";
}

void progress_start(Progress_line& line, long long total, const std::string& what) {
    progress_finish(line);
    line.what = what;
    line.total = total;
    line.done = 0;
    line.at_line_start = true;
    line.start = std::chrono::steady_clock::now();
    line.active = total > 0 && ::isatty(2) == 1;
    if (!line.active) {
        return;
    }
    std::cout.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    line.output = std::make_unique<Progress_output>();
    Progress_output& out = *line.output;
    if (::isatty(1) == 1) {
        out.cout_wrap = wrap(std::cout, out.saved_cout, line);
    }
    out.cerr_wrap = wrap(std::cerr, out.saved_cerr, line);
    // C stdio's stderr is a variable that glibc lets a program replace.
    cookie_io_functions_t functions{nullptr, write_stderr, nullptr, nullptr};
    if (FILE* wiping = ::fopencookie(&line, "w", functions)) {
        std::setvbuf(wiping, nullptr, _IONBF, 0);
        out.saved_stderr = stderr;
        stderr = wiping;
    }
    draw(line);
}

void progress_advance(Progress_line& line, long long units) {
    if (!line.active) {
        return;
    }
    line.done = std::clamp(line.done + units, 0LL, line.total);
    const auto now = std::chrono::steady_clock::now();
    if (line.done < line.total && now - line.last_draw < redraw_interval) {
        return;
    }
    // In the middle of a line of text the line waits for the text's line end.
    if (line.at_line_start) {
        draw(line);
    }
}

void progress_finish(Progress_line& line) {
    line.active = false;
    if (line.output) {
        Progress_output& out = *line.output;
        if (out.saved_cout != nullptr) {
            std::cout.flush();
            std::cout.rdbuf(out.saved_cout);
        }
        if (out.saved_cerr != nullptr) {
            std::cerr.rdbuf(out.saved_cerr);
        }
        if (out.saved_stderr != nullptr) {
            FILE* wiping = stderr;
            stderr = out.saved_stderr;
            std::fclose(wiping);
        }
        line.output.reset();
    }
    clear(line);
}
