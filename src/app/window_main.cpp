// vemlo-window: conditioned windows of a run's waveforms on request (for vemlo-report's
// waveform pictures).
#include <iostream>
#include <string>

#include "app/band_check.h"
#include "app/window_requests.h"
#include "control/template_file.h"

namespace {

const char usage[] =
    "Usage: vemlo-window CONTROL_FILE < REQUESTS > ANSWERS\n"
    "\n"
    "Prints conditioned waveforms of the run of CONTROL_FILE, one answer line per request line\n"
    "(fields separated by tabs):\n"
    "  template EVENT K NETWORK STATION LOCATION CHANNEL\n"
    "      the K-th template of EVENT, as vemlo makes it\n"
    "  window NETWORK STATION LOCATION CHANNEL START SECONDS\n"
    "      the channel's day trace as vemlo's scan conditions it, from START (epoch seconds)\n"
    "      for SECONDS\n"
    "Answers: 'data', the first sample's epoch seconds, samples per second and the samples\n"
    "(separated by blanks); or 'none' and why, where there is no data. Day files are read (and\n"
    "downloaded when the control file allows it) as vemlo does, each once.\n"
    "Exit status: 0 when every request was answered, 1 for a control file or request that is\n"
    "refused (nothing is answered then).\n";

}  // namespace

int main(int argc, char** argv) {
    const std::string argument = argc == 2 ? argv[1] : "";
    if (argument == "--help") {
        std::cout << usage;
        return 0;
    }
    if (argc != 2 || argument.empty()) {
        std::cerr << usage;
        return 1;
    }
    const Outcome<Template_file> control = read_temp_file(argument);
    if (!control.ok()) {
        std::cerr << "vemlo-window: " << control.error << "\n";
        return 1;
    }
    for (const auto& check : {check_settings, check_band}) {
        if (Status status = check(*control.value); !status.ok()) {
            std::cerr << "vemlo-window: " << *status.error << "\n";
            return 1;
        }
    }
    const auto requests = read_window_requests(std::cin, *control.value);
    if (!requests.ok()) {
        std::cerr << "vemlo-window: " << requests.error << "\n";
        return 1;
    }
    // Reading and downloading print on standard output; the answers alone go there.
    std::ostream answers(std::cout.rdbuf());
    std::cout.rdbuf(std::cerr.rdbuf());
    answer_window_requests(*requests.value, *control.value, answers, std::cerr);
    answers.flush();
    std::cout.rdbuf(answers.rdbuf());
    if (!answers) {
        std::cerr << "vemlo-window: cannot write the answers\n";
        return 1;
    }
    return 0;
}
