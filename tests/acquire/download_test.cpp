// Downloads through the real wget, with a local stand-in for the data centre as its proxy.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "acquire/day_file.h"
#include "acquire/get_data.h"
#include "support/mseed_writer.h"
#include "support/synthetic_archive.h"
#include "support/temp_dir.h"

TEST(Download, ThroughWgetFromTheStandIn) {
    Temp_dir tmp;
    const std::string log = tmp.path + "/log", port = tmp.path + "/port", day = tmp.path + "/day";
    const std::string script = std::string(VEMLO_TESTS_DIR) + "/acquire/fake_fdsn_server.py";
    write_mseed_int(day, {"XX", "ABC", "00", "HHZ", 100.0, day_start_us(2012, 65)},
                    synthetic_day(1, 5, {}));
    const char* argv[] = {"python3", script.c_str(), port.c_str(), log.c_str(),
                          "120",     day.c_str(),    nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    const std::shared_ptr<void> stop(nullptr, [pid](void*) {
        unsetenv("http_proxy");
        unsetenv("WGETRC");
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    });
    for (int i = 0; i < 200 && read_file(port).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(read_file(port), "") << "the stand-in did not start";
    write_file(tmp.path + "/wgetrc", "tries = 1\ntimeout = 20\nuse_proxy = on\n");
    setenv("WGETRC", (tmp.path + "/wgetrc").c_str(), 1);
    setenv("http_proxy", ("http://127.0.0.1:" + read_file(port) + "/").c_str(), 1);

    Template_file control;
    control.data_dir = tmp.path + "/my archive/";
    control.download_missing = control.keep_downloads = 1;
    control.sample_rate = 100;
    std::string out, requests;  // what find printed last; the requests downloads should make
    auto request = [&](const std::string& station, const std::string& loc, const char* d) {
        requests += std::string(fdsn_base_url()) +
                    "fdsnws/dataselect/1/query?net=XX&sta=" + station + "&loc=" + loc +
                    "&cha=HHZ&starttime=" + d + "T00:00:00&endtime=" + d + "T23:59:59.999 \n";
    };
    auto find = [&](const std::string& station, const std::string& location) {
        testing::internal::CaptureStdout();
        Day_file file = find_day_file(2012, 65, "XX", station, location, "HHZ", control);
        out = testing::internal::GetCapturedStdout();
        if (!out.empty())
            request(station, location, "2012-03-05");
        return file;
    };
    auto listing = [&](const std::string& station) {
        return run_program({"ls", "-A", control.data_dir + station + "/2012"}).out;
    };
    // Blanks, shell and URL characters stay data; the second call reads the archive.
    const std::string station = "S;touch P1`touch P2`$(touch P3)'\"|x#&y=%41";
    EXPECT_EQ(find(station, "00").outcome, Day_file_outcome::read_downloaded);
    EXPECT_EQ(out, "Downloading data.\n");
    EXPECT_EQ(read_file(control.data_dir + station + "/2012/" + station + ".XX.00.HHZ.2012.065"),
              read_file(day));
    EXPECT_EQ(find(station, "00").outcome, Day_file_outcome::read);
    EXPECT_EQ(access("P1", F_OK) + access("P2", F_OK) + access("P3", F_OK), -3);  // none ran
    // A window a millisecond before midnight (86400 as a float) also fetches the next day.
    control.keep_downloads = 0;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(
        is_not_found(get_data(2012, 65, 86399.999f, "XX", "ABC", "", "HHZ", 100, control)));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Downloading data.\nDownloading data.\nDeleting downloaded data (***NOT "
              "IMPLEMENTED***).\nDeleting downloaded data (***NOT IMPLEMENTED***).\n"
              "Interpolating...interpolated. Bandpassing...bandpassed.\n");
    request("ABC", "", "2012-03-05");
    request("ABC", "", "2012-03-06");
    // "--" is asked for as it stands, and the file is named with the empty code.
    EXPECT_EQ(find("DASH", "--").outcome, Day_file_outcome::read_downloaded);
    EXPECT_EQ(listing("DASH"), "DASH.XX..HHZ.2012.065\n");

    // No data and failures (reported) leave nothing behind, so the next call asks again.
    const std::string cut = " incomplete: ",
                      fail = " failed: the data centre answered HTTP/1.1 500 Internal Server Error";
    for (const std::string failing :
         {"EMPTY", "TINY", "NODATA", "CUT", "CHUNKED", "CLOSE", "NOTSEED", "FAIL"}) {
        const bool no_data = failing == "EMPTY" || failing == "TINY" || failing == "NODATA";
        const std::string why = no_data ? "" : failing == "FAIL" ? fail : cut;
        for (int call = 0; call < 2; ++call) {
            testing::internal::CaptureStderr();
            const Day_file file = find(failing, "00");
            const std::string err = testing::internal::GetCapturedStderr(), d = control.data_dir;
            const std::string path = day_file_path(d, "XX", failing, "00", "HHZ", 2012, 65);
            EXPECT_EQ(file.outcome, Day_file_outcome::not_found) << failing;
            EXPECT_EQ(file.download_failed, !why.empty()) << failing;
            const std::string notice = why.empty() ? "" : "Download of " + path + why;
            EXPECT_EQ(out.rfind("Downloading data.\n" + notice, 0), 0u) << out;
            EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), why.empty() ? 1 : 2) << out;
            const std::string missing = "No usable day file at " + path + " or " +
                                        sds_day_file_path(d, "XX", failing, "00", "HHZ", 2012, 65) +
                                        (why.empty() ? "; the data centre has no data for it\n"
                                                     : "; downloading it failed\n");
            EXPECT_EQ(err.substr(err.size() - std::min(err.size(), missing.size())), missing);
            EXPECT_EQ(listing(failing), "") << failing;
        }
    }
    EXPECT_EQ(find("WHOLECHUNKED", "00").outcome, Day_file_outcome::read_downloaded) << out;

    // Parts of killed downloads on this host are removed; a running one's or another host's stay.
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string gone = run_program({"sh", "-c", "printf $$"}).out;  // a process that ended
    const std::string left = control.data_dir + "LEFT/2012/LEFT.XX.00.HHZ.2012.065.part-";
    const std::string dead = left + host + "-" + gone + "-1";
    ASSERT_EQ(run_program({"mkdir", "-p", control.data_dir + "LEFT/2012"}).status, 0);
    const std::pair<std::string, int> parts[] = {
        {dead, -1},
        {dead + ".log", -1},
        {left + host + "-" + std::to_string(getpid()) + "-7", 0},
        {left + "other.host-1-1", 0}};
    for (const auto& part : parts)
        write_file(part.first, "x");
    EXPECT_EQ(find("LEFT", "00").outcome, Day_file_outcome::read_downloaded);
    for (const auto& [name, exists] : parts)
        EXPECT_EQ(access(name.c_str(), F_OK), exists) << name;

    // A run with a failed download says so at its end and exits 1; no data is no failure.
    const std::string templates =
        "quake\n2012 65 20 XX GOOD 00 HHZ 0\n2012 65 20 XX FAIL 00 HHZ 0\n"
        "2012 65 20 XX NODATA 00 HHZ 0\n";
    const Control run{"results",   "out", "2012 65 0",
                      "2012 65 0", "2",   "2 10",
                      "8",         "100", tmp.path + "/run archive/",
                      templates,   "1 1"};
    write_file(tmp.path + "/run.txt", control_text(run));
    const Run_result failed = run_program({VEMLO_BINARY, "run.txt"}, tmp.path);
    EXPECT_EQ(failed.status, 1) << failed.out;
    EXPECT_NE(failed.out.find("\nError: 1 day file(s) could not be downloaded (see the lines "
                              "above); what they hold is missing from the results: run vemlo "
                              "again to fetch them\n"),
              std::string::npos)
        << failed.out;
    EXPECT_NE(read_file(tmp.path + "/out/quake.txt").size(), 0u);  // GOOD's template was scanned
    for (const char* s : {"GOOD", "FAIL", "NODATA"})
        request(s, "00", "2012-03-05");
    request("GOOD", "00", "2012-03-06");  // the scan's positions up to midnight reach into it

    control.download_missing = 0;  // nothing fetched, nothing printed
    EXPECT_EQ(find("OTHER", "00").outcome, Day_file_outcome::not_found);
    EXPECT_EQ(out, "");
    EXPECT_EQ(read_file(log), requests);
}
