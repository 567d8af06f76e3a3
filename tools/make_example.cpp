// Writes the bundled example's synthetic waveform archive: three stations recording two days of
// band-limited noise at 100 samples per second, one template earthquake and several repeats of
// it at known times and amplitudes, with the same moveouts at every occurrence.
//
//   make_example ARCHIVE_DIR
//
// The archive is laid out as vemlo expects
// (<dir>/<STA>/<year>/<STA>.<NET>.<LOC>.<CHA>.<year>.<ddd>) and is the same on every run and
// machine: the noise comes from a fixed-seed generator implemented here.
#include <libmseed.h>

#include <sys/stat.h>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int rate = 100;
constexpr int day_samples = rate * 86400;
constexpr int year = 2024;
constexpr int first_doy = 100;
constexpr int days = 2;
constexpr double pi = 3.141592653589793;

struct Station {
    const char* code;
    double moveout;    // seconds after the first station's arrival
    double frequency;  // dominant frequency of its record of the earthquake, Hz
    double phase;
};
const Station stations[] = {
    {"VM01", 0.0, 3.0, 0.3}, {"VM02", 1.25, 4.5, 1.1}, {"VM03", 2.8, 6.0, 2.0}};

struct Occurrence {
    int doy;
    double seconds;    // first arrival (station VM01), seconds after midnight UTC
    double amplitude;  // relative to the template earthquake
};
// The first is the template earthquake itself; the rest are the repeats to be found.
const Occurrence occurrences[] = {{100, 11720.00, 1.0}, {100, 34867.50, 0.6}, {100, 61365.25, 1.2},
                                  {101, 5400.00, 0.8},  {101, 43932.12, 0.4}, {101, 82113.70, 1.0}};

// xorshift64* with Box-Muller: a normal deviate stream that is the same everywhere.
struct Noise {
    uint64_t state;
    double uniform() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return ((state * 2685821657736338717ULL) >> 11) * (1.0 / 9007199254740992.0);
    }
    double normal() {
        const double u1 = 1.0 - uniform();
        const double u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * pi * u2);
    }
};

// The earthquake as recorded at one station: a 10-second wave packet rising fast and decaying.
double earthquake(const Station& s, double t) {
    if (t < 0.0 || t > 10.0)
        return 0.0;
    const double envelope = (t / 0.8) * std::exp(1.0 - t / 0.8) + 0.3 * std::exp(-t / 3.0);
    return envelope * (std::sin(2.0 * pi * s.frequency * t + s.phase) +
                       0.5 * std::sin(2.0 * pi * 1.7 * s.frequency * t));
}

std::vector<int32_t> day_trace(const Station& s, int doy, uint64_t seed) {
    // Noise shaped by a two-pole resonator around 4 Hz, then scaled to about 300 counts.
    Noise noise{seed};
    const double r = 0.97, w = 2.0 * pi * 4.0 / rate;
    const double a1 = 2.0 * r * std::cos(w), a2 = -r * r;
    double y1 = 0.0, y2 = 0.0;
    std::vector<double> trace(day_samples);
    for (int i = 0; i < day_samples; ++i) {
        const double y = noise.normal() + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        trace[i] = 300.0 * 0.12 * y;
    }
    for (const Occurrence& o : occurrences) {
        if (o.doy != doy)
            continue;
        const double arrival = o.seconds + s.moveout;
        const int first = static_cast<int>(std::floor(arrival * rate));
        for (int i = std::max(first, 0); i < std::min(first + 11 * rate, day_samples); ++i) {
            trace[i] += 3000.0 * o.amplitude * earthquake(s, i / double(rate) - arrival);
        }
    }
    std::vector<int32_t> counts(day_samples);
    for (int i = 0; i < day_samples; ++i)
        counts[i] = static_cast<int32_t>(std::lround(trace[i]));
    return counts;
}

void write_record(char* record, int length, void* file) {
    std::fwrite(record, 1, static_cast<size_t>(length), static_cast<FILE*>(file));
}

bool write_day(const std::string& path, const Station& s, int doy, std::vector<int32_t>& counts) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mday = doy;
    MSRecord* msr = msr_init(nullptr);
    std::snprintf(msr->network, sizeof msr->network, "VM");
    std::snprintf(msr->station, sizeof msr->station, "%s", s.code);
    std::snprintf(msr->location, sizeof msr->location, "00");
    std::snprintf(msr->channel, sizeof msr->channel, "HHZ");
    msr->dataquality = 'D';
    msr->starttime = static_cast<hptime_t>(timegm(&tm)) * HPTMODULUS;
    msr->samprate = rate;
    msr->reclen = 4096;
    msr->encoding = DE_STEIM2;
    msr->byteorder = 1;
    msr->sampletype = 'i';
    msr->datasamples = counts.data();
    msr->numsamples = static_cast<int64_t>(counts.size());
    int64_t packed = 0;
    const int records = msr_pack(msr, write_record, out, &packed, 1, 0);
    msr->datasamples = nullptr;
    msr_free(&msr);
    // A record that failed to go out leaves the stream's error flag set; fclose alone would only
    // report the last flush.
    const bool written = std::ferror(out) == 0;
    return std::fclose(out) == 0 && written && records > 0 &&
           packed == static_cast<int64_t>(counts.size());
}

}  // namespace

const char usage[] =
    "Usage: make_example ARCHIVE_DIR\n"
    "Writes the bundled example's synthetic archive (three stations, two days of 2024 at 100\n"
    "samples per second, about 65 MB) into ARCHIVE_DIR and lists the earthquakes it holds.\n";

int main(int argc, char** argv) {
    const std::string root = argc == 2 ? argv[1] : "";
    if (root == "--help" || root == "-h") {
        std::fputs(usage, stdout);
        return 0;
    }
    // An option is no directory name: "--help" must not become a folder.
    if (argc != 2 || root.empty() || root[0] == '-') {
        if (argc == 2)
            std::fprintf(stderr, "make_example: unknown option %s\n", root.c_str());
        std::fputs(usage, stderr);
        return 1;
    }
    uint64_t seed = 0x9E3779B97F4A7C15ULL;
    for (const Station& s : stations) {
        const std::string dir = root + "/" + s.code + "/" + std::to_string(year);
        for (const std::string& part : {root, root + "/" + s.code, dir})
            mkdir(part.c_str(), 0777);
        for (int doy = first_doy; doy < first_doy + days; ++doy) {
            char name[64];
            std::snprintf(name, sizeof name, "/%s.VM.00.HHZ.%d.%03d", s.code, year, doy);
            std::vector<int32_t> counts = day_trace(s, doy, seed++);
            if (!write_day(dir + name, s, doy, counts)) {
                std::fprintf(stderr, "make_example: cannot write %s%s\n", dir.c_str(), name);
                return 1;
            }
            std::printf("wrote %s%s\n", dir.c_str(), name);
        }
    }
    std::printf("Earthquakes (first arrival at VM01, relative amplitude):\n");
    for (const Occurrence& o : occurrences) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mday = o.doy;
        const double epoch = static_cast<double>(timegm(&tm)) + o.seconds;
        std::printf("  %d day %d %9.2f s  epoch %.3f  amplitude %.1f\n", year, o.doy, o.seconds,
                    epoch, o.amplitude);
    }
    return 0;
}
